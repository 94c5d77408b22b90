// The packaging side of the archive resource; kept apart so the launcher, which only reads the
// resource, links no allocating code.
#include "archives/archive_format.h"

namespace korvane {

namespace {

void write32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

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
