#include "archives/cleanup_win.h"

#include <windows.h>

namespace korvane {

int archiveCount = 0;

void startArchiveCleanup() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    char commandLine[MAX_PATH + 64];
    wsprintfA(commandLine, "\"%s\" -kvremovetemporaryjarfiles %u", path, static_cast<unsigned>(GetCurrentProcessId()));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(path, commandLine, nullptr, nullptr, TRUE, DETACHED_PROCESS | CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW,
                       nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

} // namespace korvane
