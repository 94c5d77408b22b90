// The launcher's JNI call sequences against the real OpenJDK of this machine. Every JVM lives in
// a child process of its own (one JVM per process); the child writes what happened to files
// that the test reads.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jvm/invocation.h"
#include "jvm/jvm_options.h"
#include "launcher/run_flags.h"
#include "launcher/settings.h"
#include "launcher/settings_table.h"
#include "launcher/text.h"
#include "ui/message_format.h"
#include "ui/report.h"

using namespace korvane;

namespace {

std::string folder; // this test's scratch folder

std::string path(const char* name) { return folder + "/" + name; }

void appendTo(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::app | std::ios::binary) << text;
}

std::string readAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void record(const char* kind, const char* format, const char* argument) {
    char text[8192];
    formatMessage(format, argument, text, sizeof text);
    appendTo(path("reports"), std::string(kind) + ": " + text + "\n");
}

jint JNICALL vfprintfHook(FILE*, const char* format, va_list arguments) {
    char text[4096];
    const int written = std::vsnprintf(text, sizeof text, format, arguments);
    appendTo(path("vfprintf"), text);
    return written;
}

void JNICALL exitHook(jint code) {
    appendTo(path("reports"), "exit hook: " + std::to_string(code) + "\n");
    _exit(static_cast<int>(code));
}

void JNICALL abortHook() {
    appendTo(path("reports"), "abort hook\n");
    _exit(134);
}

void useTypicalSettings() {
#define KORVANE_TEXT_DEFAULT(field, text) settings.field = copyText(text);
#define KORVANE_DEFAULT_Text(field, text) KORVANE_TEXT_DEFAULT(field, text)
#define KORVANE_DEFAULT_Message(field, text) KORVANE_TEXT_DEFAULT(field, text)
#define KORVANE_DEFAULT_MessageArg(field, text) KORVANE_TEXT_DEFAULT(field, text)
#define KORVANE_DEFAULT_Flag(field, text) settings.field = text[0] != '0';
#define KORVANE_DEFAULT_Integer(field, text) settings.field = std::atoi(text);
#define KORVANE_DEFAULT_Hex(field, text) KORVANE_TEXT_DEFAULT(field, text) settings.field##Number = 0x00010008;
#define KORVANE_DEFAULT_Scrambled(field, text) settings.field = copyText("probe/Probe");
#define KORVANE_DEFAULT(id, field, type, text) KORVANE_DEFAULT_##type(field, text)
    KORVANE_SETTINGS(KORVANE_DEFAULT)
#undef KORVANE_DEFAULT
    settings.useStartDirectory = false;
}

struct Launch {
    std::string options;                 // JVM option words besides the class path
    std::vector<std::string> arguments;  // the command line
    std::function<void()> configure = nullptr;    // settings changes
    std::function<void()> whileRunning = nullptr; // run on a second thread while main runs
};

// In the child: creates the JVM from the option list the launcher builds, and runs main.
int launchInChild(const Launch& launch) {
    useTypicalSettings();
    if (launch.configure) launch.configure();
    void* library = dlopen(KORVANE_LIBJVM, RTLD_NOW);
    if (!library) return 20;
    using CreateFn = jint (*)(JavaVM**, void**, void*);
    auto create = reinterpret_cast<CreateFn>(dlsym(library, "JNI_CreateJavaVM"));
    const std::string text = launch.options + " \"-Djava.class.path=" KORVANE_PROBE_CLASSES "\" \"-Dprobe.result=" +
                             path("results") + "\"";
    const ArgumentList words = splitArguments(copyText(text.c_str()), false);
    JavaVMInitArgs args;
    buildJvmInitArgs(words, {reinterpret_cast<void*>(vfprintfHook), reinterpret_cast<void*>(abortHook),
                             reinterpret_cast<void*>(exitHook)},
                     args);
    void* env = nullptr;
    if (create(&jvmSession.vm, &env, &args) != JNI_OK) return 21;
    jvmSession.env = static_cast<JNIEnv*>(env);
    std::vector<char*> argv;
    for (const std::string& a : launch.arguments) argv.push_back(copyText(a.c_str()));
    std::thread second;
    if (launch.whileRunning) second = std::thread(launch.whileRunning);
    const bool ok = runMainClass(static_cast<int>(argv.size()), argv.data(), false);
    if (second.joinable()) second.join();
    if (!ok) return 1;
    jvmSession.vm->DetachCurrentThread();
    jvmSession.vm->DestroyJavaVM();
    appendTo(path("reports"), "destroyed\n");
    return 0;
}

struct Outcome {
    int exitCode = -1;
    std::string results, reports, vfprintf;
};

class RealJvm : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/korvane-jvmtest-XXXXXX";
        folder = mkdtemp(pattern);
    }
    void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }

    Outcome run(const Launch& launch) {
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) _exit(launchInChild(launch));
        int status = 0;
        waitpid(child, &status, 0);
        Outcome outcome;
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.results = readAll(path("results"));
        outcome.reports = readAll(path("reports"));
        outcome.vfprintf = readAll(path("vfprintf"));
        return outcome;
    }
};

} // namespace

// The launcher's state and reporting; reports are recorded to a file in the child.
namespace korvane {
LauncherSettings settings;
RunFlags runFlags;
volatile bool errorReportsEnabled = true;
void reportInfo(const char* format, const char* argument) { record("info", format, argument); }
void reportError(const char* format, const char* argument) {
    if (errorReportsEnabled) record("error", format, argument);
}
void reportLastError() {}
void reportErrorWithReason(const char* format, const char* argument) {
    if (errorReportsEnabled) record("error with reason", format, argument);
}
void reportErrorWithDetails(const char*, const char* format, const char* argument) { record("details", format, argument); }
void deliverMessage(MessageKind, const char*) {}
void reportWithCapturedOutput(const char* format, const char* argument) { record("captured", format, argument); }
} // namespace korvane

TEST_F(RealJvm, OptionsAndHooksCreateTheJvmAndMainGetsItsArguments) {
    // Stray blanks (from an INI file, say) make empty words, which must not reach the JVM.
    const Outcome o = run({" -Xmx64m  -Dkorvane.test=yes ", {"properties", "second word", "Zo\xC3\xAB-\xE6\x97\xA5\xE6\x9C\xAC"}});
    EXPECT_EQ(o.exitCode, 0) << o.reports << o.vfprintf;
    EXPECT_NE(o.results.find("args [properties] [second word] [Zo\xC3\xAB-\xE6\x97\xA5\xE6\x9C\xAC]\n"), std::string::npos)
        << o.results;
    EXPECT_NE(o.results.find("property korvane.test=yes\n"), std::string::npos) << o.results;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_NE(o.results.find(std::string("property user.dir=") + cwd + "\n"), std::string::npos) << o.results;
    EXPECT_NE(o.results.find("property korvane.exe.path=/"), std::string::npos) << o.results;
    EXPECT_NE(o.results.find("property korvane.csidl.appdata=null\n"), std::string::npos) << o.results;
    EXPECT_NE(o.reports.find("destroyed"), std::string::npos);
}

TEST_F(RealJvm, WithoutArgumentsMainGetsTheWordsOfAppOptions) {
    const Outcome o = run({"", {}, [] { settings.appOptions = copyText("none \"from app options\""); }});
    EXPECT_EQ(o.exitCode, 0) << o.reports;
    EXPECT_NE(o.results.find("args [none] [from app options]\n"), std::string::npos) << o.results;
}

TEST_F(RealJvm, BothStreamsToOneLogFileEmptiedAtLaunch) {
    const std::string log = path("app.log");
    std::ofstream(log) << "left over from the last launch\n";
    const Outcome o = run({"", {"print"}, [log] {
                               settings.stdoutMode = settings.stderrMode = 1;
                               settings.stdoutLogFile = copyText(log.c_str());
                               settings.stderrLogFile = copyText(log.c_str());
                           }});
    EXPECT_EQ(o.exitCode, 0) << o.reports;
    EXPECT_EQ(readAll(log), "to System.out\nto System.err\n");
}

TEST_F(RealJvm, SeparateLogFiles) {
    const Outcome o = run({"", {"print"}, [] {
                               settings.stdoutMode = settings.stderrMode = 1;
                               settings.stdoutLogFile = copyText(path("out.log").c_str());
                               settings.stderrLogFile = copyText(path("err.log").c_str());
                           }});
    EXPECT_EQ(o.exitCode, 0) << o.reports;
    EXPECT_EQ(readAll(path("out.log")), "to System.out\n");
    EXPECT_EQ(readAll(path("err.log")), "to System.err\n");
}

TEST_F(RealJvm, AnExceptionOutOfMainIsReportedAndDescribed) {
    const Outcome o = run({"", {"throw"}, [] {
                               settings.stderrMode = 1;
                               settings.stderrLogFile = copyText(path("err.log").c_str());
                           }});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.reports, "captured: Error invoking method: main(java/lang/String[])\n");
    EXPECT_NE(readAll(path("err.log")).find("java.lang.IllegalStateException: boom from main"), std::string::npos);
}

TEST_F(RealJvm, AMissingMainClassIsReportedInSlashForm) {
    const Outcome o = run({"", {}, [] { settings.mainClass = copyText("com/example/Missing"); }});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.reports, "captured: Error locating class: com/example/Missing\n");
}

TEST_F(RealJvm, SystemExitReachesTheExitHook) {
    const Outcome o = run({"", {"exit", "3"}});
    EXPECT_EQ(o.exitCode, 3);
    EXPECT_EQ(o.reports, "exit hook: 3\n");
}

TEST_F(RealJvm, AnUnrecognisedOptionArrivesThroughTheVfprintfHook) {
    const Outcome o = run({"-Xbogus", {}});
    EXPECT_EQ(o.exitCode, 21);
    EXPECT_NE(o.vfprintf.find("Unrecognized option: -Xbogus"), std::string::npos) << o.vfprintf;
}

TEST_F(RealJvm, DestroyWaitsForTheApplicationsThreads) {
    const Outcome o = run({"", {"thread", "500"}});
    EXPECT_EQ(o.exitCode, 0) << o.reports;
    EXPECT_NE(o.results.find("main returns\nworker done\n"), std::string::npos) << o.results;
    EXPECT_NE(o.reports.find("destroyed"), std::string::npos);
}

TEST_F(RealJvm, TheStopCallRunsMainAgainOnAnAttachedThread) {
    for (const std::uint32_t minimum : {0x00010005u, 0x00010008u, 0x00110000u}) {
        SCOPED_TRACE(minimum);
        const Outcome o = run({"", {"wait-stop"}, [minimum] {
                                   settings.minJavaVersionNumber = minimum;
                                   settings.serviceStopArguments = copyText("stop");
                               }, [] {
                                   while (readAll(path("results")).find("waiting") == std::string::npos) usleep(10000);
                                   const ArgumentList stop = splitArguments(settings.serviceStopArguments, false);
                                   if (!runMainClass(stop.count, stop.slots, true)) appendTo(path("reports"), "stop call failed\n");
                               }});
        EXPECT_EQ(o.exitCode, 0) << o.reports;
        EXPECT_NE(o.results.find("args [stop]\nthread Korvane stopper thread\n"), std::string::npos) << o.results;
        EXPECT_NE(o.results.find("stopped\n"), std::string::npos) << o.results;
        std::remove(path("results").c_str());
    }
}

TEST_F(RealJvm, CallSystemExitEndsThroughTheExitHookWithZero) {
    const Outcome o = run({"", {"wait-stop"}, nullptr, [] {
                               while (readAll(path("results")).find("waiting") == std::string::npos) usleep(10000);
                               callSystemExit();
                           }});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.reports, "exit hook: 0\n");
}
