// A test double of a Java runtime's jvm.dll: the JNI Invocation API and the part of the JNI function
// table a launcher uses, with HotSpot's behaviour where a launcher depends on it. The "application"
// is a scenario file; everything the double sees goes to a log file for the test to read.
//
// Options (besides vfprintf/exit/abort hooks, -D and the usual -X/-XX options):
//   -Dkorvane.double.log=FILE       append the log here (one line per event, written at once)
//   -Dkorvane.double.scenario=FILE  the actions main runs (UTF-8 text); none: main just returns
//   -Dkorvane.double.main=a/b/Name  the main class's name (default com/example/Main)
//
// Scenario: one action per line; blank lines and lines starting with # are skipped. TEXT is the rest
// of the line after one blank. Prints are println: UTF-8 with "\r\n", as Java writes on Windows.
//   out TEXT / err TEXT          System.out / System.err println
//   out-repeat N LEN             N lines of LEN characters: the line number in six digits, then dots
//   err-repeat N LEN             the same on System.err
//   jvm-message TEXT             TEXT and "\n" through the vfprintf hook
//   print-property KEY           println "KEY=value" (or "KEY=null") on System.out
//   throw TEXT                   main returns with a pending java.lang.RuntimeException(TEXT)
//   exit N                       System.exit(N)
//   abort                        the abort hook, then abort()
//   sleep MS
//   thread MS [TEXT]             a non-daemon thread that lives MS ms, then println TEXT on System.out
//   wait-main [ARG ...]          wait for another call of main with exactly these arguments
//                                (blank-separated); that call returns at once, this one goes on
//   window MS TITLE              a visible top-level window on a non-daemon thread, closed after MS ms
//   working-set                  log the peak working set
//
// Log lines:
//   JNI_CreateJavaVM version=0x00010002 ignoreUnrecognized=false options=N
//   option "TEXT" extraInfo=yes|no          each option, in order
//   option-ignored "TEXT"                   unrecognized, with ignoreUnrecognized true
//   working-set-peak BYTES                  at creation and for the working-set action
//   created | create-failed CODE
//   vfprintf "TEXT"                         each message the double prints through the hook
//   jni FUNCTION ARGS...                    each call of an implemented JNI function, by its own
//                                           name (the C++ wrappers of jni.h call NewObjectV etc.)
//   throw CLASS[: MESSAGE]                  each exception the double raises
//   property KEY=VALUE                      System.setProperty
//   main thread="NAME" args=["A", "B"]      each call of main; strings quoted, C-style escapes
//   main matched wait-main | main returned | waiting for main [ARGS]
//   action LINE                             each scenario action as it starts
//   thread-start "NAME" MS | thread-end "NAME" | window shown "TITLE" | window closed "TITLE"
//   window failed ERROR
//   attach thread="NAME" version=0x... daemon=yes|no | detach thread="NAME"
//   GetEnv version=0x... result=CODE
//   System.exit N | shutdown | exit-hook N | ExitProcess N | abort | abort-hook
//   DestroyJavaVM | DestroyJavaVM done
//   FAULT: WHAT                             a launcher mistake, just before the line of the call
//                                           that made it; also printed on stderr
// A call of a JNI function the double does not implement logs "FAULT: unsupported JNI function I"
// (I counts the table's slots from reserved0 = 0) and ends the process with exit code 70.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <windows.h>
#include <psapi.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr UINT kFaultExitCode = 70;

// ---- text ----

std::wstring widen(UINT code_page, const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::string to_modified_utf8(const std::wstring& w) {
    std::string s;
    for (wchar_t wc : w) {
        auto c = static_cast<unsigned>(wc);
        if (c != 0 && c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {  // NUL too: JNI strings carry it as C0 80
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {  // surrogates one by one, as modified UTF-8 demands
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

std::string quoted(const std::string& s) {
    std::string q = "\"";
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            q += '\\';
            q += ch;
        } else if (c == '\n') {
            q += "\\n";
        } else if (c == '\r') {
            q += "\\r";
        } else if (c == '\t') {
            q += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02x", c);
            q += buf;
        } else {
            q += ch;
        }
    }
    return q + "\"";
}

std::string hex_version(jint v) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(v));
    return buf;
}

// ---- log ----

HANDLE g_log = INVALID_HANDLE_VALUE;
SRWLOCK g_log_lock = SRWLOCK_INIT;

void log_line(const std::string& line) {
    if (g_log == INVALID_HANDLE_VALUE) return;
    std::string s = line + "\n";
    AcquireSRWLockExclusive(&g_log_lock);
    DWORD written;
    WriteFile(g_log, s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
    ReleaseSRWLockExclusive(&g_log_lock);
}

void write_handle(HANDLE h, const std::string& s) {
    DWORD written;
    if (h && h != INVALID_HANDLE_VALUE) WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

void fault(const std::string& what) {
    log_line("FAULT: " + what);
    write_handle(GetStdHandle(STD_ERROR_HANDLE), "jvm double: FAULT: " + what + "\n");
}

[[noreturn]] void fatal_fault(const std::string& what) {
    fault(what);
    TerminateProcess(GetCurrentProcess(), kFaultExitCode);
    ExitProcess(kFaultExitCode);
}

std::wstring from_modified_utf8(const char* s) {
    std::wstring w;
    auto p = reinterpret_cast<const unsigned char*>(s);
    auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    while (*p) {
        unsigned c = *p++;
        if (c < 0x80) {
            w += static_cast<wchar_t>(c);
        } else if ((c & 0xE0) == 0xC0 && cont(p[0])) {
            w += static_cast<wchar_t>(((c & 0x1F) << 6) | (p[0] & 0x3F));
            p += 1;
        } else if ((c & 0xF0) == 0xE0 && cont(p[0]) && cont(p[1])) {
            w += static_cast<wchar_t>(((c & 0x0F) << 12) | ((p[0] & 0x3Fu) << 6) | (p[1] & 0x3F));
            p += 2;
        } else {
            // A 4-byte sequence is standard UTF-8, which JNI does not take: a supplementary
            // character must come as two 3-byte surrogates.
            fault("NewStringUTF given bytes that are not modified UTF-8");
            w += L'\xFFFD';
            while (cont(*p)) ++p;
        }
    }
    return w;
}

// ---- Java objects ----

enum class Op { None, SetOut, SetErr, SetProperty, Exit, FileOutputStreamInit, PrintStreamInit, Main };

struct Klass;
struct Method {
    const Klass* owner;
    std::string name, sig;
    bool is_static;
    Op op;
};

enum class Kind { Class, String, Array, FileStream, PrintStream, Throwable };
struct Obj {
    explicit Obj(Kind k) : kind(k) {}
    Kind kind;
    const Klass* klass = nullptr;  // a Class: the class it stands for; an Array: the element class
    std::wstring text;             // a String; a Throwable's message
    bool has_text = false;
    std::vector<Obj*> items;
    HANDLE handle = INVALID_HANDLE_VALUE;
    Obj* target = nullptr;  // the OutputStream a PrintStream wraps
    std::string type;       // a Throwable's class, dotted
};

struct Klass {
    std::string name;
    std::deque<Method> methods;
    Obj* object = nullptr;
};

// A local reference. Never freed, so a stale one stays recognisable.
struct Ref {
    Obj* obj;
    DWORD thread;
    bool deleted;
};

struct ThreadState {
    JNIEnv env;  // first: a JNIEnv* is a ThreadState*
    DWORD id = 0;
    std::string name;
    bool daemon = false;
    bool attached = true;
    Obj* pending = nullptr;
};

thread_local ThreadState* t_current = nullptr;

using VfprintfHook = jint(JNICALL*)(FILE*, const char*, va_list);
using ExitHook = void(JNICALL*)(jint);
using AbortHook = void(JNICALL*)();

enum class VmState { None, Running, Destroyed };

struct Vm {
    JavaVM vm{};
    VfprintfHook vfprintf_hook = nullptr;
    ExitHook exit_hook = nullptr;
    AbortHook abort_hook = nullptr;
    std::deque<Klass> klasses;
    std::map<std::wstring, std::wstring> properties;
    std::vector<std::string> scenario;
    Obj* out = nullptr;
    Obj* err = nullptr;
    int non_daemon = 0;
    int next_thread_number = 0;
    bool waiting_main = false;
    std::vector<std::wstring> wait_args;
};

Vm g_vm;
VmState g_state = VmState::None;
SRWLOCK g_lock = SRWLOCK_INIT;  // guards g_vm's mutable parts and the thread states
CONDITION_VARIABLE g_changed = CONDITION_VARIABLE_INIT;
SRWLOCK g_print_lock = SRWLOCK_INIT;
std::set<const char*> g_utf_chars;

struct Lock {
    Lock() { AcquireSRWLockExclusive(&g_lock); }
    ~Lock() { ReleaseSRWLockExclusive(&g_lock); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

jobject new_ref(Obj* obj) {
    if (!obj) return nullptr;
    return reinterpret_cast<jobject>(new Ref{obj, GetCurrentThreadId(), false});
}

Obj* deref(jobject o, const char* fn) {
    if (!o) return nullptr;
    auto r = reinterpret_cast<Ref*>(o);
    if (r->deleted) fault(std::string(fn) + " given a deleted local reference");
    else if (r->thread != GetCurrentThreadId()) fault(std::string(fn) + " given a local reference of another thread");
    return r->obj;
}

std::string dotted(std::string name) {
    for (char& c : name)
        if (c == '/') c = '.';
    return name;
}

std::string describe(const Obj* t) {
    return t->has_text ? t->type + ": " + utf8(t->text) : t->type;
}

void throw_new(ThreadState* ts, const std::string& type, const std::wstring* message) {
    auto t = new Obj(Kind::Throwable);
    t->type = type;
    if (message) {
        t->text = *message;
        t->has_text = true;
    }
    ts->pending = t;
    log_line("throw " + describe(t));
}

void throw_new(ThreadState* ts, const std::string& type, const std::string& message) {
    std::wstring w = widen(CP_UTF8, message);
    throw_new(ts, type, &w);
}

HANDLE stream_handle(const Obj* stream) {
    while (stream && stream->kind == Kind::PrintStream) stream = stream->target;
    return stream ? stream->handle : INVALID_HANDLE_VALUE;
}

void java_print(Obj* stream, const std::wstring& text) {
    std::string bytes = utf8(text);
    AcquireSRWLockExclusive(&g_print_lock);
    write_handle(stream_handle(stream), bytes);
    ReleaseSRWLockExclusive(&g_print_lock);
}

Obj* system_stream(bool err) {
    Lock lock;
    return err ? g_vm.err : g_vm.out;
}

void println(bool err, const std::wstring& text) { java_print(system_stream(err), text + L"\r\n"); }

void jvm_print(const char* format, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    log_line("vfprintf " + quoted(buf));
    va_start(ap, format);
    if (g_vm.vfprintf_hook) {
        g_vm.vfprintf_hook(stderr, format, ap);
    } else {
        vfprintf(stderr, format, ap);
        fflush(stderr);
    }
    va_end(ap);
}

void log_working_set() {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc))
        log_line("working-set-peak " + std::to_string(pmc.PeakWorkingSetSize));
    else
        log_line("working-set-peak unknown (error " + std::to_string(GetLastError()) + ")");
}

// ---- threads ----

ThreadState* new_thread_state(const std::string& name, bool daemon) {
    auto ts = new ThreadState;
    ts->env.functions = nullptr;  // set by the caller, which knows the table
    ts->name = name;
    ts->daemon = daemon;
    Lock lock;
    if (!daemon) ++g_vm.non_daemon;
    return ts;
}

void end_thread(ThreadState* ts) {
    Lock lock;
    ts->attached = false;
    if (!ts->daemon) --g_vm.non_daemon;
    WakeAllConditionVariable(&g_changed);
}

std::string next_thread_name() {
    Lock lock;
    return "Thread-" + std::to_string(g_vm.next_thread_number++);
}

const JNINativeInterface_& native_interface();

ThreadState* attach_here(const std::string& name, bool daemon) {
    ThreadState* ts = new_thread_state(name, daemon);
    ts->env.functions = &native_interface();
    ts->id = GetCurrentThreadId();
    t_current = ts;
    return ts;
}

struct ThreadJob {
    ThreadState* ts;
    DWORD ms;
    std::wstring text;
    bool window;
};

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_TIMER) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void show_window(const ThreadJob& job) {
    static const wchar_t kClass[] = L"KorvaneJvmDoubleWindow";
    WNDCLASSW wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when a second window registers it again
    HWND hwnd = CreateWindowExW(0, kClass, job.text.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 200, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) {
        log_line("window failed " + std::to_string(GetLastError()));
        return;
    }
    log_line("window shown " + quoted(utf8(job.text)));
    SetTimer(hwnd, 1, job.ms, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    log_line("window closed " + quoted(utf8(job.text)));
}

DWORD WINAPI java_thread(void* param) {
    auto job = static_cast<ThreadJob*>(param);
    t_current = job->ts;
    job->ts->id = GetCurrentThreadId();
    log_line("thread-start " + quoted(job->ts->name) + " " + std::to_string(job->ms));
    if (job->window) {
        show_window(*job);
    } else {
        Sleep(job->ms);
        if (!job->text.empty()) println(false, job->text);
    }
    log_line("thread-end " + quoted(job->ts->name));
    end_thread(job->ts);
    delete job;
    return 0;
}

void start_java_thread(DWORD ms, const std::wstring& text, bool window) {
    // Counted before it starts, so DestroyJavaVM cannot miss it.
    auto job = new ThreadJob{new_thread_state(next_thread_name(), false), ms, text, window};
    job->ts->env.functions = &native_interface();
    HANDLE h = CreateThread(nullptr, 0, java_thread, job, 0, nullptr);
    if (h) {
        CloseHandle(h);
    } else {
        fault("CreateThread failed: " + std::to_string(GetLastError()));
        end_thread(job->ts);
    }
}

// ---- System ----

[[noreturn]] void system_exit(jint code) {
    log_line("System.exit " + std::to_string(code));
    log_line("shutdown");
    if (g_vm.exit_hook) {
        log_line("exit-hook " + std::to_string(code));
        g_vm.exit_hook(code);
    }
    log_line("ExitProcess " + std::to_string(code));
    ExitProcess(static_cast<UINT>(code));
}

[[noreturn]] void vm_abort() {
    log_line("abort");
    if (g_vm.abort_hook) {
        log_line("abort-hook");
        g_vm.abort_hook();
    }
    std::abort();
}

// ---- the application ----

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < s.size()) {
        size_t j = s.find(' ', i);
        if (j == std::string::npos) j = s.size();
        if (j > i) words.push_back(s.substr(i, j - i));
        i = j + 1;
    }
    return words;
}

DWORD number(const std::string& s) { return static_cast<DWORD>(strtoul(s.c_str(), nullptr, 10)); }

// Returns false when main ends with a pending exception.
bool run_action(ThreadState* ts, const std::string& line) {
    size_t blank = line.find(' ');
    std::string action = line.substr(0, blank);
    std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    std::vector<std::string> words = split(rest);
    auto arg = [&](size_t i) { return i < words.size() ? number(words[i]) : 0; };
    if (action == "out" || action == "err") {
        println(action == "err", widen(CP_UTF8, rest));
    } else if (action == "out-repeat" || action == "err-repeat") {
        for (DWORD i = 0; i < arg(0); ++i) {
            char digits[16];
            snprintf(digits, sizeof digits, "%06lu", static_cast<unsigned long>(i));
            std::string text = digits;
            text.resize(arg(1), '.');
            println(action == "err-repeat", widen(CP_UTF8, text));
        }
    } else if (action == "jvm-message") {
        jvm_print("%s\n", rest.c_str());
    } else if (action == "print-property") {
        std::wstring key = widen(CP_UTF8, rest), value = L"null";
        {
            Lock lock;
            auto it = g_vm.properties.find(key);
            if (it != g_vm.properties.end()) value = it->second;
        }
        println(false, key + L"=" + value);
    } else if (action == "throw") {
        throw_new(ts, "java.lang.RuntimeException", rest);
        return false;
    } else if (action == "exit") {
        system_exit(static_cast<jint>(strtol(rest.c_str(), nullptr, 10)));
    } else if (action == "abort") {
        vm_abort();
    } else if (action == "sleep") {
        Sleep(arg(0));
    } else if (action == "thread") {
        size_t text_at = rest.find(' ');
        start_java_thread(arg(0), text_at == std::string::npos ? L"" : widen(CP_UTF8, rest.substr(text_at + 1)), false);
    } else if (action == "window") {
        size_t title_at = rest.find(' ');
        start_java_thread(arg(0), title_at == std::string::npos ? L"" : widen(CP_UTF8, rest.substr(title_at + 1)), true);
    } else if (action == "wait-main") {
        Lock lock;
        g_vm.wait_args.clear();
        for (const auto& w : words) g_vm.wait_args.push_back(widen(CP_UTF8, w));
        g_vm.waiting_main = true;
        log_line("waiting for main [" + rest + "]");
        while (g_vm.waiting_main) SleepConditionVariableSRW(&g_changed, &g_lock, INFINITE, 0);
    } else if (action == "working-set") {
        log_working_set();
    } else {
        fault("scenario: unknown action " + quoted(line));
    }
    return true;
}

void run_main(ThreadState* ts, Obj* args) {
    std::vector<std::wstring> values;
    std::string shown;
    if (args && args->kind == Kind::Array) {
        for (Obj* item : args->items) {
            values.push_back(item && item->kind == Kind::String ? item->text : L"");
            shown += (shown.empty() ? "" : ", ") + (item ? quoted(utf8(item->text)) : std::string("null"));
        }
    }
    log_line("main thread=" + quoted(ts->name) + " args=[" + shown + "]");
    {
        Lock lock;
        if (g_vm.waiting_main && values == g_vm.wait_args) {
            g_vm.waiting_main = false;
            WakeAllConditionVariable(&g_changed);
            log_line("main matched wait-main");
            return;
        }
    }
    for (const std::string& line : g_vm.scenario) {
        log_line("action " + line);
        if (!run_action(ts, line)) return;
    }
    log_line("main returned");
}

// ---- the JNI function table ----

ThreadState* enter(JNIEnv* env, const char* fn, bool exception_safe = false) {
    auto ts = reinterpret_cast<ThreadState*>(env);
    if (!ts->attached) fault(std::string(fn) + " called on the JNIEnv of a detached thread");
    else if (ts->id != GetCurrentThreadId()) fault(std::string(fn) + " called with the JNIEnv of another thread");
    if (!exception_safe && ts->pending) fault(std::string(fn) + " called with a pending exception");
    return ts;
}

const Klass* find_klass(const std::string& name) {
    for (const Klass& k : g_vm.klasses)
        if (k.name == name) return &k;
    return nullptr;
}

const Method* method_of(jmethodID mid, const char* fn) {
    for (const Klass& k : g_vm.klasses)
        for (const Method& m : k.methods)
            if (reinterpret_cast<jmethodID>(const_cast<Method*>(&m)) == mid) return &m;
    fatal_fault(std::string(fn) + " given a jmethodID the double never returned");
}

const Klass* class_of(jclass cls, const char* fn) {
    Obj* c = deref(cls, fn);
    if (!c || c->kind != Kind::Class) fatal_fault(std::string(fn) + " given something that is not a class");
    return c->klass;
}

std::string call_text(const char* fn, const Klass* k, const Method* m) {
    return std::string("jni ") + fn + " " + k->name + " " + m->name + " " + m->sig;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    ThreadState* ts = enter(env, "FindClass");
    log_line(std::string("jni FindClass ") + (name ? name : "NULL"));
    if (!name) fatal_fault("FindClass given NULL");
    const Klass* k = find_klass(name);
    if (!k) {
        throw_new(ts, "java.lang.NoClassDefFoundError", name);
        return nullptr;
    }
    return static_cast<jclass>(new_ref(k->object));
}

jmethodID get_method(JNIEnv* env, jclass cls, const char* name, const char* sig, bool is_static, const char* fn) {
    ThreadState* ts = enter(env, fn);
    const Klass* k = class_of(cls, fn);
    log_line(std::string("jni ") + fn + " " + k->name + " " + (name ? name : "NULL") + " " + (sig ? sig : "NULL"));
    if (!name || !sig) fatal_fault(std::string(fn) + " given NULL");
    for (const Method& m : k->methods)
        if (m.name == name && m.sig == sig && m.is_static == is_static)
            return reinterpret_cast<jmethodID>(const_cast<Method*>(&m));
    throw_new(ts, "java.lang.NoSuchMethodError", name);
    return nullptr;
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return get_method(env, cls, name, sig, false, "GetMethodID");
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
    return get_method(env, cls, name, sig, true, "GetStaticMethodID");
}

jstring new_string(std::wstring text) {
    auto s = new Obj(Kind::String);
    s->text = std::move(text);
    s->has_text = true;
    return static_cast<jstring>(new_ref(s));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
    enter(env, "NewStringUTF");
    if (!bytes) {
        log_line("jni NewStringUTF NULL");
        return nullptr;
    }
    std::wstring text = from_modified_utf8(bytes);
    log_line("jni NewStringUTF " + quoted(utf8(text)));
    return new_string(std::move(text));
}

jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize len) {
    enter(env, "NewString");
    std::wstring text(reinterpret_cast<const wchar_t*>(chars), static_cast<size_t>(len));
    log_line("jni NewString " + quoted(utf8(text)));
    return new_string(std::move(text));
}

Obj* string_of(jobject o, const char* fn) {
    Obj* s = deref(o, fn);
    if (s && s->kind != Kind::String) fatal_fault(std::string(fn) + " given something that is not a String");
    return s;
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
    enter(env, "GetStringLength");
    log_line("jni GetStringLength");
    Obj* s = string_of(str, "GetStringLength");
    if (!s) fatal_fault("GetStringLength given NULL");
    return static_cast<jsize>(s->text.size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* is_copy) {
    enter(env, "GetStringUTFChars");
    log_line("jni GetStringUTFChars");
    Obj* s = string_of(str, "GetStringUTFChars");
    if (!s) fatal_fault("GetStringUTFChars given NULL");
    std::string bytes = to_modified_utf8(s->text);
    auto copy = static_cast<char*>(malloc(bytes.size() + 1));
    memcpy(copy, bytes.c_str(), bytes.size() + 1);
    if (is_copy) *is_copy = JNI_TRUE;
    Lock lock;
    g_utf_chars.insert(copy);
    return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring, const char* chars) {
    enter(env, "ReleaseStringUTFChars", true);
    log_line("jni ReleaseStringUTFChars");
    {
        Lock lock;
        if (!g_utf_chars.erase(chars)) chars = nullptr;
    }
    if (!chars) fatal_fault("ReleaseStringUTFChars given a pointer GetStringUTFChars did not return (or returned and was released)");
    free(const_cast<char*>(chars));
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize len, jclass cls, jobject init) {
    ThreadState* ts = enter(env, "NewObjectArray");
    const Klass* k = class_of(cls, "NewObjectArray");
    log_line("jni NewObjectArray " + std::to_string(len) + " " + k->name);
    if (len < 0) {
        throw_new(ts, "java.lang.NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    auto a = new Obj(Kind::Array);
    a->klass = k;
    a->items.assign(static_cast<size_t>(len), deref(init, "NewObjectArray"));
    return static_cast<jobjectArray>(new_ref(a));
}

Obj* array_of(jobject o, const char* fn) {
    Obj* a = deref(o, fn);
    if (!a || a->kind != Kind::Array) fatal_fault(std::string(fn) + " given something that is not an array");
    return a;
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    enter(env, "GetArrayLength");
    log_line("jni GetArrayLength");
    return static_cast<jsize>(array_of(array, "GetArrayLength")->items.size());
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    ThreadState* ts = enter(env, "SetObjectArrayElement");
    log_line("jni SetObjectArrayElement " + std::to_string(index));
    Obj* a = array_of(array, "SetObjectArrayElement");
    Obj* v = deref(value, "SetObjectArrayElement");
    if (index < 0 || static_cast<size_t>(index) >= a->items.size()) {
        throw_new(ts, "java.lang.ArrayIndexOutOfBoundsException",
                  "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->items.size()));
        return;
    }
    bool fits = !v || a->klass->name == "java/lang/Object" || (v->kind == Kind::String && a->klass->name == "java/lang/String");
    if (!fits) {
        throw_new(ts, "java.lang.ArrayStoreException", v->kind == Kind::Class ? "java.lang.Class" : "an object of another type");
        return;
    }
    a->items[static_cast<size_t>(index)] = v;
}

std::string error_text(DWORD error) {
    wchar_t* buf = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text = buf ? buf : L"error " + std::to_wstring(error);
    LocalFree(buf);
    // Java drops the trailing period and line break of the system's message.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.' || text.back() == L' '))
        text.pop_back();
    return utf8(text);
}

// A Java call's arguments: a va_list for the "..." and V functions, a jvalue array for the A ones.
struct Args {
    va_list* list;
    const jvalue* values;
    size_t next = 0;
    jobject object() { return values ? values[next++].l : va_arg(*list, jobject); }
    jint integer() { return values ? values[next++].i : va_arg(*list, jint); }
    bool boolean() { return values ? values[next++].z != 0 : va_arg(*list, int) != 0; }  // promoted to int
};

jobject new_file_output_stream(ThreadState* ts, Args& args, const char* fn) {
    Obj* name = string_of(args.object(), fn);
    bool append = args.boolean();
    if (!name) {
        throw_new(ts, "java.lang.NullPointerException", nullptr);
        return nullptr;
    }
    // Java opens a named pipe's existing server end instead of creating a file.
    bool pipe = name->text.compare(0, 9, L"\\\\.\\pipe\\") == 0;
    DWORD disposition = pipe ? OPEN_EXISTING : append ? OPEN_ALWAYS : CREATE_ALWAYS;
    HANDLE h = CreateFileW(name->text.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw_new(ts, "java.io.FileNotFoundException", utf8(name->text) + " (" + error_text(GetLastError()) + ")");
        return nullptr;
    }
    auto f = new Obj(Kind::FileStream);
    f->handle = h;
    return new_ref(f);
}

jobject new_object(JNIEnv* env, jclass cls, jmethodID mid, Args args, const char* fn) {
    ThreadState* ts = enter(env, fn);
    const Klass* k = class_of(cls, fn);
    const Method* m = method_of(mid, fn);
    log_line(call_text(fn, k, m));
    if (m->name != "<init>" || m->owner != k) fatal_fault(std::string(fn) + " given a method that is not a constructor of " + k->name);
    jobject result = nullptr;
    if (m->op == Op::FileOutputStreamInit) {
        result = new_file_output_stream(ts, args, fn);
    } else if (m->op == Op::PrintStreamInit) {
        Obj* target = deref(args.object(), fn);
        if (!target) {
            throw_new(ts, "java.lang.NullPointerException", "Null output stream");
        } else {
            auto p = new Obj(Kind::PrintStream);
            p->target = target;
            result = new_ref(p);
        }
    }
    return result;
}

jobject call_static(JNIEnv* env, jclass cls, jmethodID mid, Args args, const char* fn) {
    ThreadState* ts = enter(env, fn);
    const Klass* k = class_of(cls, fn);
    const Method* m = method_of(mid, fn);
    log_line(call_text(fn, k, m));
    if (!m->is_static) fatal_fault(std::string(fn) + " given an instance method");
    if (m->owner != k) fault(std::string(fn) + " given a method of " + m->owner->name + " with class " + k->name);
    switch (m->op) {
    case Op::SetOut:
    case Op::SetErr: {
        Obj* stream = deref(args.object(), fn);
        Lock lock;
        (m->op == Op::SetOut ? g_vm.out : g_vm.err) = stream;
        break;
    }
    case Op::SetProperty: {
        Obj* key = string_of(args.object(), fn);
        Obj* value = string_of(args.object(), fn);
        if (!key || !value) {
            if (key) throw_new(ts, "java.lang.NullPointerException", nullptr);
            else throw_new(ts, "java.lang.NullPointerException", "key can't be null");
            return nullptr;
        }
        log_line("property " + utf8(key->text) + "=" + utf8(value->text));
        std::wstring previous;
        bool had;
        {
            Lock lock;
            auto it = g_vm.properties.find(key->text);
            had = it != g_vm.properties.end();
            if (had) previous = it->second;
            g_vm.properties[key->text] = value->text;
        }
        return had ? new_string(previous) : nullptr;
    }
    case Op::Exit:
        system_exit(args.integer());
    case Op::Main:
        run_main(ts, deref(args.object(), fn));
        break;
    default:
        break;
    }
    return nullptr;
}

// The C++ JNIEnv wrappers in jni.h call the V functions, so those matter as much as the "..." ones.
#define KORVANE_CALL_FAMILY(Name, Result, impl, ret)                                        \
    Result JNICALL Name(JNIEnv* env, jclass cls, jmethodID mid, ...) {                     \
        va_list ap;                                                                        \
        va_start(ap, mid);                                                                 \
        auto r = impl(env, cls, mid, Args{&ap, nullptr}, #Name);                           \
        va_end(ap);                                                                        \
        ret;                                                                               \
    }                                                                                      \
    Result JNICALL Name##V(JNIEnv* env, jclass cls, jmethodID mid, va_list ap) {           \
        va_list copy;                                                                      \
        va_copy(copy, ap);                                                                 \
        auto r = impl(env, cls, mid, Args{&copy, nullptr}, #Name "V");                     \
        va_end(copy);                                                                      \
        ret;                                                                               \
    }                                                                                      \
    Result JNICALL Name##A(JNIEnv* env, jclass cls, jmethodID mid, const jvalue* values) { \
        auto r = impl(env, cls, mid, Args{nullptr, values}, #Name "A");                    \
        ret;                                                                               \
    }

KORVANE_CALL_FAMILY(NewObject, jobject, new_object, return r)
KORVANE_CALL_FAMILY(CallStaticObjectMethod, jobject, call_static, return r)
KORVANE_CALL_FAMILY(CallStaticVoidMethod, void, call_static, (void)r)

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    ThreadState* ts = enter(env, "ExceptionCheck", true);
    log_line(std::string("jni ExceptionCheck ") + (ts->pending ? "true" : "false"));
    return ts->pending ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    ThreadState* ts = enter(env, "ExceptionOccurred", true);
    log_line("jni ExceptionOccurred");
    return static_cast<jthrowable>(new_ref(ts->pending));
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
    ThreadState* ts = enter(env, "ExceptionDescribe", true);
    log_line("jni ExceptionDescribe");
    if (!ts->pending) return;
    std::wstring text = L"Exception in thread \"" + widen(CP_UTF8, ts->name) + L"\" " + widen(CP_UTF8, describe(ts->pending)) + L"\r\n";
    if (ts->pending->type == "java.lang.RuntimeException") {
        Lock lock;
        text += L"\tat " + widen(CP_UTF8, dotted(g_vm.klasses.back().name)) + L".main(Main.java)\r\n";
    }
    ts->pending = nullptr;  // the JNI specification: describing clears the exception
    java_print(system_stream(true), text);
}

void JNICALL ExceptionClear(JNIEnv* env) {
    ThreadState* ts = enter(env, "ExceptionClear", true);
    log_line("jni ExceptionClear");
    ts->pending = nullptr;
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject obj) {
    enter(env, "DeleteLocalRef", true);
    log_line("jni DeleteLocalRef");
    if (!obj) return;
    auto r = reinterpret_cast<Ref*>(obj);
    if (r->deleted) fault("DeleteLocalRef given a reference deleted before");
    r->deleted = true;
}

using AnyFunction = void (*)();

template <size_t I>
void JNICALL unsupported() {
    fatal_fault("unsupported JNI function " + std::to_string(I));
}

template <size_t... I>
std::array<AnyFunction, sizeof...(I)> unsupported_slots(std::index_sequence<I...>) {
    return {{reinterpret_cast<AnyFunction>(&unsupported<I>)...}};
}

JNINativeInterface_ make_native_interface() {
    static_assert(sizeof(JNINativeInterface_) % sizeof(AnyFunction) == 0);
    constexpr size_t slots = sizeof(JNINativeInterface_) / sizeof(AnyFunction);
    static const auto faulting = unsupported_slots(std::make_index_sequence<slots>());
    JNINativeInterface_ t;
    memcpy(&t, faulting.data(), sizeof t);
    t.FindClass = FindClass;
    t.GetMethodID = GetMethodID;
    t.GetStaticMethodID = GetStaticMethodID;
    t.NewStringUTF = NewStringUTF;
    t.NewString = NewString;
    t.GetStringLength = GetStringLength;
    t.GetStringUTFChars = GetStringUTFChars;
    t.ReleaseStringUTFChars = ReleaseStringUTFChars;
    t.NewObjectArray = NewObjectArray;
    t.SetObjectArrayElement = SetObjectArrayElement;
    t.GetArrayLength = GetArrayLength;
    t.NewObject = NewObject;
    t.NewObjectV = NewObjectV;
    t.NewObjectA = NewObjectA;
    t.CallStaticVoidMethod = CallStaticVoidMethod;
    t.CallStaticVoidMethodV = CallStaticVoidMethodV;
    t.CallStaticVoidMethodA = CallStaticVoidMethodA;
    t.CallStaticObjectMethod = CallStaticObjectMethod;
    t.CallStaticObjectMethodV = CallStaticObjectMethodV;
    t.CallStaticObjectMethodA = CallStaticObjectMethodA;
    t.ExceptionCheck = ExceptionCheck;
    t.ExceptionOccurred = ExceptionOccurred;
    t.ExceptionDescribe = ExceptionDescribe;
    t.ExceptionClear = ExceptionClear;
    t.DeleteLocalRef = DeleteLocalRef;
    return t;
}

const JNINativeInterface_& native_interface() {
    static const JNINativeInterface_ table = make_native_interface();
    return table;
}

// ---- the invocation interface ----

jint JNICALL DestroyJavaVM(JavaVM*) {
    log_line("DestroyJavaVM");
    ThreadState* ts = t_current && t_current->attached ? t_current : attach_here("DestroyJavaVM", false);
    {
        Lock lock;
        // HotSpot waits until the calling thread is the last non-daemon thread.
        int own = ts->daemon ? 0 : 1;
        while (g_vm.non_daemon > own) SleepConditionVariableSRW(&g_changed, &g_lock, INFINITE, 0);
        g_state = VmState::Destroyed;
    }
    log_line("shutdown");
    end_thread(ts);
    t_current = nullptr;
    log_line("DestroyJavaVM done");
    return JNI_OK;
}

jint attach(void** penv, void* vargs, bool daemon) {
    auto args = static_cast<JavaVMAttachArgs*>(vargs);
    std::string version = args ? hex_version(args->version) : "none";
    if (t_current && t_current->attached) {
        log_line("attach thread=" + quoted(t_current->name) + " version=" + version + " already attached");
        *penv = &t_current->env;
        return JNI_OK;
    }
    if (args && args->version < JNI_VERSION_1_2) {
        log_line("attach version=" + version + " result=JNI_EVERSION");
        return JNI_EVERSION;
    }
    std::string name = args && args->name ? args->name : next_thread_name();
    log_line("attach thread=" + quoted(name) + " version=" + version + " daemon=" + (daemon ? "yes" : "no"));
    *penv = &attach_here(name, daemon)->env;
    return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void* args) { return attach(penv, args, false); }

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM*, void** penv, void* args) { return attach(penv, args, true); }

jint JNICALL DetachCurrentThread(JavaVM*) {
    if (!t_current || !t_current->attached) {
        log_line("detach of a thread not attached");
        return JNI_OK;
    }
    log_line("detach thread=" + quoted(t_current->name));
    end_thread(t_current);
    t_current = nullptr;
    return JNI_OK;
}

bool supported_version(jint v) {
    return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
           v == JNI_VERSION_9 || v == JNI_VERSION_10;
}

jint JNICALL GetEnv(JavaVM*, void** penv, jint version) {
    jint result = JNI_OK;
    if (!t_current || !t_current->attached) {
        *penv = nullptr;
        result = JNI_EDETACHED;
    } else if (!supported_version(version) && version != JNI_VERSION_1_1) {
        *penv = nullptr;
        result = JNI_EVERSION;
    } else {
        *penv = &t_current->env;
    }
    log_line("GetEnv version=" + hex_version(version) + " result=" + std::to_string(result));
    return result;
}

const JNIInvokeInterface_ g_invoke_interface = {
    nullptr, nullptr, nullptr, DestroyJavaVM, AttachCurrentThread, DetachCurrentThread, GetEnv, AttachCurrentThreadAsDaemon,
};

// ---- creation ----

bool starts_with(const std::string& s, const char* prefix) { return s.compare(0, strlen(prefix), prefix) == 0; }

bool valid_size(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == 0) return false;
    return i == s.size() || (i + 1 == s.size() && strchr("kKmMgGtT", s[i]));
}

// 0: accepted; otherwise the message HotSpot prints for a malformed size.
const char* check_x_option(const std::string& o, bool* recognized) {
    static const char* const exact[] = {"-Xint", "-Xmixed", "-Xcomp", "-Xbatch", "-Xrs", "-Xnoclassgc", "-Xcheck:jni",
                                        "-Xdiag", "-Xdebug", "-Xusealtsigs", "-Xfuture"};
    static const char* const prefixes[] = {"-XX:", "-Xlog", "-Xshare:", "-Xverify", "-Xbootclasspath/a:", "-Xloggc:",
                                           "-Xrunjdwp:", "-Xmaxjitcodesize"};
    static const std::pair<const char*, const char*> sizes[] = {
        {"-Xmx", "Invalid maximum heap size"}, {"-Xms", "Invalid initial heap size"},
        {"-Xss", "Invalid thread stack size"}, {"-Xmn", "Invalid maximum new generation size"}};
    *recognized = true;
    for (auto [prefix, message] : sizes)
        if (starts_with(o, prefix)) return valid_size(o.substr(4)) ? nullptr : message;
    for (const char* e : exact)
        if (o == e) return nullptr;
    for (const char* p : prefixes)
        if (starts_with(o, p)) return nullptr;
    *recognized = false;
    return nullptr;
}

bool other_known_option(const std::string& o) {
    static const char* const prefixes[] = {"-ea", "-da", "-esa", "-dsa", "-enableassertions", "-disableassertions",
                                           "-enablesystemassertions", "-disablesystemassertions", "-verbose",
                                           "-javaagent:", "-agentlib:", "-agentpath:", "--add-opens=", "--add-exports=",
                                           "--add-reads=", "--add-modules=", "--enable-native-access=", "-Xlint"};
    for (const char* p : prefixes)
        if (starts_with(o, p)) return true;
    return false;
}

std::string read_text_file(const std::wstring& name, bool* ok) {
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string text;
    *ok = h != INVALID_HANDLE_VALUE;
    if (!*ok) return text;
    char buf[4096];
    DWORD n;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    CloseHandle(h);
    return text;
}

std::vector<std::string> scenario_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t i = starts_with(text, "\xEF\xBB\xBF") ? 3 : 0;
    while (i < text.size()) {
        size_t j = text.find('\n', i);
        if (j == std::string::npos) j = text.size();
        std::string line = text.substr(i, j - i);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') lines.push_back(line);
        i = j + 1;
    }
    return lines;
}

Obj* std_stream(DWORD which) {
    auto f = new Obj(Kind::FileStream);
    f->handle = GetStdHandle(which);
    auto p = new Obj(Kind::PrintStream);
    p->target = f;
    return p;
}

void define_classes(const std::string& main_class) {
    struct Row {
        const char* cls;
        const char* name;
        const char* sig;
        bool is_static;
        Op op;
    };
    static const Row methods[] = {
        {"java/lang/System", "setOut", "(Ljava/io/PrintStream;)V", true, Op::SetOut},
        {"java/lang/System", "setErr", "(Ljava/io/PrintStream;)V", true, Op::SetErr},
        {"java/lang/System", "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true, Op::SetProperty},
        {"java/lang/System", "exit", "(I)V", true, Op::Exit},
        {"java/io/FileOutputStream", "<init>", "(Ljava/lang/String;Z)V", false, Op::FileOutputStreamInit},
        {"java/io/PrintStream", "<init>", "(Ljava/io/OutputStream;)V", false, Op::PrintStreamInit},
        {"java/io/PrintStream", "<init>", "(Ljava/io/OutputStream;Z)V", false, Op::PrintStreamInit},
    };
    static const char* const classes[] = {"java/lang/Object", "java/lang/String", "java/lang/System",
                                          "java/lang/Thread", "java/lang/Runtime", "java/lang/Throwable",
                                          "java/lang/RuntimeException", "java/io/OutputStream",
                                          "java/io/FileOutputStream", "java/io/PrintStream"};
    for (const char* name : classes) {
        Klass& k = g_vm.klasses.emplace_back();
        k.name = name;
        for (const Row& r : methods)
            if (k.name == r.cls) k.methods.push_back({&k, r.name, r.sig, r.is_static, r.op});
    }
    Klass& app = g_vm.klasses.emplace_back();  // last: ExceptionDescribe names it
    app.name = main_class;
    app.methods.push_back({&app, "main", "([Ljava/lang/String;)V", true, Op::Main});
    for (Klass& k : g_vm.klasses) {
        k.object = new Obj(Kind::Class);
        k.object->klass = &k;
    }
}

std::string option_text(const JavaVMOption& o) { return o.optionString ? utf8(widen(CP_ACP, o.optionString)) : "NULL"; }

jint create(JavaVM** pvm, void** penv, JavaVMInitArgs* args) {
    *pvm = nullptr;
    *penv = nullptr;
    const std::string log_prefix = "-Dkorvane.double.log=";
    for (jint i = 0; args && i < args->nOptions; ++i) {
        std::string o = args->options[i].optionString ? args->options[i].optionString : "";
        if (starts_with(o, log_prefix.c_str()) && g_log == INVALID_HANDLE_VALUE)
            g_log = CreateFileW(widen(CP_ACP, o.substr(log_prefix.size())).c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (!args) return JNI_EINVAL;
    log_line("JNI_CreateJavaVM version=" + hex_version(args->version) + " ignoreUnrecognized=" +
             (args->ignoreUnrecognized ? "true" : "false") + " options=" + std::to_string(args->nOptions));
    if (g_state != VmState::None) return g_state == VmState::Running ? JNI_EEXIST : JNI_ERR;
    if (!supported_version(args->version)) return JNI_EVERSION;

    // In order, as HotSpot parses them: a message about an option comes before a hook named after it
    // goes to plain stderr.
    g_vm = Vm{};
    for (jint i = 0; i < args->nOptions; ++i) {
        const JavaVMOption& option = args->options[i];
        std::string o = option.optionString ? option.optionString : "";
        log_line("option " + quoted(option_text(option)) + " extraInfo=" + (option.extraInfo ? "yes" : "no"));
        bool recognized = true;
        if (o == "vfprintf") {
            g_vm.vfprintf_hook = reinterpret_cast<VfprintfHook>(option.extraInfo);
        } else if (o == "exit") {
            g_vm.exit_hook = reinterpret_cast<ExitHook>(option.extraInfo);
        } else if (o == "abort") {
            g_vm.abort_hook = reinterpret_cast<AbortHook>(option.extraInfo);
        } else if (starts_with(o, "-D")) {
            std::wstring w = widen(CP_ACP, o.substr(2));
            size_t eq = w.find(L'=');
            g_vm.properties[w.substr(0, eq)] = eq == std::wstring::npos ? L"" : w.substr(eq + 1);
        } else if (starts_with(o, "-X")) {
            if (const char* message = check_x_option(o, &recognized)) {
                jvm_print("%s: %s\n", message, o.c_str());
                return JNI_EINVAL;
            }
        } else {
            recognized = other_known_option(o);
        }
        if (recognized) continue;
        if (args->ignoreUnrecognized) {
            log_line("option-ignored " + quoted(option_text(option)));
            continue;
        }
        // Only this line: "Could not create the Java Virtual Machine" comes from the java
        // command, not from jvm.dll.
        jvm_print("Unrecognized option: %s\n", o.c_str());
        return JNI_ERR;
    }

    log_working_set();
#ifdef KORVANE_DOUBLE_FAIL_CREATE
    jvm_print("Error occurred during initialization of VM\n");
    jvm_print("Could not reserve enough space for object heap\n");
    return JNI_ERR;
#endif

    std::string main_class = "com/example/Main";
    auto main_it = g_vm.properties.find(L"korvane.double.main");
    if (main_it != g_vm.properties.end()) main_class = utf8(main_it->second);
    define_classes(main_class);
    auto scenario_it = g_vm.properties.find(L"korvane.double.scenario");
    if (scenario_it != g_vm.properties.end()) {
        bool ok;
        std::string text = read_text_file(scenario_it->second, &ok);
        if (!ok) fault("cannot read the scenario " + quoted(utf8(scenario_it->second)));
        g_vm.scenario = scenario_lines(text);
    }
    g_vm.out = std_stream(STD_OUTPUT_HANDLE);
    g_vm.err = std_stream(STD_ERROR_HANDLE);
    g_vm.vm.functions = &g_invoke_interface;
    ThreadState* ts = attach_here("main", false);
    g_state = VmState::Running;
    *pvm = &g_vm.vm;
    *penv = &ts->env;
    return JNI_OK;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    jint result = create(pvm, penv, static_cast<JavaVMInitArgs*>(args));
    log_line(result == JNI_OK ? std::string("created") : "create-failed " + std::to_string(result));
    return result;
}

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
    bool running = g_state == VmState::Running;
    if (count) *count = running ? 1 : 0;
    if (running && size > 0) vms[0] = &g_vm.vm;
    return JNI_OK;
}

#ifndef KORVANE_DOUBLE_NO_DEFAULT_ARGS
JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) { return JNI_ERR; }
#endif
}
