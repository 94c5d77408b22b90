#include "launcher/text.h"

#include <cstdlib>
#include <cstring>

namespace korvane {

namespace {

// Calls emit(start, length) for every argument of text, in order, and returns the count.
template <typename Emit>
int walkArguments(const char* text, Emit emit) {
    const char* p = text;
    while (*p == ' ') ++p;
    const char* start = p;
    bool quoted = false;
    int count = 0;
    for (; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (*p == ' ' && !quoted) {
            emit(start, static_cast<std::size_t>(p - start));
            ++count;
            start = p + 1;
        }
    }
    // Whatever follows the last separating blank is one more argument; so is a text that held
    // only blanks. An unclosed quote that ends in a blank keeps its characters.
    const bool onlyBlanks = count == 0 && start == p;
    if (start != p || onlyBlanks) {
        emit(start, static_cast<std::size_t>(p - start));
        ++count;
    }
    return count;
}

char* copyArgument(const char* start, std::size_t length) {
    if (length > 0 && start[0] == '"') {
        ++start;
        length = length >= 2 ? length - 2 : 0;
    }
    char* copy = static_cast<char*>(std::malloc(length + 1));
    std::memcpy(copy, start, length);
    copy[length] = '\0';
    return copy;
}

} // namespace

ArgumentList splitArguments(const char* text, bool reserveFirstSlot) {
    ArgumentList list;
    const int reserved = reserveFirstSlot ? 1 : 0;
    const int found = (text && *text) ? walkArguments(text, [](const char*, std::size_t) {}) : 0;
    list.count = found + reserved;
    if (list.count == 0) return list;
    list.slots = static_cast<char**>(std::calloc(static_cast<std::size_t>(list.count), sizeof(char*)));
    if (found > 0) {
        int slot = reserved;
        walkArguments(text, [&](const char* start, std::size_t length) {
            list.slots[slot++] = copyArgument(start, length);
        });
    }
    return list;
}

void freeArguments(ArgumentList& list) {
    for (int i = 0; i < list.count; ++i) std::free(list.slots[i]);
    std::free(list.slots);
    list = ArgumentList{};
}

char* nextToken(char* text, const char* separators, char** cursor) {
    if (!text || (*cursor && **cursor == '\0')) {
        *cursor = nullptr;
        return nullptr;
    }
    char* p = *cursor ? *cursor : text;
    p += std::strspn(p, separators);
    if (*p == '\0') {
        *cursor = nullptr;
        return nullptr;
    }
    char* end = p + std::strcspn(p, separators);
    if (*end) {
        *end = '\0';
        *cursor = end + 1;
    } else {
        *cursor = end;
    }
    return p;
}

void appendText(TextBuffer* buffer, const char* text) {
    if (!text || !*text) return;
    const auto added = static_cast<std::uint32_t>(std::strlen(text));
    const std::uint32_t step = 4 * added > 1024 ? 4 * added : 1024;
    if (!buffer->text) {
        buffer->capacity = step;
        buffer->text = static_cast<char*>(std::calloc(step, 1));
        buffer->length = 0;
    } else if (buffer->length + added > buffer->capacity - 1) {
        buffer->capacity += step;
        buffer->text = static_cast<char*>(std::realloc(buffer->text, buffer->capacity));
    }
    std::memcpy(buffer->text + buffer->length, text, added + 1);
    buffer->length += added;
}

void releaseText(TextBuffer* buffer) {
    std::free(buffer->text);
    *buffer = TextBuffer{};
}

const char* skipProgramName(const char* commandLine) {
    const char* p = commandLine ? commandLine : "";
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

char* copyText(const char* text) {
    const std::size_t length = text ? std::strlen(text) : 0;
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (length) std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

} // namespace korvane
