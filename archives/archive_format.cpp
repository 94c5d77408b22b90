#include "archives/archive_format.h"

#include <cstring>

namespace korvane {

namespace {

std::uint32_t read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

bool isSafeArchiveName(std::string_view name) {
    if (name.size() < 2 || name[0] != '\\') return false;
    const std::string_view file = name.substr(1);
    if (file == "." || file == "..") return false;
    return file.find_first_of("\\/:") == std::string_view::npos;
}

ArchiveReader::ArchiveReader(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data)), size_(data ? size : 0) {
    if (size_ >= 4) {
        count_ = read32(data_);
    } else if (size_ >= 2) {
        stopped_ = ArchiveStatus::Truncated;
    }
}

ArchiveStatus ArchiveReader::next(ArchiveEntry& entry) {
    if (stopped_ != ArchiveStatus::Entry) return stopped_;
    if (read_ == count_ || size_ < 2) return stopped_ = ArchiveStatus::End;
    const std::uint8_t* nul = offset_ < size_
        ? static_cast<const std::uint8_t*>(std::memchr(data_ + offset_, 0, size_ - offset_))
        : nullptr;
    if (!nul) return stopped_ = ArchiveStatus::Truncated;
    const auto nameLength = static_cast<std::size_t>(nul - (data_ + offset_));
    const std::size_t fields = offset_ + nameLength + 1;
    if (size_ - fields < 12) return stopped_ = ArchiveStatus::Truncated;
    const std::uint32_t dataSize = read32(data_ + fields + 8);
    if (size_ - fields - 12 < dataSize) return stopped_ = ArchiveStatus::Truncated;
    const char* name = reinterpret_cast<const char*>(data_ + offset_);
    if (!isSafeArchiveName(std::string_view(name, nameLength))) return stopped_ = ArchiveStatus::UnsafeName;

    entry.name = name;
    entry.time = read32(data_ + fields) | static_cast<std::uint64_t>(read32(data_ + fields + 4)) << 32;
    entry.size = dataSize;
    entry.data = data_ + fields + 12;
    offset_ = fields + 12 + dataSize;
    ++read_;
    return ArchiveStatus::Entry;
}

} // namespace korvane
