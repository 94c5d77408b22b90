#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "launcher/launch_state.h"
#include "launcher/settings_win.h"
#include "launcher/text.h"

namespace korvane {

LaunchState launchState;

namespace {

constexpr char cleanupSwitch[] = "-kvremovetemporaryjarfiles";

void allowForegroundWindow() {
    // Looked up at run time: older systems lack the function.
    HMODULE user32 = LoadLibraryExA("user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!user32) user32 = GetModuleHandleA("user32.dll");
    if (!user32) return;
    using AllowSetForegroundWindowFn = BOOL(WINAPI*)(DWORD);
    auto allow = reinterpret_cast<AllowSetForegroundWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "AllowSetForegroundWindow")));
    if (allow) allow(GetCurrentProcessId());
}

bool recordStartupFolder() {
    const DWORD length = GetCurrentDirectoryA(sizeof launchState.startupFolder, launchState.startupFolder);
    return length > 0 && length < sizeof launchState.startupFolder;
}

bool enterLauncherFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    char* lastSlash = std::strrchr(path, '\\');
    if (lastSlash) *lastSlash = '\0';
    return SetCurrentDirectoryA(path) != FALSE;
}

} // namespace

int launcherMain(HINSTANCE instance, const char* commandLine) {
    launchState.instanceHandle = instance;
    launchState.outputMode = OutputMode::Windows;
    allowForegroundWindow();

    ArgumentList arguments = splitArguments(commandLine, true);
    if (arguments.count == 3 && std::strcmp(arguments.slots[1], cleanupSwitch) == 0) {
        return 0;
    }
    if (arguments.count >= 2) launchState.firstArgument = arguments.slots[1];
    if (!recordStartupFolder()) return 0;
    enterLauncherFolder();
    loadSettings(instance);

    if (!settings.allowMultipleInstances) {
        HANDLE existing = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, settings.mainClass);
        if (existing) {
            CloseHandle(existing);
            return 0;
        }
        launchState.instanceMutex = CreateMutexA(nullptr, TRUE, settings.mainClass);
    }
    if (launchState.instanceMutex) CloseHandle(launchState.instanceMutex);
    return 0;
}

} // namespace korvane

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return korvane::launcherMain(instance, commandLine);
}
