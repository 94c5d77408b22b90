// Splash bitmaps: a .bmp file becomes an RT_BITMAP resource, which is the packed DIB (the
// file without its 14-byte file header, colour table and bits directly after the header).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane::pack {

struct BitmapSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bitsPerPixel = 0;
};

// Checks that the file is a bitmap Windows can load and returns the resource bytes.
std::optional<std::vector<std::uint8_t>> bitmapResourceFromFile(const std::vector<std::uint8_t>& file,
                                                                std::string* error);

// Reads the size of a packed DIB (an RT_BITMAP resource).
std::optional<BitmapSize> packedBitmapSize(const std::vector<std::uint8_t>& dib);

} // namespace korvane::pack
