// Small text tools shared by the launcher's subsystems. ANSI, NUL-terminated texts on the C heap.
#pragma once

#include <cstdint>

namespace korvane {

struct ArgumentList {
    int count = 0;
    char** slots = nullptr; // count heap texts; slot 0 is null when the first slot is reserved
};

// Splits a command-line text. Only blanks separate; a double quote toggles quoting wherever
// it stands; an argument that begins with a quote loses its first and last character.
ArgumentList splitArguments(const char* text, bool reserveFirstSlot);
void freeArguments(ArgumentList& list);

// Walks `text` token by token, cutting it in place at the separators. `cursor` is null before
// the first call. Runs of separators count as one.
char* nextToken(char* text, const char* separators, char** cursor);

struct TextBuffer {
    char* text = nullptr;
    std::uint32_t length = 0;
    std::uint32_t capacity = 0;
};

void appendText(TextBuffer* buffer, const char* text);
void releaseText(TextBuffer* buffer);

// A heap copy of text (never null: an empty text for null).
char* copyText(const char* text);

} // namespace korvane
