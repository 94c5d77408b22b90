#include "archives/archive_files_win.h"

namespace korvane {

bool findArchiveResource(HMODULE module, const void** data, std::size_t* size) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(archiveResourceId), MAKEINTRESOURCEA(10));
    if (!resource) return false;
    *size = SizeofResource(module, resource);
    if (*size < 2) return false;
    HGLOBAL loaded = LoadResource(module, resource);
    *data = loaded ? LockResource(loaded) : nullptr;
    return *data != nullptr;
}

bool appendExtractionFolder(TextBuffer* folder, int mode, const char* storedMainClass, const char* base) {
    if (mode == 0 || mode == 1) {
        appendText(folder, base);
        if (mode == 0) return true;
        appendText(folder, "\\");
    } else {
        char temporary[MAX_PATH + 1];
        const DWORD length = GetTempPathA(sizeof temporary, temporary);
        if (length >= sizeof temporary) SetLastError(ERROR_BUFFER_OVERFLOW);
        if (length == 0 || length >= sizeof temporary) return false;
        appendText(folder, temporary);
    }
    appendText(folder, storedMainClass);
    return true;
}

} // namespace korvane
