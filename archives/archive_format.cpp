#include "archives/archive_format.h"

#include <cstring>

namespace korvane {

namespace {

std::uint32_t read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void write32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
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

bool buildArchiveResource(const std::vector<ArchiveSource>& sources, std::vector<std::uint8_t>& out,
                          std::string* error) {
    out.clear();
    write32(out, static_cast<std::uint32_t>(sources.size()));
    for (const ArchiveSource& source : sources) {
        const std::string name = "\\" + source.name;
        if (!isSafeArchiveName(name) || name.find('\0') != std::string::npos) {
            if (error) *error = "archive name \"" + source.name + "\" is not a plain file name";
            return false;
        }
        if (source.bytes.size() > 0xFFFFFFFFu || out.size() + source.bytes.size() > 0xFFFFFFFFu - 1024) {
            if (error) *error = "archive \"" + source.name + "\" is too large to be carried in a launcher";
            return false;
        }
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(0);
        write32(out, static_cast<std::uint32_t>(source.time));
        write32(out, static_cast<std::uint32_t>(source.time >> 32));
        write32(out, static_cast<std::uint32_t>(source.bytes.size()));
        out.insert(out.end(), source.bytes.begin(), source.bytes.end());
    }
    return true;
}

} // namespace korvane
