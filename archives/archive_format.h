// The archive resource: a count, then entries of (name with a leading backslash and a NUL,
// FILETIME, size, bytes), little-endian and without gaps. Parsed in place, never past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

struct ArchiveEntry {
    const char* name = nullptr; // begins with a backslash; NUL-terminated inside the resource
    std::uint64_t time = 0;     // FILETIME, 100 ns since 1601
    std::uint32_t size = 0;
    const std::uint8_t* data = nullptr;
};

enum class ArchiveStatus { Entry, End, Truncated, UnsafeName };

// A name is safe when it is a backslash followed by a plain file name: no further "\" or "/",
// no ":", not "." or "..", not empty. Anything else could reach outside the extraction folder.
bool isSafeArchiveName(std::string_view name);

class ArchiveReader {
public:
    // A resource smaller than 2 bytes holds no archives. One of 2 or 3 bytes cannot hold a
    // count and reads as truncated.
    ArchiveReader(const void* data, std::size_t size);

    bool present() const { return size_ >= 2; }
    std::uint32_t count() const { return count_; }
    // Reads the next entry. After End, Truncated or UnsafeName it keeps returning that.
    ArchiveStatus next(ArchiveEntry& entry);

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 4;
    std::uint32_t count_ = 0;
    std::uint32_t read_ = 0;
    ArchiveStatus stopped_ = ArchiveStatus::Entry;
};

struct ArchiveSource {
    std::string name; // without the leading backslash
    std::uint64_t time = 0;
    std::vector<std::uint8_t> bytes;
};

// Builds the resource. Returns false (with a reason) for a name that is not safe or sizes
// that do not fit the format.
bool buildArchiveResource(const std::vector<ArchiveSource>& sources, std::vector<std::uint8_t>& out,
                          std::string* error);

} // namespace korvane
