// Decodes arbitrary setting texts: the scrambled main class, integers, hexadecimal versions.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/settings_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    char plain[korvane::unscrambleResultSize];
    if (korvane::unscrambleText(text.c_str(), plain)) {
        // Whatever unscrambles must scramble back to a prefix-equal stored form.
        const std::string again = korvane::scrambleText(plain);
        if (text.compare(0, again.size(), again) != 0) std::abort();
    } else if (plain[0] != '\0') {
        std::abort();
    }
    korvane::readInteger(text.c_str());
    korvane::readHex(text.c_str());
    korvane::readFlag(text.c_str());
    return 0;
}
