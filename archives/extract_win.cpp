#include "archives/extract_win.h"

#include <windows.h>

#include <cstdlib>

#include "archives/archive_files_win.h"
#include "archives/archive_format.h"
#include "archives/cleanup_win.h"
#include "launcher/launch_state.h"
#include "launcher/settings.h"
#include "launcher/text.h"
#include "launcher/win_handles.h"
#include "ui/report.h"

namespace korvane {

int archiveCount = 0;

namespace {

bool isUpToDate(HANDLE file, const ArchiveEntry& entry, const FILETIME& entryTime) {
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file, &sizeHigh);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        reportErrorWithReason("Internal error RC000006");
        return false;
    }
    FILETIME written;
    return sizeHigh == 0 && size == entry.size && GetFileTime(file, nullptr, nullptr, &written) &&
           CompareFileTime(&written, &entryTime) == 0;
}

// False after reporting a failure that ends the extraction.
bool writeArchive(const char* path, const ArchiveEntry& entry) {
    FILETIME entryTime;
    entryTime.dwLowDateTime = static_cast<DWORD>(entry.time);
    entryTime.dwHighDateTime = static_cast<DWORD>(entry.time >> 32);
    {
        FileHandle existing(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (existing && isUpToDate(existing.get(), entry, entryTime)) return true;
    }
    FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        // Typically held open by another launcher of the same application, which uses it as it is.
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
        SetLastError(error);
        reportErrorWithReason(settings.fileWriteMessage, path);
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), entry.data, entry.size, &written, nullptr) || written != entry.size) {
        if (written != entry.size && GetLastError() == NO_ERROR) SetLastError(ERROR_WRITE_FAULT);
        reportErrorWithReason(settings.fileWriteMessage, path);
        return false;
    }
    if (!SetFileTime(file.get(), nullptr, nullptr, &entryTime)) {
        reportErrorWithReason(settings.fileWriteMessage, path);
        return false;
    }
    return true;
}

void joinToClassPath(const TextBuffer& archives) {
    archives.text[archives.length - 1] = '\0'; // the final ";"
    TextBuffer joined{};
    const char* configured = settings.classPath ? settings.classPath : "";
    appendText(&joined, configured);
    if (joined.length > 0 && configured[joined.length - 1] != ';') appendText(&joined, ";");
    appendText(&joined, archives.text);
    std::free(settings.classPath);
    settings.classPath = joined.text;
}

} // namespace

void extractArchives() {
    const void* data = nullptr;
    std::size_t size = 0;
    if (!findArchiveResource(launchState.instanceHandle, &data, &size)) return;
    ArchiveReader reader(data, size);
    archiveCount = static_cast<int>(reader.count());

    TextBuffer folder{};
    if (!appendExtractionFolder(&folder, settings.extractionMode, settings.mainClassStored, ".")) {
        reportErrorWithReason(settings.fileAccessMessage, "TEMP_PATH");
        return;
    }
    if (settings.extractionMode != 0) CreateDirectoryA(folder.text, nullptr);

    TextBuffer archives{};
    ArchiveEntry entry;
    ArchiveStatus status = ArchiveStatus::End;
    bool written = true;
    while (written && (status = reader.next(entry)) == ArchiveStatus::Entry) {
        // The path is formed in place at the end of the list, so no length limit applies to it.
        const std::uint32_t start = archives.length;
        appendText(&archives, folder.text);
        appendText(&archives, "\\");
        appendText(&archives, entry.name);
        written = writeArchive(archives.text + start, entry);
        appendText(&archives, ";");
    }
    if (written && status != ArchiveStatus::End) {
        // A resource no packaging run writes: a name that reaches outside the folder, or entries
        // running past its end. Nothing is written through it, and it fails like a write.
        SetLastError(status == ArchiveStatus::UnsafeName ? ERROR_INVALID_NAME : ERROR_INVALID_DATA);
        reportErrorWithReason(settings.fileWriteMessage, folder.text);
        written = false;
    }
    if (written && archives.length > 0) joinToClassPath(archives);
    releaseText(&archives);
    releaseText(&folder);
}

} // namespace korvane
