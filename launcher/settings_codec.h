// Decoding of the texts stored in a launcher's string table. Shared with the packaging tool,
// which writes what these functions read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

// 16 letters and digits; the terminating zero is the 17th byte of the XOR cycle.
inline constexpr char scrambleKey[17] = "Kv7Rq2Lm9ZxT4bWe";
inline constexpr std::size_t scrambleCycle = sizeof(scrambleKey);

inline constexpr std::size_t unscrambleResultSize = 256;

// Turns the stored form of the main class back into plain text. The stored form must be an
// even number of upper-case hexadecimal digits, at most 510 of them; anything else yields an
// empty text and false, so a damaged setting can never run past the result area.
bool unscrambleText(const char* stored, char (&result)[unscrambleResultSize]);

// The packaging side: the plain text XORed with the cycle, as upper-case hexadecimal digits.
std::string scrambleText(std::string_view plain);

bool readFlag(const char* text);
// Like atoi, but a number too large for 32 bits saturates instead of being undefined.
std::int32_t readInteger(const char* text);
// Like scanf("%x"): leading blanks, an optional 0x, hexadecimal digits; saturates at 32 bits.
std::uint32_t readHex(const char* text);

inline constexpr std::uint32_t priorityClassTable[6] = {0x100, 0x80, 0x8000, 0x20, 0x4000, 0x40};

} // namespace korvane
