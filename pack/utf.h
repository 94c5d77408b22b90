#pragma once

#include <string>

namespace korvane::pack {

// Both expect well-formed input (TOML text is validated UTF-8); a stray unit becomes U+FFFD.
std::u16string utf8ToUtf16(const std::string& text);
std::string utf16ToUtf8(const std::u16string& text);

} // namespace korvane::pack
