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

// The arguments of a full command line (GetCommandLineA): the program name — up to its closing
// double quote when it begins with one, else up to the first blank or tab — and the blanks and
// tabs after it are skipped. Bytes above 0x7F are ordinary characters (UTF-8 and other ANSI
// code pages use them for letters).
const char* skipProgramName(const char* commandLine);

// A heap copy of text (never null: an empty text for null).
char* copyText(const char* text);

} // namespace korvane
