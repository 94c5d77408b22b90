#include "ui/message_format.h"

#include <cstdlib>
#include <cstring>

namespace korvane {

namespace {

// Appends text to out (holding `used` characters), keeping room for the terminating NUL.
void append(char* out, std::size_t size, std::size_t& used, const char* text, std::size_t length) {
    if (used + 1 >= size) return;
    const std::size_t room = size - 1 - used;
    const std::size_t count = length < room ? length : room;
    std::memcpy(out + used, text, count);
    used += count;
    out[used] = '\0';
}

bool isSafeFormat(const char* format, bool haveArgument) {
    int arguments = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
        } else if (p[1] == 's' && haveArgument && arguments == 0) {
            ++arguments;
            ++p;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

bool formatMessage(const char* format, const char* argument, char* out, std::size_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    std::size_t used = 0;
    if (!format) return true;
    if (!isSafeFormat(format, argument != nullptr)) {
        append(out, size, used, format, std::strlen(format));
        return false;
    }
    for (const char* p = format; *p; ++p) {
        if (*p == '%' && p[1] == '%') {
            append(out, size, used, "%", 1);
            ++p;
        } else if (*p == '%' && p[1] == 's') {
            append(out, size, used, argument, std::strlen(argument));
            ++p;
        } else {
            append(out, size, used, p, 1);
        }
    }
    return true;
}

void joinReason(const char* message, const char* reason, char* out, std::size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    std::size_t used = 0;
    append(out, size, used, message, std::strlen(message));
    append(out, size, used, "\n\nReason: ", 10);
    append(out, size, used, reason, std::strlen(reason));
}

char* joinDetails(const char* message, const char* details) {
    const std::size_t size = std::strlen(message) + std::strlen(details) + 256;
    char* text = static_cast<char*>(std::malloc(size));
    std::size_t used = 0;
    text[0] = '\0';
    append(text, size, used, message, std::strlen(message));
    append(text, size, used, "\n\nDetails:\n", 11);
    append(text, size, used, details, std::strlen(details));
    return text;
}

WindowPosition centeredPosition(int screenWidth, int screenHeight, int width, int height) {
    return {(screenWidth - width) / 2, (screenHeight - height) / 2};
}

} // namespace korvane
