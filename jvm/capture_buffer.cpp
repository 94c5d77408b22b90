#include "jvm/capture_buffer.h"

#include <cstring>

namespace korvane {

void appendCapturedText(CaptureBuffer& buffer, const char* text, std::size_t length) {
    constexpr std::size_t limit = CaptureBuffer::capacity - 1;
    if (length > limit - 1) length = limit - 1;
    if (buffer.length + length > limit) {
        // The first line feed at or after index length - 1 ends the oldest lines to drop: that
        // always frees at least `length` characters.
        std::size_t cut = 0;
        for (std::size_t i = length > 0 ? length - 1 : 0; i < buffer.length && i < limit - 1; ++i) {
            if (buffer.text[i] == '\n') {
                cut = i + 1;
                break;
            }
        }
        if (cut == 0 || buffer.length - cut + length > limit) {
            buffer.length = 0;
        } else {
            std::memmove(buffer.text, buffer.text + cut, buffer.length - cut);
            buffer.length -= cut;
        }
    }
    std::memcpy(buffer.text + buffer.length, text, length);
    buffer.length += length;
    buffer.text[buffer.length] = '\0';
}

std::size_t expandLineFeeds(const char* text, std::size_t length, char* out) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '\n') out[used++] = '\r';
        out[used++] = text[i];
    }
    out[used] = '\0';
    return used;
}

int consoleRowsPerRead(int width) {
    if (width <= 0) return 1;
    const int rows = (32767 / width) / 4;
    return rows > 0 ? rows : 1;
}

std::size_t trimmedRowLength(const char* row, std::size_t width) {
    while (width > 0 && row[width - 1] == ' ') --width;
    return width;
}

} // namespace korvane
