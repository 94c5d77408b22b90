// The most recent output of the JVM and the application, kept for the report that ends a launch.
// Portable: the caller holds the lock.
#pragma once

#include <cstddef>

namespace korvane {

struct CaptureBuffer {
    static constexpr std::size_t capacity = 8192; // 8,191 characters and the NUL
    char text[capacity] = {};
    std::size_t length = 0;
};

// Appends `length` (at most 8,190) characters; when they do not fit, the oldest whole lines are
// dropped, or everything when no line feed lies in reach.
void appendCapturedText(CaptureBuffer& buffer, const char* text, std::size_t length);

// Copies a JVM message with a carriage return before every line feed; returns the new length.
// `out` holds at least twice `length` plus one bytes.
std::size_t expandLineFeeds(const char* text, std::size_t length, char* out);

// Splits pipe input into whole lines. Holds up to 1,024 bytes between reads.
struct LineAssembler {
    static constexpr std::size_t size = 1024;
    char bytes[size];
    std::size_t count = 0;
};

// Takes `length` new bytes (at most the free room) and passes every complete line, and a full
// buffer without a line feed, to `sink`.
template <typename Sink>
void assembleLines(LineAssembler& assembler, std::size_t added, Sink sink);

// Console screen rows (Windows 9x): how many rows to read at a time, and a row without its
// trailing blanks.
int consoleRowsPerRead(int width);
std::size_t trimmedRowLength(const char* row, std::size_t width);

} // namespace korvane

#include "jvm/capture_buffer_inl.h"
