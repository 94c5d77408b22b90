#include "launcher/settings_codec.h"

#include <cstring>

namespace korvane {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

} // namespace

bool unscrambleText(const char* stored, char (&result)[unscrambleResultSize]) {
    std::memset(result, 0, sizeof result);
    const std::size_t digits = stored ? std::strlen(stored) : 0;
    if (digits % 2 != 0 || digits > 2 * (unscrambleResultSize - 1)) return false;
    for (std::size_t i = 0; i < digits; i += 2) {
        const int high = hexDigit(stored[i]);
        const int low = hexDigit(stored[i + 1]);
        if (high < 0 || low < 0) {
            std::memset(result, 0, sizeof result);
            return false;
        }
        result[i / 2] = static_cast<char>((high * 16 + low) ^ static_cast<unsigned char>(scrambleKey[(i / 2) % scrambleCycle]));
    }
    return true;
}

bool readFlag(const char* text) { return !text || text[0] != '0'; }

std::int32_t readInteger(const char* text) {
    if (!text) return 0;
    while (isBlank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return value > 2147483647LL ? 2147483647 : static_cast<std::int32_t>(value);
}

std::uint32_t readHex(const char* text) {
    if (!text) return 0;
    while (isBlank(*text)) ++text;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    std::uint64_t value = 0;
    for (;; ++text) {
        int digit = hexDigit(*text);
        if (digit < 0 && *text >= 'a' && *text <= 'f') digit = *text - 'a' + 10;
        if (digit < 0) break;
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace korvane
