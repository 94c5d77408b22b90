#include "jvm/jvm_create_win.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jni.h>

#include "jvm/capture_win.h"
#include "jvm/class_path_win.h"
#include "jvm/host_os.h"
#include "jvm/invocation.h"
#include "jvm/jvm_options.h"
#include "jvm/runtime_discovery_win.h"
#include "jvm/jvm_hooks_win.h"
#include "launcher/launch_state.h"
#include "launcher/run_flags.h"
#include "launcher/settings.h"
#include "ui/report.h"

namespace korvane {

JvmLibrary jvmLibrary;

namespace {

using CreateJavaVmFn = jint(JNICALL*)(JavaVM**, void**, void*);

bool detectPlatform() {
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) {
            reportErrorWithReason("Internal error RC0000040");
            return false;
        }
    }
    runFlags.runningOnWin9x = version.dwPlatformId != VER_PLATFORM_WIN32_NT;
    return true;
}

struct ConsoleSearch {
    const char* title;
    bool found;
};

BOOL CALLBACK hideConsoleWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<ConsoleSearch*>(parameter);
    char text[1025];
    GetWindowTextA(window, text, 1024);
    if (std::strcmp(text, search->title) != 0) return TRUE;
    ShowWindowAsync(window, SW_HIDE);
    search->found = true;
    return FALSE;
}

// Windows 9x gives a windowed process no console; the JVM's output needs one, kept hidden.
bool createHiddenConsole() {
    if (!LockWindowUpdate(GetDesktopWindow())) {
        reportErrorWithReason("Internal error RC0000022");
        return false;
    }
    AllocConsole();
    char title[32];
    wsprintfA(title, "kvc%u", static_cast<unsigned>(GetCurrentProcessId()));
    if (!SetConsoleTitleA(title)) {
        LockWindowUpdate(nullptr);
        reportErrorWithReason("Internal error RC0000025");
        return false;
    }
    Sleep(50);
    ConsoleSearch search{title, false};
    EnumWindows(hideConsoleWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        LockWindowUpdate(nullptr);
        reportErrorWithReason("Internal error RC0000026");
        return false;
    }
    LockWindowUpdate(nullptr);
    std::freopen("CONIN$", "r", stdin);
    std::freopen("CONOUT$", "a", stdout);
    std::freopen("CONOUT$", "a", stderr);
    return true;
}

// The runtime's bin folder (two levels above bin\server\jvm.dll) goes on the DLL search path, so
// that the libraries the JVM loads later by name (awt.dll and what they import) resolve from the
// runtime; it also takes the current folder off that path. SetDllDirectoryA is missing before
// Windows XP SP1, hence the lookup.
void useRuntimeDllFolder(const char* libraryPath) {
    char folder[MAX_PATH];
    std::strcpy(folder, libraryPath);
    for (int level = 0; level < 2; ++level) {
        char* slash = std::strrchr(folder, '\\');
        if (!slash) return;
        *slash = '\0';
    }
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
    const auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "SetDllDirectoryA")));
    if (setDllDirectory) setDllDirectory(folder);
}

} // namespace

bool createJvm() {
    if (!detectPlatform()) return false;
    if (!runFlags.runningOnWin9x) initializeCaptureLock();
    if (runFlags.runningOnWin9x) {
        if ((settings.stdoutMode != 0 || settings.stderrMode != 0 || runFlags.runningAsService) && !createHiddenConsole()) {
            return false;
        }
        installConsoleQuitHook();
    }
    if (settings.workingDirectoryFirst && !host::enterWorkingDirectory(true)) return false;

    char found[MAX_PATH];
    if (!findRuntimeLibrary(found)) {
        reportError(settings.runtimeNotFoundMessage);
        return false;
    }
    std::strcpy(jvmLibrary.libraryPath, found);
    useRuntimeDllFolder(jvmLibrary.libraryPath);
    // With an absolute path, the altered search order resolves jvm.dll's own imports from its
    // folder first instead of the launcher's.
    jvmLibrary.libraryHandle = LoadLibraryExA(jvmLibrary.libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!jvmLibrary.libraryHandle) {
        reportError(settings.jvmLoadMessage, jvmLibrary.libraryPath);
        return false;
    }
    auto create = reinterpret_cast<CreateJavaVmFn>(
        reinterpret_cast<void*>(GetProcAddress(jvmLibrary.libraryHandle, "JNI_CreateJavaVM")));
    FARPROC defaults = GetProcAddress(jvmLibrary.libraryHandle, "JNI_GetDefaultJavaVMInitArgs");
    if (!create || !defaults) {
        reportError(settings.jniInterfacesMessage, jvmLibrary.libraryPath);
        return false;
    }
    if (!assembleClassPath()) return false;

    const ArgumentList words = splitArguments(settings.jvmOptions, false);
    static JavaVMInitArgs initArgs;
    buildJvmInitArgs(words,
                     {reinterpret_cast<void*>(jvmVfprintfHook), reinterpret_cast<void*>(jvmAbortHook),
                      reinterpret_cast<void*>(jvmExitHook)},
                     initArgs);
    void* env = nullptr;
    if (create(&jvmSession.vm, &env, &initArgs) != JNI_OK) {
        reportWithCapturedOutput(settings.jvmCreateMessage, jvmLibrary.libraryPath);
        return false;
    }
    jvmSession.env = static_cast<JNIEnv*>(env);
    return true;
}

void releaseJvm() {
    jvmSession.vm->DetachCurrentThread();
    jvmSession.vm->DestroyJavaVM();
    FreeLibrary(jvmLibrary.libraryHandle);
}

} // namespace korvane
