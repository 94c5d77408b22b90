#include "jvm/class_path.h"

#include <cstring>

namespace korvane {

namespace {

char lowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool endsWithIgnoringCase(const char* text, std::size_t length, const char* suffix) {
    const std::size_t suffixLength = std::strlen(suffix);
    if (length < suffixLength) return false;
    for (std::size_t i = 0; i < suffixLength; ++i) {
        if (lowerCase(text[length - suffixLength + i]) != suffix[i]) return false;
    }
    return true;
}

} // namespace

bool isArchiveName(const char* name) {
    const std::size_t length = std::strlen(name);
    return endsWithIgnoringCase(name, length, ".jar") || endsWithIgnoringCase(name, length, ".zip");
}

void trimFolderSeparator(char* folder) {
    const std::size_t length = std::strlen(folder);
    if (length > 0 && (folder[length - 1] == '\\' || folder[length - 1] == '/')) folder[length - 1] = '\0';
}

void appendSearchPattern(TextBuffer* pattern, const char* folder) {
    if (std::strcmp(folder, ".") == 0) {
        appendText(pattern, "*.*");
        return;
    }
    appendText(pattern, folder);
    appendText(pattern, "\\*.*");
}

void appendClassPathOption(TextBuffer* options, TextBuffer* classPath) {
    if (classPath->length == 0) return;
    classPath->text[--classPath->length] = '\0';
    appendText(options, " \"-Djava.class.path=");
    appendText(options, classPath->text);
    appendText(options, "\"");
}

} // namespace korvane
