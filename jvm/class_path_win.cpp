#include "jvm/class_path_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "jvm/class_path.h"
#include "jvm/percent_expansion.h"
#include "jvm/runtime_discovery_win.h"
#include "launcher/settings.h"
#include "launcher/win_handles.h"
#include "ui/report.h"

namespace korvane {

namespace {

struct EnvironmentValue {
    char* text = nullptr;
    DWORD size = 0;
};

const char* environmentValue(const char* name, void* context) {
    auto* value = static_cast<EnvironmentValue*>(context);
    for (;;) {
        const DWORD length = GetEnvironmentVariableA(name, value->text, value->size);
        if (length == 0) return nullptr;
        if (length < value->size) return value->text;
        // Too small: length is the size the value needs, NUL included.
        std::free(value->text);
        value->size = length;
        value->text = static_cast<char*>(std::malloc(length));
    }
}

bool isFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void reportListingError(const char* message, DWORD error) {
    SetLastError(error);
    reportErrorWithReason(message);
}

// One entry of a listing of folder: a sub-folder is scanned at once, an archive is appended.
bool takeFoundEntry(TextBuffer* classPath, const char* folder, const WIN32_FIND_DATAA& found) {
    const char* name = found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return true;
        TextBuffer child;
        appendText(&child, folder);
        appendText(&child, "\\");
        appendText(&child, name);
        const bool scanned = scanArchiveFolder(classPath, child.text);
        releaseText(&child);
        return scanned;
    }
    if (isArchiveName(name)) {
        appendText(classPath, folder);
        appendText(classPath, "\\");
        appendText(classPath, name);
        appendText(classPath, ";");
    }
    return true;
}

bool scanTrimmedFolder(TextBuffer* classPath, const char* folder) {
    TextBuffer pattern;
    appendSearchPattern(&pattern, folder);
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern.text, &found));
    const DWORD firstError = GetLastError();
    releaseText(&pattern);
    if (!search) {
        if (firstError == ERROR_FILE_NOT_FOUND || firstError == ERROR_NO_MORE_FILES) return true;
        reportListingError("Internal error RC000001", firstError);
        return false;
    }
    do {
        if (!takeFoundEntry(classPath, folder, found)) return false;
    } while (FindNextFileA(search.get(), &found));
    const DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES) return true;
    reportListingError("Internal error RC000002", error);
    return false;
}

} // namespace

bool scanArchiveFolder(TextBuffer* classPath, const char* folder) {
    char* trimmed = copyText(folder);
    trimFolderSeparator(trimmed);
    const bool scanned = scanTrimmedFolder(classPath, trimmed);
    std::free(trimmed);
    return scanned;
}

char* expandPercentReferences(const char* text) {
    EnvironmentValue value;
    char* expanded = expandPercentReferences(text, foundJavaHome, environmentValue, &value);
    std::free(value.text);
    return expanded;
}

bool assembleClassPath() {
    TextBuffer options;
    appendText(&options, settings.jvmOptions);
    TextBuffer classPath;
    char* cursor = nullptr;
    for (char* entry = nextToken(settings.classPath, ";", &cursor); entry;
         entry = nextToken(settings.classPath, ";", &cursor)) {
        appendText(&classPath, entry);
        appendText(&classPath, ";");
        // An entry with a reference names nothing yet: it is only expanded, never listed.
        if (!std::strchr(entry, '%') && isFolder(entry) && !scanArchiveFolder(&classPath, entry)) {
            releaseText(&classPath);
            releaseText(&options);
            return false;
        }
    }
    appendClassPathOption(&options, &classPath);
    releaseText(&classPath);
    char* expanded = expandPercentReferences(options.text ? options.text : "");
    releaseText(&options);
    std::free(settings.jvmOptions);
    settings.jvmOptions = expanded;
    return true;
}

} // namespace korvane
