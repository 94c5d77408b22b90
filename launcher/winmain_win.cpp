#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "archives/cleanup_win.h"
#include "archives/extract_win.h"
#include "jvm/invocation.h"
#include "jvm/jvm_create_win.h"
#include "launcher/launch_state.h"
#include "launcher/run_flags.h"
#include "launcher/settings_codec.h"
#include "launcher/settings_win.h"
#include "launcher/text.h"
#include "service/service_win.h"
#include "ui/report.h"
#include "ui/splash_win.h"

namespace korvane {

namespace {

constexpr char cleanupSwitch[] = "-kvremovetemporaryjarfiles";

void allowForegroundWindow() {
    // Looked up at run time: older systems lack the function. user32 is loaded already in a
    // windowed program, so no search path is involved.
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (!user32) return;
    using AllowSetForegroundWindowFn = BOOL(WINAPI*)(DWORD);
    auto allow = reinterpret_cast<AllowSetForegroundWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "AllowSetForegroundWindow")));
    if (allow) allow(GetCurrentProcessId());
}

// The settings are not loaded yet when these fail, so the message comes from the string table.
void reportFolderFailure(const char* argument) {
    char* format = loadStringSetting(launchState.instanceHandle, id_fileAccessMessage);
    reportErrorWithReason(format, argument);
    std::free(format);
}

bool recordStartupFolder() {
    const DWORD length = GetCurrentDirectoryA(sizeof launchState.startupFolder, launchState.startupFolder);
    if (length == 0 || length >= sizeof launchState.startupFolder) {
        launchState.startupFolder[0] = '\0';
        reportFolderFailure("CURRENT_DIR");
        return false;
    }
    return true;
}

bool enterLauncherFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        reportFolderFailure("CURRENT_EXE");
        return false;
    }
    if (char* lastSlash = std::strrchr(path, '\\')) *lastSlash = '\0';
    if (!SetCurrentDirectoryA(path)) {
        reportFolderFailure(path);
        return false;
    }
    return true;
}

// Refuses a second instance of the application. False when another one runs (reported).
bool holdInstanceMutex() {
    HANDLE existing = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, settings.mainClass);
    if (existing) {
        CloseHandle(existing);
        reportError(settings.alreadyRunningMessage);
        return false;
    }
    launchState.instanceMutex = CreateMutexA(nullptr, TRUE, settings.mainClass);
    // Another launch may have created it between the open and the create.
    if (launchState.instanceMutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(launchState.instanceMutex);
        launchState.instanceMutex = nullptr;
        reportError(settings.alreadyRunningMessage);
        return false;
    }
    return true;
}

} // namespace

int launcherMain(HINSTANCE instance, const char* commandLine) {
    launchState.instanceHandle = instance;
    launchState.outputMode = OutputMode::Windows;
    allowForegroundWindow();

    ArgumentList arguments = splitArguments(commandLine, true);
    if (arguments.count == 3 && std::strcmp(arguments.slots[1], cleanupSwitch) == 0) {
        removeExtractedArchives(readInteger(arguments.slots[2]));
        return 0;
    }
    if (arguments.count >= 2) launchState.firstArgument = arguments.slots[1];
    if (!recordStartupFolder()) return 0;
    enterLauncherFolder();
    loadSettings(instance);
    const char* first = launchState.firstArgument;
    if (!first || (std::strcmp(first, settings.installSwitch) != 0 && std::strcmp(first, settings.uninstallSwitch) != 0)) {
        extractArchives();
    }
    if (*settings.serviceName && dispatchServiceSwitch(arguments.count, arguments.slots)) return 0;

    if (!settings.allowMultipleInstances && !holdInstanceMutex()) return 0;
    if (settings.splashUntilWindow || settings.splashSeconds > 0) { // a negative time is no time
        startSplash();
        waitForSplashWindow();
    }

    if (!createJvm()) return -1;
    const bool ran = runMainClass(arguments.count - 1, arguments.slots + 1, false);
    if (ran) releaseJvm();
    if (launchState.instanceMutex) CloseHandle(launchState.instanceMutex);
    if (!ran) std::exit(-1);
    return 0;
}

} // namespace korvane

// The command line comes from GetCommandLineA, not from WinMain's argument: the C runtime's
// start-up code takes every byte above 0x7F for a blank while it skips the program name, and
// so cut the leading letters off a first argument such as "Ωμέγα" under the UTF-8 code page.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return korvane::launcherMain(instance, korvane::skipProgramName(GetCommandLineA()));
}
