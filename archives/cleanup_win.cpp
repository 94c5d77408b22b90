#include "archives/cleanup_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "archives/archive_files_win.h"
#include "archives/archive_format.h"
#include "launcher/launch_state.h"
#include "launcher/settings_codec.h"
#include "launcher/settings_table.h"
#include "launcher/settings_win.h"
#include "launcher/text.h"
#include "launcher/win_handles.h"
#include "ui/report.h"

namespace korvane {

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

namespace {

void waitForProcessEnd(int processId) {
    KernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId)));
    if (process) WaitForSingleObject(process.get(), 30000);
}

void deleteArchives(const void* data, std::size_t size, const char* folder) {
    ArchiveReader reader(data, size);
    ArchiveEntry entry;
    TextBuffer path{};
    // An unsafe name or a cut-short resource ends the walk: nothing is deleted through it.
    while (reader.next(entry) == ArchiveStatus::Entry) {
        if (path.text) {
            path.text[0] = '\0';
            path.length = 0;
        }
        appendText(&path, folder);
        appendText(&path, "\\");
        appendText(&path, entry.name);
        DeleteFileA(path.text);
    }
    releaseText(&path);
}

} // namespace

void removeExtractedArchives(int processId) {
    waitForProcessEnd(processId);

    HMODULE module = launchState.instanceHandle;
    char* modeText = loadStringSetting(module, id_extractionMode);
    const int mode = readInteger(modeText);
    std::free(modeText);

    const void* data = nullptr;
    std::size_t size = 0;
    if (!findArchiveResource(module, &data, &size)) return;

    // The ending launcher extracted relative to its own folder, whatever folder it or this
    // process was started in, so the relative folders are made absolute here.
    char launcherFolder[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, launcherFolder, sizeof launcherFolder);
    if (length == 0 || length >= sizeof launcherFolder) return;
    if (char* lastSlash = std::strrchr(launcherFolder, '\\')) *lastSlash = '\0';

    char* storedMainClass = loadStringSetting(module, id_mainClass);
    TextBuffer folder{};
    if (appendExtractionFolder(&folder, mode, storedMainClass, launcherFolder)) {
        deleteArchives(data, size, folder.text);
        RemoveDirectoryA(folder.text);
    } else {
        char* format = loadStringSetting(module, id_fileAccessMessage);
        reportErrorWithReason(format, "TEMP_PATH");
        std::free(format);
    }
    releaseText(&folder);
    std::free(storedMainClass);
}

} // namespace korvane
