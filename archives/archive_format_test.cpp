#include "archives/archive_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace korvane;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes build(const std::vector<ArchiveSource>& sources) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(buildArchiveResource(sources, out, &error)) << error;
    return out;
}

struct Read {
    std::vector<std::string> names;
    ArchiveStatus last;
};

Read readAll(const Bytes& resource) {
    ArchiveReader reader(resource.data(), resource.size());
    Read result;
    ArchiveEntry entry;
    while ((result.last = reader.next(entry)) == ArchiveStatus::Entry) {
        result.names.emplace_back(entry.name);
        EXPECT_LE(entry.data + entry.size, resource.data() + resource.size());
    }
    return result;
}

Bytes rawEntry(const std::string& name, std::uint32_t size, const Bytes& data) {
    Bytes out(name.begin(), name.end());
    out.push_back(0);
    out.insert(out.end(), 8, 0x11);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes withCount(std::uint32_t count, const Bytes& entries) {
    Bytes out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
    out.insert(out.end(), entries.begin(), entries.end());
    return out;
}

} // namespace

TEST(ArchiveFormat, GoldenBytesOfOneEntry) {
    const Bytes resource = build({{"a.jar", 0x0102030405060708ull, {0xCA, 0xFE}}});
    const Bytes expected = {1, 0, 0, 0, '\\', 'a', '.', 'j', 'a', 'r', 0, 8, 7, 6, 5, 4, 3, 2, 1, 2, 0, 0, 0, 0xCA, 0xFE};
    EXPECT_EQ(resource, expected);
}

TEST(ArchiveFormat, RoundTripKeepsOrderTimesAndBytes) {
    const std::vector<ArchiveSource> sources = {
        {"app.jar", 132000000000000000ull, Bytes(1000, 7)}, {"lib.jar", 1, {}}, {"z.zip", 2, {1, 2, 3}}};
    const Bytes resource = build(sources);
    ArchiveReader reader(resource.data(), resource.size());
    EXPECT_EQ(reader.count(), 3u);
    for (const ArchiveSource& source : sources) {
        ArchiveEntry entry;
        ASSERT_EQ(reader.next(entry), ArchiveStatus::Entry);
        EXPECT_EQ(std::string(entry.name), "\\" + source.name);
        EXPECT_EQ(entry.time, source.time);
        EXPECT_EQ(Bytes(entry.data, entry.data + entry.size), source.bytes);
    }
    ArchiveEntry entry;
    EXPECT_EQ(reader.next(entry), ArchiveStatus::End);
}

TEST(ArchiveFormat, AbsentEmptyAndDamagedResources) {
    struct Row {
        const char* label;
        Bytes resource;
        std::vector<std::string> names;
        ArchiveStatus last;
    } rows[] = {
        {"no resource", {}, {}, ArchiveStatus::End},
        {"one byte", {1}, {}, ArchiveStatus::End},
        {"count 0", withCount(0, {}), {}, ArchiveStatus::End},
        {"three bytes cannot hold a count", {1, 0, 0}, {}, ArchiveStatus::Truncated},
        {"count promises more than it holds", withCount(2, rawEntry("\\a.jar", 1, {9})), {"\\a.jar"},
         ArchiveStatus::Truncated},
        {"data runs past the end", withCount(1, rawEntry("\\a.jar", 100, {9})), {}, ArchiveStatus::Truncated},
        {"size near 4 GiB does not wrap", withCount(1, rawEntry("\\a.jar", 0xFFFFFFFFu, {9})), {},
         ArchiveStatus::Truncated},
        {"name without its NUL", withCount(1, Bytes{'\\', 'a'}), {}, ArchiveStatus::Truncated},
        {"fields cut short", withCount(1, Bytes{'\\', 'a', 0, 1, 2}), {}, ArchiveStatus::Truncated},
        {"traversal name", withCount(2, rawEntry("\\ok.jar", 0, {}) + rawEntry("\\..\\..\\Windows\\evil.dll", 0, {})),
         {"\\ok.jar"}, ArchiveStatus::UnsafeName},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const Read read = readAll(row.resource);
        EXPECT_EQ(read.names, row.names);
        EXPECT_EQ(read.last, row.last);
    }
}

TEST(ArchiveFormat, OnlyPlainFileNamesAreSafe) {
    struct Row {
        const char* name;
        bool safe;
    } rows[] = {
        {"\\app.jar", true},   {"\\app 1.0.jar", true}, {"app.jar", false},   {"\\", false},
        {"\\.", false},        {"\\..", false},         {"\\..\\x", false},   {"\\a/b", false},
        {"\\C:x.jar", false},  {"\\\\server", false},   {"\\...", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isSafeArchiveName(row.name), row.safe);
    }
    Bytes out;
    std::string error;
    EXPECT_FALSE(buildArchiveResource({{"..\\evil.dll", 0, {}}}, out, &error));
    EXPECT_NE(error.find("not a plain file name"), std::string::npos);
}
