// Drives the jvm.dll double the way the launcher does. One process holds one VM, and System.exit or
// DestroyJavaVM end it, so most cases run in a child: this program started with --launch is a small
// launcher whose hooks report on stdout.
#include <gtest/gtest.h>

#include <jni.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);

std::string exe_path() {
    char buf[MAX_PATH];
    GetModuleFileNameA(nullptr, buf, MAX_PATH);
    return buf;
}

std::string dll_path(const std::string& variant) {
    std::string exe = exe_path();
    return exe.substr(0, exe.rfind('\\')) + "\\" + variant + "\\jvm.dll";
}

std::string read_file(const std::string& name) {
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string text;
    if (h == INVALID_HANDLE_VALUE) return text;
    char buf[4096];
    DWORD n;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    CloseHandle(h);
    return text;
}

void write_file(const std::string& name, const std::string& text) {
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
}

std::string fresh_dir() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string dir = std::string(temp) + "korvane-jvm-double-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(counter++);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find('\n', i);
        if (j == std::string::npos) j = text.size();
        lines.push_back(text.substr(i, j - i));
        i = j + 1;
    }
    return lines;
}

// Each of wanted must be part of a line, in this order.
void expect_in_order(const std::string& what, const std::string& text, const std::vector<std::string>& wanted) {
    std::vector<std::string> lines = lines_of(text);
    size_t at = 0;
    for (const std::string& w : wanted) {
        while (at < lines.size() && lines[at].find(w) == std::string::npos) ++at;
        if (at == lines.size()) {
            ADD_FAILURE() << what << " lacks \"" << w << "\" (in this order); it holds:\n" << text;
            return;
        }
        ++at;
    }
}

std::string g_vfprintf_text;

void say(const std::string& s) {
    DWORD n;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &n, nullptr);
}

jint JNICALL vfprintf_hook(FILE*, const char* format, va_list ap) {
    char buf[1024];
    int n = vsnprintf(buf, sizeof buf, format, ap);
    g_vfprintf_text += buf;
    say(std::string("vfprintf: ") + buf);
    return n;
}

void JNICALL exit_hook(jint code) {
    say("launcher: exit hook " + std::to_string(code) + "\n");
    ExitProcess(static_cast<UINT>(code));
}

void JNICALL abort_hook() { say("launcher: abort hook\n"); }

// ---- the child: a small launcher ----

struct StopCall {
    JavaVM* vm;
    std::string log;
    std::string main_class;
};

jobjectArray string_array(JNIEnv* env, const std::vector<std::wstring>& values) {
    jclass string_class = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(values.size()), string_class, nullptr);
    for (size_t i = 0; i < values.size(); ++i) {
        jstring s = env->NewString(reinterpret_cast<const jchar*>(values[i].c_str()), static_cast<jsize>(values[i].size()));
        env->SetObjectArrayElement(array, static_cast<jsize>(i), s);
        env->DeleteLocalRef(s);
    }
    return array;
}

// The service stop: another thread attaches itself and calls main again, once main waits for it.
DWORD WINAPI stop_call(void* param) {
    auto call = static_cast<StopCall*>(param);
    while (read_file(call->log).find("waiting for main") == std::string::npos) Sleep(20);
    JNIEnv* env;
    JavaVMAttachArgs attach{JNI_VERSION_1_2, const_cast<char*>("stopper"), nullptr};
    call->vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &attach);
    jclass cls = env->FindClass(call->main_class.c_str());
    jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    env->CallStaticVoidMethod(cls, main, string_array(env, {L"stop"}));
    call->vm->DetachCurrentThread();
    return 0;
}

std::string ansi(const std::wstring& w) {
    char buf[2048];
    int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buf, sizeof buf, nullptr, nullptr);
    return std::string(buf, n > 0 ? static_cast<size_t>(n - 1) : 0);
}

// --launch VARIANT MODE [JVM OPTION...] -- [ARGUMENT...]; MODE is main, stop or unsupported.
int launch(int argc, wchar_t** argv) {
    HMODULE dll = LoadLibraryA(dll_path(ansi(argv[2])).c_str());
    if (!dll) {
        say("launcher: LoadLibraryA failed\n");
        return 2;
    }
    auto create = reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(GetProcAddress(dll, "JNI_CreateJavaVM")));
    std::wstring mode = argv[3];
    std::vector<std::string> texts;
    int i = 4;
    for (; i < argc && std::wstring(argv[i]) != L"--"; ++i) texts.push_back(ansi(argv[i]));
    std::vector<std::wstring> app_args(argv + (i < argc ? i + 1 : argc), argv + argc);
    std::vector<JavaVMOption> options = {{const_cast<char*>("vfprintf"), reinterpret_cast<void*>(vfprintf_hook)},
                                         {const_cast<char*>("exit"), reinterpret_cast<void*>(exit_hook)},
                                         {const_cast<char*>("abort"), reinterpret_cast<void*>(abort_hook)}};
    StopCall stop{nullptr, "", "com/example/Main"};
    for (std::string& t : texts) {
        options.push_back({t.data(), nullptr});
        if (t.rfind("-Dkorvane.double.main=", 0) == 0) stop.main_class = t.substr(22);
        if (t.rfind("-Dkorvane.double.log=", 0) == 0) stop.log = t.substr(21);
    }
    JavaVMInitArgs args{JNI_VERSION_1_2, static_cast<jint>(options.size()), options.data(), JNI_FALSE};
    JNIEnv* env;
    jint rc = create(&stop.vm, reinterpret_cast<void**>(&env), &args);
    if (rc != JNI_OK) {
        say("launcher: create failed " + std::to_string(rc) + "\n");
        return 1;
    }
    if (mode == L"unsupported") env->GetVersion();
    jclass cls = env->FindClass(stop.main_class.c_str());
    jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    jobjectArray array = string_array(env, app_args);
    if (mode == L"stop") CloseHandle(CreateThread(nullptr, 0, stop_call, &stop, 0, nullptr));
    env->CallStaticVoidMethod(cls, main, array);
    bool threw = env->ExceptionCheck();
    if (threw) env->ExceptionDescribe();
    stop.vm->DetachCurrentThread();
    stop.vm->DestroyJavaVM();
    say("launcher: destroyed\n");
    return threw ? 1 : 0;
}

// ---- the parent ----

std::wstring quote(const std::wstring& arg) {
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, L'\\');
    return q + L"\"";
}

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

struct Outcome {
    DWORD exit_code = 0;
    std::string output;  // stdout and stderr together
    std::string log;
};

Outcome run_child(const char* variant, const char* mode, const std::string& scenario,
                  const std::vector<std::wstring>& options, const std::vector<std::wstring>& app_args) {
    std::string dir = fresh_dir();
    write_file(dir + "\\scenario.txt", scenario);
    std::wstring command = quote(wide(exe_path())) + L" --launch " + wide(variant) + L" " + wide(mode) + L" " +
                           quote(wide("-Dkorvane.double.log=" + dir + "\\double.log")) + L" " +
                           quote(wide("-Dkorvane.double.scenario=" + dir + "\\scenario.txt"));
    for (const auto& o : options) command += L" " + quote(o);
    command += L" --";
    for (const auto& a : app_args) command += L" " + quote(a);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    std::string output_name = dir + "\\output.txt";
    HANDLE output = CreateFileA(output_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = output;
    PROCESS_INFORMATION pi{};
    Outcome outcome;
    BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(output);
    if (!started) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return outcome;
    }
    // Only a guard against a hung child, not a measurement.
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        ADD_FAILURE() << "the child hung";
    }
    GetExitCodeProcess(pi.hProcess, &outcome.exit_code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    outcome.output = read_file(output_name);
    outcome.log = read_file(dir + "\\double.log");
    return outcome;
}

struct LaunchCase {
    const char* label;
    const char* variant;
    const char* mode;
    const char* scenario;
    std::vector<std::wstring> options;
    std::vector<std::wstring> args;
    DWORD exit_code;
    std::vector<std::string> output;
    std::vector<std::string> log;
};

const LaunchCase kLaunchCases[] = {
    {"OptionsLoggedInOrder", "normal", "main", "print-property k\nout-repeat 2 10\nerr to stderr",
     {L"-Xmx64m", L"-Dk=v w"}, {}, 0,
     {"k=v w", "000000....\r", "000001....\r", "to stderr", "launcher: destroyed"},
     {"JNI_CreateJavaVM version=0x00010002 ignoreUnrecognized=false options=7", "option \"vfprintf\" extraInfo=yes",
      "option \"exit\" extraInfo=yes", "option \"abort\" extraInfo=yes", "option \"-Dkorvane.double.log=",
      "option \"-Dkorvane.double.scenario=", "option \"-Xmx64m\" extraInfo=no", "option \"-Dk=v w\" extraInfo=no",
      "working-set-peak ", "created", "jni FindClass com/example/Main",
      "jni GetStaticMethodID com/example/Main main ([Ljava/lang/String;)V",
      "jni CallStaticVoidMethodV com/example/Main main ([Ljava/lang/String;)V", "main thread=\"main\" args=[]",
      "main returned", "detach thread=\"main\"", "DestroyJavaVM", "shutdown", "DestroyJavaVM done"}},
    {"UnknownOptionRejectedThroughVfprintf", "normal", "main", "", {L"-Xfoo"}, {}, 1,
     {"vfprintf: Unrecognized option: -Xfoo", "launcher: create failed -1"},
     {"option \"-Xfoo\" extraInfo=no", "create-failed -1"}},
    {"MalformedHeapSizeRejected", "normal", "main", "", {L"-Xmxlots"}, {}, 1,
     {"vfprintf: Invalid maximum heap size: -Xmxlots", "launcher: create failed -6"}, {"create-failed -6"}},
    {"SystemExitReachesExitHook", "normal", "main", "out before\nexit 7\nout after", {}, {}, 7,
     {"before", "launcher: exit hook 7"}, {"action exit 7", "System.exit 7", "shutdown", "exit-hook 7"}},
    {"AbortReachesAbortHook", "normal", "main", "abort", {}, {}, 3, {"launcher: abort hook"}, {"abort", "abort-hook"}},
    {"ExceptionFromMainIsPendingAndDescribed", "normal", "main", "throw boom", {}, {}, 1,
     {"Exception in thread \"main\" java.lang.RuntimeException: boom", "\tat com.example.Main.main",
      "launcher: destroyed"},
     {"throw java.lang.RuntimeException: boom", "jni ExceptionCheck true", "jni ExceptionDescribe"}},
    {"DestroyJavaVMWaitsForNonDaemonThread", "normal", "main", "thread 300 from the thread", {}, {}, 0,
     {"from the thread", "launcher: destroyed"}, {"thread-end \"Thread-0\"", "DestroyJavaVM done"}},
    {"ArgumentsArriveIntact", "normal", "main", "", {L"-Dkorvane.double.main=org/demo/App"},
     {L"plain", L"two words", L"quote\" back\\", L"Grüße ✓ 𝄞"}, 0, {},
     {"jni FindClass org/demo/App",
      "main thread=\"main\" args=[\"plain\", \"two words\", \"quote\\\" back\\\\\", \"Grüße ✓ 𝄞\"]"}},
    {"StopCallEndsWaitingMain", "normal", "stop", "wait-main stop\nout stopped", {}, {}, 0,
     {"stopped", "launcher: destroyed"},
     {"waiting for main [stop]", "attach thread=\"stopper\" version=0x00010002 daemon=no",
      "main thread=\"stopper\" args=[\"stop\"]", "main matched wait-main"}},
    {"UnsupportedFunctionEndsProcess", "normal", "unsupported", "", {}, {}, 70,
     {"FAULT: unsupported JNI function 4"}, {"created", "FAULT: unsupported JNI function 4"}},
    {"FailCreateVariantFails", "fail_create", "main", "", {}, {}, 1,
     {"vfprintf: Error occurred during initialization of VM", "launcher: create failed -1"}, {"create-failed -1"}},
};

void PrintTo(const LaunchCase& c, std::ostream* os) { *os << c.label; }

class Launch : public testing::TestWithParam<LaunchCase> {};

TEST_P(Launch, BehavesAsHotSpot) {
    const LaunchCase& c = GetParam();
    Outcome o = run_child(c.variant, c.mode, c.scenario, c.options, c.args);
    EXPECT_EQ(o.exit_code, c.exit_code) << o.output;
    expect_in_order("the output", o.output, c.output);
    expect_in_order("the log", o.log, c.log);
    EXPECT_EQ(o.log.find("FAULT"), c.exit_code == 70 ? o.log.find("FAULT: unsupported") : std::string::npos) << o.log;
}

INSTANTIATE_TEST_SUITE_P(Cases, Launch, testing::ValuesIn(kLaunchCases),
                         [](const testing::TestParamInfo<LaunchCase>& i) { return std::string(i.param.label); });

TEST(Exports, EachVariantExportsItsEntryPoints) {
    struct Row {
        const char* variant;
        bool default_args;
    } rows[] = {{"normal", true}, {"no_default_args", false}, {"fail_create", true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.variant);
        HMODULE dll = LoadLibraryA(dll_path(r.variant).c_str());
        ASSERT_NE(dll, nullptr);
        EXPECT_NE(GetProcAddress(dll, "JNI_CreateJavaVM"), nullptr);
        EXPECT_EQ(GetProcAddress(dll, "JNI_GetDefaultJavaVMInitArgs") != nullptr, r.default_args);
    }
}

// ---- one VM in this process, created once ----

class InProcess : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fresh_dir();
        write_file(dir_ + "\\scenario.txt", "out to the new System.out\nerr to the new System.err\n");
        HMODULE dll = LoadLibraryA(dll_path("normal").c_str());
        ASSERT_NE(dll, nullptr);
        create_ = reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(GetProcAddress(dll, "JNI_CreateJavaVM")));
        std::string log = "-Dkorvane.double.log=" + dir_ + "\\double.log";
        std::string scenario = "-Dkorvane.double.scenario=" + dir_ + "\\scenario.txt";
        JavaVMOption options[] = {{const_cast<char*>("vfprintf"), reinterpret_cast<void*>(vfprintf_hook)},
                                  {log.data(), nullptr},
                                  {scenario.data(), nullptr}};
        JavaVMInitArgs args{JNI_VERSION_1_8, 3, options, JNI_FALSE};
        ASSERT_EQ(create_(&vm_, reinterpret_cast<void**>(&env_), &args), JNI_OK);
        set_stream("setOut", dir_ + "\\out.txt");
        set_stream("setErr", dir_ + "\\err.txt");
    }

    static void set_stream(const char* setter, const std::string& file) {
        jclass fos = env_->FindClass("java/io/FileOutputStream");
        jclass ps = env_->FindClass("java/io/PrintStream");
        jobject out = env_->NewObject(fos, env_->GetMethodID(fos, "<init>", "(Ljava/lang/String;Z)V"),
                                      env_->NewStringUTF(file.c_str()), JNI_FALSE);
        jobject print = env_->NewObject(ps, env_->GetMethodID(ps, "<init>", "(Ljava/io/OutputStream;)V"), out);
        jclass system = env_->FindClass("java/lang/System");
        env_->CallStaticVoidMethod(system, env_->GetStaticMethodID(system, setter, "(Ljava/io/PrintStream;)V"), print);
        ASSERT_FALSE(env_->ExceptionCheck());
    }

    static std::string log() { return read_file(dir_ + "\\double.log"); }

    static inline std::string dir_;
    static inline CreateJavaVM create_;
    static inline JavaVM* vm_;
    static inline JNIEnv* env_;
};

TEST_F(InProcess, FailedLookupLeavesNullAndPendingException) {
    size_t log_before = log().size();
    struct Row {
        const char* label;
        jobject (*call)(JNIEnv*);
        const char* described;
    } rows[] = {
        {"missing class", [](JNIEnv* e) -> jobject { return e->FindClass("com/example/Missing"); },
         "java.lang.NoClassDefFoundError: com/example/Missing"},
        {"dotted class name", [](JNIEnv* e) -> jobject { return e->FindClass("java.lang.String"); },
         "java.lang.NoClassDefFoundError: java.lang.String"},
        {"missing static method",
         [](JNIEnv* e) -> jobject {
             return reinterpret_cast<jobject>(e->GetStaticMethodID(e->FindClass("java/lang/System"), "exit", "(J)V"));
         },
         "java.lang.NoSuchMethodError: exit"},
        {"static method as instance method",
         [](JNIEnv* e) -> jobject {
             return reinterpret_cast<jobject>(e->GetMethodID(e->FindClass("java/lang/System"), "exit", "(I)V"));
         },
         "java.lang.NoSuchMethodError: exit"},
        {"file in a missing folder",
         [](JNIEnv* e) -> jobject {
             jclass fos = e->FindClass("java/io/FileOutputStream");
             std::string name = dir_ + "\\missing\\x.log";
             return e->NewObject(fos, e->GetMethodID(fos, "<init>", "(Ljava/lang/String;Z)V"),
                                 e->NewStringUTF(name.c_str()), JNI_FALSE);
         },
         "java.io.FileNotFoundException: "},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_EQ(r.call(env_), nullptr);
        EXPECT_TRUE(env_->ExceptionCheck());
        EXPECT_NE(env_->ExceptionOccurred(), nullptr);
        env_->ExceptionDescribe();
        EXPECT_FALSE(env_->ExceptionCheck());
        expect_in_order("System.err", read_file(dir_ + "\\err.txt"),
                        {std::string("Exception in thread \"main\" ") + r.described});
    }
    EXPECT_EQ(log().find("FAULT", log_before), std::string::npos);
}

TEST_F(InProcess, CallWithPendingExceptionIsLoggedAsFault) {
    env_->FindClass("com/example/Missing");
    env_->FindClass("java/lang/String");
    env_->ExceptionClear();
    expect_in_order("the log", log(),
                    {"jni FindClass com/example/Missing", "throw java.lang.NoClassDefFoundError: com/example/Missing",
                     "FAULT: FindClass called with a pending exception", "jni FindClass java/lang/String"});
}

TEST_F(InProcess, PrintsGoWhereSetOutAndSetErrPointed) {
    jclass app = env_->FindClass("com/example/Main");
    jclass string_class = env_->FindClass("java/lang/String");
    env_->CallStaticVoidMethod(app, env_->GetStaticMethodID(app, "main", "([Ljava/lang/String;)V"),
                               env_->NewObjectArray(0, string_class, nullptr));
    EXPECT_FALSE(env_->ExceptionCheck());
    EXPECT_EQ(read_file(dir_ + "\\out.txt"), "to the new System.out\r\n");
    expect_in_order("System.err", read_file(dir_ + "\\err.txt"), {"to the new System.err\r"});
}

TEST_F(InProcess, NonAsciiStringsSurviveIntoTheLog) {
    static const wchar_t kText[] = L"Grüße ✓ 𝄞";
    struct Row {
        const char* key;
        jstring (*make)(JNIEnv*);
    } rows[] = {
        {"from.utf16", [](JNIEnv* e) { return e->NewString(reinterpret_cast<const jchar*>(kText), 10); }},
        // Modified UTF-8: the supplementary character as two 3-byte surrogates.
        {"from.modified.utf8", [](JNIEnv* e) { return e->NewStringUTF("Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xED\xA0\xB4\xED\xB4\x9E"); }},
    };
    size_t log_before = log().size();
    jclass system = env_->FindClass("java/lang/System");
    jmethodID set_property =
        env_->GetStaticMethodID(system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key);
        jstring value = r.make(env_);
        EXPECT_EQ(env_->GetStringLength(value), 10);
        const char* chars = env_->GetStringUTFChars(value, nullptr);
        EXPECT_STREQ(chars, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xED\xA0\xB4\xED\xB4\x9E");
        env_->ReleaseStringUTFChars(value, chars);
        EXPECT_EQ(env_->CallStaticObjectMethod(system, set_property, env_->NewStringUTF(r.key), value), nullptr);
        expect_in_order("the log", log(), {std::string("property ") + r.key + "=Grüße ✓ 𝄞"});
    }
    EXPECT_EQ(log().find("FAULT", log_before), std::string::npos);
}

TEST_F(InProcess, SecondVmIsRefused) {
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    JavaVMInitArgs args{JNI_VERSION_1_2, 0, nullptr, JNI_FALSE};
    EXPECT_EQ(create_(&vm, reinterpret_cast<void**>(&env), &args), JNI_EEXIST);
    EXPECT_EQ(vm, nullptr);
    expect_in_order("the log", log(), {"create-failed -5"});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--launch") {
        int wargc;
        wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
        return launch(wargc, wargv);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
