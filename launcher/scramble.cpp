// The packaging side of the main-class scrambling; kept apart so the launcher does not link it.
#include "launcher/settings_codec.h"

namespace korvane {

std::string scrambleText(std::string_view plain) {
    static const char digits[] = "0123456789ABCDEF";
    std::string stored;
    stored.reserve(plain.size() * 2);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const auto byte = static_cast<unsigned char>(static_cast<unsigned char>(plain[i]) ^
                                                     static_cast<unsigned char>(scrambleKey[i % scrambleCycle]));
        stored += digits[byte >> 4];
        stored += digits[byte & 15];
    }
    return stored;
}

} // namespace korvane
