#include "jvm/invocation.h"

#include <cstring>

#include "jvm/host_os.h"
#include "launcher/run_flags.h"
#include "launcher/settings.h"
#include "launcher/text.h"
#include "ui/report.h"

namespace korvane {

JvmSession jvmSession;

namespace {

constexpr char mainSignature[] = "([Ljava/lang/String;)V";
constexpr char mainName[] = "main(java/lang/String[])";
constexpr char stopThreadName[] = "Korvane stopper thread";

bool fails(JNIEnv* env, const void* result) { return checkJavaException(env) || result == nullptr; }

// The result of a JNI call, or null after the failure was reported with the message given.
template <typename T>
T checked(JNIEnv* env, T result, const char* message, const char* argument) {
    if (!fails(env, result)) return result;
    reportError(message, argument);
    return nullptr;
}

jstring newString(JNIEnv* env, const char* text) {
    return checked(env, host::newJavaString(env, text), settings.instantiateMessage, "java/lang/String");
}

jclass findClass(JNIEnv* env, const char* name) {
    return checked(env, env->FindClass(name), settings.classNotFoundMessage, name);
}

bool setProperties(JNIEnv* env) {
    char text[261];
    if (!host::currentFolder(text, sizeof text)) {
        reportErrorWithReason(settings.fileAccessMessage, "CURRENT_DIR");
        return false;
    }
    if (!setSystemProperty(env, "user.dir", text)) return false;
    if (!host::executablePath(text, sizeof text)) {
        reportErrorWithReason(settings.fileAccessMessage, "CURRENT_EXE");
        return false;
    }
    if (!setSystemProperty(env, "korvane.exe.path", text)) return false;
    if (host::specialFolder(0x1A, text, sizeof text) && !setSystemProperty(env, "korvane.csidl.appdata", text)) return false;
    if (host::specialFolder(0x1C, text, sizeof text) && !setSystemProperty(env, "korvane.csidl.local.appdata", text)) {
        return false;
    }
    return true;
}

// Sets up log files and the capture channel; false only for a failure that ends the launch.
bool prepareStreams(JNIEnv* env) {
    if (!redirectStandardStreams(env, settings.stdoutMode == 1 ? settings.stdoutLogFile : nullptr,
                                 settings.stderrMode == 1 ? settings.stderrLogFile : nullptr)) {
        return false;
    }
    if (settings.stdoutMode != 2 && settings.stderrMode != 2) return true;
    if (!runFlags.runningOnWin9x && !host::openCapturePipe()) {
        settings.stdoutMode = settings.stderrMode = 0;
        return true;
    }
    const char* target = runFlags.runningOnWin9x ? host::consoleStreamName() : host::capturePipeName();
    // Capturing is optional: a failure here falls back quietly to no capture.
    errorReportsEnabled = false;
    const bool redirected = redirectStandardStreams(env, settings.stdoutMode == 2 ? target : nullptr,
                                                    settings.stderrMode == 2 ? target : nullptr);
    errorReportsEnabled = true;
    if (!redirected) {
        host::closeCapturePipe();
        settings.stdoutMode = settings.stderrMode = 0;
        return true;
    }
    if (!runFlags.runningOnWin9x && !host::startCaptureReader()) {
        reportErrorWithReason("Internal error RC000015");
        return false;
    }
    return true;
}

bool callMain(JNIEnv* env, int count, char** arguments) {
    if (!setProperties(env)) return false;
    jclass mainClass = env->FindClass(settings.mainClass);
    if (fails(env, mainClass)) {
        reportWithCapturedOutput(settings.classNotFoundMessage, settings.mainClass);
        return false;
    }
    jmethodID main = env->GetStaticMethodID(mainClass, "main", mainSignature);
    if (fails(env, main)) {
        reportWithCapturedOutput(settings.methodNotFoundMessage, mainName);
        return false;
    }
    ArgumentList defaults;
    if (count == 0) {
        defaults = splitArguments(settings.appOptions, false);
        count = defaults.count;
        arguments = defaults.slots;
    }
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array = stringClass ? env->NewObjectArray(count, stringClass, nullptr) : nullptr;
    if (fails(env, array)) {
        reportError(settings.instantiateMessage, "java/lang/String[]");
        return false;
    }
    for (int i = 0; i < count; ++i) {
        jstring argument = newString(env, arguments[i]);
        if (!argument) return false;
        env->SetObjectArrayElement(array, i, argument);
        if (checkJavaException(env)) {
            reportError(settings.stringArgumentMessage, arguments[i]);
            return false;
        }
    }
    env->CallStaticVoidMethod(mainClass, main, array);
    if (checkJavaException(env)) {
        reportWithCapturedOutput(settings.invokeMessage, mainName);
        return false;
    }
    return true;
}

JNIEnv* attachStopperThread() {
    JavaVMAttachArgs attach;
    // A JNI version, not a Java version: HotSpot ignores the thread's name unless the version
    // is one it knows (a Java version such as 1.5 or 17 is not).
    attach.version = JNI_VERSION_1_2;
    attach.name = const_cast<char*>(stopThreadName);
    attach.group = nullptr;
    void* env = nullptr;
    if (jvmSession.vm->AttachCurrentThread(&env, &attach) != JNI_OK || !env) {
        reportError(settings.attachThreadMessage);
        return nullptr;
    }
    return static_cast<JNIEnv*>(env);
}

} // namespace

bool checkJavaException(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

bool runMainClass(int count, char** arguments, bool stopCall) {
    if (stopCall) {
        JNIEnv* env = attachStopperThread();
        if (!env) return false;
        const bool ok = callMain(env, count, arguments);
        jvmSession.vm->DetachCurrentThread();
        return ok;
    }
    JNIEnv* env = jvmSession.env;
    if (!settings.workingDirectoryFirst && !host::enterWorkingDirectory(false)) return false;
    if (runFlags.runningAsService || runFlags.runningOnWin9x) host::addConsoleControlHandler();
    if (!prepareStreams(env)) return false;
    return callMain(env, count, arguments);
}

bool callSystemExit() {
    JNIEnv* env = attachStopperThread();
    if (!env) return false;
    bool ok = false;
    if (jclass system = findClass(env, "java/lang/System")) {
        if (jmethodID exit = checked(env, env->GetStaticMethodID(system, "exit", "(I)V"), settings.methodNotFoundMessage,
                                     "exit(int)")) {
            env->CallStaticVoidMethod(system, exit, 0);
            ok = !checkJavaException(env);
            if (!ok) reportError(settings.invokeMessage, "exit(int)");
        }
    }
    jvmSession.vm->DetachCurrentThread();
    return ok;
}

bool redirectStandardStreams(JNIEnv* env, const char* outTarget, const char* errTarget) {
    if (!outTarget && !errTarget) return true;
    jclass system = findClass(env, "java/lang/System");
    if (!system) return false;
    jobject out = nullptr;
    if (outTarget) {
        out = openPrintStream(env, outTarget);
        if (!out || !setSystemStream(env, system, out, "setOut")) return false;
    }
    if (errTarget) {
        // Equal targets share one print stream, so both streams write through one file handle.
        jobject err = out && std::strcmp(outTarget, errTarget) == 0 ? out : openPrintStream(env, errTarget);
        if (!err || !setSystemStream(env, system, err, "setErr")) return false;
    }
    return true;
}

jobject openPrintStream(JNIEnv* env, const char* target) {
    jstring name = newString(env, target);
    jclass fileStreamClass = name ? findClass(env, "java/io/FileOutputStream") : nullptr;
    if (!fileStreamClass) return nullptr;
    jmethodID fileStreamInit = checked(env, env->GetMethodID(fileStreamClass, "<init>", "(Ljava/lang/String;Z)V"),
                                       settings.methodNotFoundMessage, "java/io/FileOutputStream(String, boolean)");
    if (!fileStreamInit) return nullptr;
    // append false: a log file starts afresh at every launch.
    jobject fileStream = checked(env, env->NewObject(fileStreamClass, fileStreamInit, name, JNI_FALSE),
                                 settings.instantiateMessage, "java/io/FileOutputStream");
    jclass printStreamClass = fileStream ? findClass(env, "java/io/PrintStream") : nullptr;
    if (!printStreamClass) return nullptr;
    jmethodID printStreamInit = checked(env, env->GetMethodID(printStreamClass, "<init>", "(Ljava/io/OutputStream;)V"),
                                        settings.methodNotFoundMessage, "java/io/PrintStream(java/io/OutputStream)");
    if (!printStreamInit) return nullptr;
    return checked(env, env->NewObject(printStreamClass, printStreamInit, fileStream), settings.instantiateMessage,
                   "java/io/PrintStream");
}

bool setSystemStream(JNIEnv* env, jclass system, jobject stream, const char* method) {
    jmethodID set = checked(env, env->GetStaticMethodID(system, method, "(Ljava/io/PrintStream;)V"),
                            settings.methodNotFoundMessage, method);
    if (!set) return false;
    env->CallStaticVoidMethod(system, set, stream);
    if (checkJavaException(env)) {
        reportError(settings.invokeMessage, method);
        return false;
    }
    return true;
}

bool setSystemProperty(JNIEnv* env, const char* key, const char* value) {
    jstring javaKey = newString(env, key);
    jstring javaValue = javaKey ? newString(env, value) : nullptr;
    jclass system = javaValue ? findClass(env, "java/lang/System") : nullptr;
    if (!system) return false;
    jmethodID set = checked(env, env->GetStaticMethodID(system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;"),
                            settings.methodNotFoundMessage, "setProperty");
    if (!set) return false;
    env->CallStaticObjectMethod(system, set, javaKey, javaValue);
    if (checkJavaException(env)) {
        reportError(settings.invokeMessage, "setProperty");
        return false;
    }
    return true;
}

} // namespace korvane
