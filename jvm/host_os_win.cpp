// The operating-system layer of the JNI call sequences, for the launcher.
#include <windows.h>

#include <cstdlib>

#include "jvm/host_os.h"
#include "launcher/launch_state.h"
#include "launcher/settings.h"
#include "ui/report.h"

namespace korvane::host {

namespace {

BOOL WINAPI consoleControlHandler(DWORD event) { return event == CTRL_LOGOFF_EVENT ? TRUE : FALSE; }

bool enterFolder(const char* folder) {
    if (SetCurrentDirectoryA(folder)) return true;
    reportErrorWithReason(settings.fileAccessMessage, folder);
    return false;
}

} // namespace

bool enterWorkingDirectory(bool beforeJvm) {
    if (!beforeJvm && settings.useStartDirectory) return enterFolder(launchState.startupFolder);
    if (settings.workingDirectory[0] == '\0') return true;
    return enterFolder(settings.workingDirectory);
}

void addConsoleControlHandler() { SetConsoleCtrlHandler(consoleControlHandler, TRUE); }

bool currentFolder(char* out, std::size_t size) {
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(size), out);
    return length > 0 && length < size;
}

bool executablePath(char* out, std::size_t size) {
    const DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
    return length > 0 && length < size;
}

bool specialFolder(int csidl, char* out, std::size_t size) {
    if (size < MAX_PATH) return false;
    // Looked up at run time: the function is missing on the oldest systems.
    using GetFolderFn = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
    static GetFolderFn getFolder = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        if (HMODULE shell32 = LoadLibraryA("SHELL32.DLL")) {
            getFolder = reinterpret_cast<GetFolderFn>(reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetSpecialFolderPathA")));
        }
    }
    return getFolder && getFolder(nullptr, out, csidl, FALSE);
}

jstring newJavaString(JNIEnv* env, const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return env->NewStringUTF(text);
    auto* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * static_cast<std::size_t>(length)));
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, length);
    jstring result = env->NewString(reinterpret_cast<const jchar*>(wide), length - 1);
    std::free(wide);
    return result;
}

} // namespace korvane::host
