#include "pack/bitmap.h"

#include <algorithm>
#include <cstdlib>

namespace korvane::pack {

namespace {

std::uint32_t le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | b[at + static_cast<std::size_t>(i)];
    return value;
}

enum : std::uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3 };

struct DibLayout {
    BitmapSize size;
    std::size_t headerSize = 0;
    std::size_t tableSize = 0; // colour table and masks after the header
    std::uint32_t compression = BiRgb;
};

// Reads a DIB header that starts at `at`; the bytes from there to the end are the DIB.
std::optional<DibLayout> readDibHeader(const std::vector<std::uint8_t>& b, std::size_t at, std::string* error) {
    auto fail = [&](const std::string& reason) -> std::optional<DibLayout> {
        if (error) *error = reason;
        return std::nullopt;
    };
    if (b.size() < at + 12) return fail("the bitmap header is cut short");
    DibLayout layout;
    layout.headerSize = le(b, at, 4);
    if (layout.headerSize == 12) {
        layout.size.width = static_cast<std::int16_t>(le(b, at + 4, 2));
        layout.size.height = static_cast<std::int16_t>(le(b, at + 6, 2));
        if (le(b, at + 8, 2) != 1) return fail("the bitmap has more than one plane");
        layout.size.bitsPerPixel = static_cast<std::uint16_t>(le(b, at + 10, 2));
        if (layout.size.bitsPerPixel == 16 || layout.size.bitsPerPixel == 32) {
            return fail("an OS/2 bitmap header allows no colour depth of " +
                        std::to_string(layout.size.bitsPerPixel) + " bits per pixel");
        }
        if (layout.size.bitsPerPixel <= 8) layout.tableSize = 3u << layout.size.bitsPerPixel;
    } else if (layout.headerSize == 40 || layout.headerSize == 52 || layout.headerSize == 56 ||
               layout.headerSize == 108 || layout.headerSize == 124) {
        if (b.size() < at + layout.headerSize) return fail("the bitmap header is cut short");
        layout.size.width = static_cast<std::int32_t>(le(b, at + 4, 4));
        layout.size.height = static_cast<std::int32_t>(le(b, at + 8, 4));
        if (le(b, at + 12, 2) != 1) return fail("the bitmap has more than one plane");
        layout.size.bitsPerPixel = static_cast<std::uint16_t>(le(b, at + 14, 2));
        layout.compression = le(b, at + 16, 4);
        const std::uint32_t used = le(b, at + 32, 4);
        if (layout.size.bitsPerPixel <= 8) {
            const std::uint32_t maximum = 1u << layout.size.bitsPerPixel;
            if (used > maximum) return fail("the bitmap's colour table is larger than its pixel format allows");
            layout.tableSize = 4u * (used ? used : maximum);
        } else {
            layout.tableSize = 4u * std::min<std::uint32_t>(used, 256);
        }
        if (layout.compression == BiBitfields && layout.headerSize == 40) layout.tableSize += 12;
    } else {
        return fail("unknown bitmap header size " + std::to_string(layout.headerSize));
    }
    const std::uint16_t bpp = layout.size.bitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        return fail("unsupported colour depth of " + std::to_string(bpp) + " bits per pixel");
    }
    const bool compressionFits = layout.compression == BiRgb ||
                                 (layout.compression == BiRle8 && bpp == 8) ||
                                 (layout.compression == BiRle4 && bpp == 4) ||
                                 (layout.compression == BiBitfields && (bpp == 16 || bpp == 32));
    if (!compressionFits) return fail("the bitmap's compression cannot be loaded by Windows (JPEG/PNG inside a BMP?)");
    if ((layout.compression == BiRle8 || layout.compression == BiRle4) && layout.size.height < 0) {
        return fail("the bitmap is run-length coded top-down, which Windows cannot load");
    }
    if (layout.size.width <= 0 || layout.size.height == 0 || layout.size.width > 32767 ||
        std::abs(layout.size.height) > 32767) {
        return fail("the bitmap has an invalid size");
    }
    return layout;
}

std::uint64_t pixelBytes(const DibLayout& layout) {
    const std::uint64_t stride = ((static_cast<std::uint64_t>(layout.size.width) * layout.size.bitsPerPixel + 31) / 32) * 4;
    return stride * static_cast<std::uint64_t>(std::abs(layout.size.height));
}

} // namespace

std::optional<std::vector<std::uint8_t>> bitmapResourceFromFile(const std::vector<std::uint8_t>& file,
                                                                std::string* error) {
    if (file.size() < 14 + 12 || file[0] != 'B' || file[1] != 'M') {
        if (error) *error = "not a BMP file";
        return std::nullopt;
    }
    auto layout = readDibHeader(file, 14, error);
    if (!layout) return std::nullopt;
    const std::size_t tableEnd = 14 + layout->headerSize + layout->tableSize;
    const std::uint32_t bitsOffset = le(file, 10, 4);
    if (tableEnd > file.size() || bitsOffset < tableEnd || bitsOffset > file.size()) {
        if (error) *error = "the bitmap's pixel data offset is invalid";
        return std::nullopt;
    }
    const std::uint64_t available = file.size() - bitsOffset;
    if (layout->compression != BiRle8 && layout->compression != BiRle4 && available < pixelBytes(*layout)) {
        if (error) *error = "the bitmap's pixel data is cut short";
        return std::nullopt;
    }
    // A resource bitmap has its bits right after the colour table: close any gap of the file.
    std::vector<std::uint8_t> dib(file.begin() + 14, file.begin() + static_cast<std::ptrdiff_t>(tableEnd));
    dib.insert(dib.end(), file.begin() + bitsOffset, file.end());
    return dib;
}

std::optional<BitmapSize> packedBitmapSize(const std::vector<std::uint8_t>& dib) {
    auto layout = readDibHeader(dib, 0, nullptr);
    if (!layout) return std::nullopt;
    return layout->size;
}

} // namespace korvane::pack
