// Reads an arbitrary archive resource: every entry must lie inside it and carry a safe name.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archives/archive_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that ASan sees any read past the end.
    const std::vector<std::uint8_t> resource(data, data + size);
    korvane::ArchiveReader reader(resource.data(), resource.size());
    korvane::ArchiveEntry entry;
    while (reader.next(entry) == korvane::ArchiveStatus::Entry) {
        if (entry.data < resource.data() || entry.data + entry.size > resource.data() + resource.size()) std::abort();
        if (!korvane::isSafeArchiveName(entry.name)) std::abort();
    }
    return 0;
}
