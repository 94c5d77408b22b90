#include "pack/pe_image.h"
#include "pack/pe_testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

namespace korvane::pe {
namespace {

constexpr std::uint32_t kInitializedData = 0x40000040, kCode = 0x60000020;

std::uint16_t rd16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8); }
std::uint32_t rd32(const Bytes& b, std::size_t at) { return rd16(b, at) | static_cast<std::uint32_t>(rd16(b, at + 2)) << 16; }
void wr16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
void wr32(Bytes& b, std::size_t at, std::uint32_t v) {
    wr16(b, at, v & 0xffff);
    wr16(b, at + 2, v >> 16);
}
void add16(Bytes& b, std::uint32_t v) {
    b.resize(b.size() + 2);
    wr16(b, b.size() - 2, v);
}
void add32(Bytes& b, std::uint32_t v) {
    b.resize(b.size() + 4);
    wr32(b, b.size() - 4, v);
}
std::uint32_t align(std::uint64_t v, std::uint32_t a) { return static_cast<std::uint32_t>((v + a - 1) / a * a); }
Bytes ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes pattern(std::size_t size, unsigned seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + seed * 7 + (i >> 8)) & 0xff);
    return b;
}

// ---- A small image builder: the tests make their own PE32 and PE32+ files.

struct SectionSpec {
    std::string name;
    std::function<Bytes(std::uint32_t rva)> content; // gets the section's address
    std::uint32_t characteristics = kInitializedData;
};

struct ImageSpec {
    bool pe32Plus = false;
    std::vector<SectionSpec> sections;
    int resourceSection = -1, relocSection = -1;
    Bytes overlay, certificate;
};

struct Layout {
    std::size_t pe = 0, optional = 0, table = 0, checksum = 0, directories = 0;
    std::uint32_t fileAlignment = 0, sectionAlignment = 0, sizeOfImage = 0, sizeOfHeaders = 0, initialized = 0;
    struct Sec {
        std::string name;
        std::uint32_t virtualSize, rva, rawSize, raw, flags;
    };
    std::vector<Sec> sections;
    std::uint32_t dirRva(int i) const { return dirs[i].first; }
    std::uint32_t dirSize(int i) const { return dirs[i].second; }
    std::pair<std::uint32_t, std::uint32_t> dirs[16];
    const Sec* named(const std::string& n) const {
        for (const Sec& s : sections)
            if (s.name == n) return &s;
        return nullptr;
    }
};

Layout readLayout(const Bytes& f) {
    Layout l;
    l.pe = rd32(f, 0x3c);
    l.optional = l.pe + 24;
    const bool plus = rd16(f, l.optional) == 0x20b;
    l.table = l.optional + rd16(f, l.pe + 20);
    l.checksum = l.optional + 64;
    l.directories = l.optional + (plus ? 112 : 96);
    l.sectionAlignment = rd32(f, l.optional + 32);
    l.fileAlignment = rd32(f, l.optional + 36);
    l.sizeOfImage = rd32(f, l.optional + 56);
    l.sizeOfHeaders = rd32(f, l.optional + 60);
    l.initialized = rd32(f, l.optional + 8);
    for (int i = 0; i < 16; ++i) l.dirs[i] = {rd32(f, l.directories + 8 * i), rd32(f, l.directories + 8 * i + 4)};
    for (std::size_t i = 0; i < rd16(f, l.pe + 6); ++i) {
        const std::size_t h = l.table + 40 * i;
        std::string name(reinterpret_cast<const char*>(&f.at(h)), 8);
        name.resize(name.find('\0') == std::string::npos ? 8 : name.find('\0'));
        l.sections.push_back({name, rd32(f, h + 8), rd32(f, h + 12), rd32(f, h + 16), rd32(f, h + 20), rd32(f, h + 36)});
    }
    return l;
}

std::uint32_t firstSectionRva(const ImageSpec& spec, std::uint32_t& headers) {
    const std::size_t table = 0x40 + 24 + (spec.pe32Plus ? 240 : 224);
    headers = align(table + 40 * (spec.sections.size() + 1), 0x200); // one free header slot
    return align(headers, 0x1000);
}

Bytes buildImage(const ImageSpec& spec) {
    std::uint32_t headers = 0;
    std::uint32_t rva = firstSectionRva(spec, headers);
    Bytes f(headers, 0);
    f[0] = 'M';
    f[1] = 'Z';
    wr32(f, 0x3c, 0x40);
    f[0x40] = 'P';
    f[0x41] = 'E';
    const std::size_t coff = 0x44, opt = 0x58;
    wr16(f, coff, spec.pe32Plus ? 0x8664 : 0x14c);
    wr16(f, coff + 2, static_cast<std::uint32_t>(spec.sections.size()));
    wr16(f, coff + 16, spec.pe32Plus ? 240 : 224);
    wr16(f, coff + 18, spec.pe32Plus ? 0x22 : 0x102);
    wr16(f, opt, spec.pe32Plus ? 0x20b : 0x10b);
    if (spec.pe32Plus) {
        wr32(f, opt + 24, 0x40000000);
        wr32(f, opt + 28, 0x1);
    } else {
        wr32(f, opt + 28, 0x400000);
    }
    wr32(f, opt + 32, 0x1000);
    wr32(f, opt + 36, 0x200);
    wr16(f, opt + 48, 6);
    wr32(f, opt + 60, headers);
    wr16(f, opt + 68, 2);
    const std::size_t dirs = opt + (spec.pe32Plus ? 112 : 96);
    wr32(f, dirs - 4, 16);
    std::uint32_t initialized = 0;
    for (std::size_t i = 0; i < spec.sections.size(); ++i) {
        const SectionSpec& s = spec.sections[i];
        const Bytes content = s.content(rva);
        const std::uint32_t raw = static_cast<std::uint32_t>(f.size());
        const std::uint32_t rawSize = align(content.size(), 0x200);
        const std::size_t h = opt + (spec.pe32Plus ? 240 : 224) + 40 * i;
        std::copy(s.name.begin(), s.name.end(), f.begin() + static_cast<std::ptrdiff_t>(h));
        wr32(f, h + 8, static_cast<std::uint32_t>(content.size()));
        wr32(f, h + 12, rva);
        wr32(f, h + 16, rawSize);
        wr32(f, h + 20, raw);
        wr32(f, h + 36, s.characteristics);
        if (s.characteristics & 0x40) initialized += rawSize;
        if (static_cast<int>(i) == spec.resourceSection) {
            wr32(f, dirs + 16, rva);
            wr32(f, dirs + 20, static_cast<std::uint32_t>(content.size()));
        }
        if (static_cast<int>(i) == spec.relocSection) {
            wr32(f, dirs + 40, rva);
            wr32(f, dirs + 44, static_cast<std::uint32_t>(content.size()));
        }
        f.insert(f.end(), content.begin(), content.end());
        f.resize(raw + rawSize, 0);
        rva = align(rva + content.size(), 0x1000);
    }
    wr32(f, opt + 8, initialized);
    wr32(f, opt + 56, rva);
    f.insert(f.end(), spec.overlay.begin(), spec.overlay.end());
    if (!spec.certificate.empty()) {
        f.resize(align(f.size(), 8), 0);
        wr32(f, dirs + 32, static_cast<std::uint32_t>(f.size()));
        wr32(f, dirs + 36, static_cast<std::uint32_t>(spec.certificate.size()));
        f.insert(f.end(), spec.certificate.begin(), spec.certificate.end());
    }
    wr32(f, opt + 64, computeChecksum(f, opt + 64));
    return f;
}

// A resource tree written naively (one chain per leaf, numbered types that differ), independent of the library.
struct Leaf {
    std::uint16_t type, name, language;
    Bytes data;
};
std::function<Bytes(std::uint32_t)> naiveTree(std::vector<Leaf> leaves) {
    return [leaves](std::uint32_t rva) {
        Bytes b;
        add32(b, 0), add32(b, 0), add32(b, 0), add16(b, 0), add16(b, static_cast<std::uint32_t>(leaves.size()));
        b.resize(16 + 8 * leaves.size());
        for (std::size_t i = 0; i < leaves.size(); ++i) {
            const std::uint32_t typeTable = static_cast<std::uint32_t>(b.size());
            wr32(b, 16 + 8 * i, leaves[i].type);
            wr32(b, 20 + 8 * i, typeTable | 0x80000000u);
            b.resize(typeTable + 48 + 16);
            wr16(b, typeTable + 14, 1);
            wr32(b, typeTable + 16, leaves[i].name);
            wr32(b, typeTable + 20, (typeTable + 24) | 0x80000000u);
            wr16(b, typeTable + 24 + 14, 1);
            wr32(b, typeTable + 24 + 16, leaves[i].language);
            wr32(b, typeTable + 24 + 20, typeTable + 48);
            b.resize(align(b.size(), 8));
            wr32(b, typeTable + 48, rva + static_cast<std::uint32_t>(b.size()));
            wr32(b, typeTable + 52, static_cast<std::uint32_t>(leaves[i].data.size()));
            wr32(b, typeTable + 56, 1252);
            b.insert(b.end(), leaves[i].data.begin(), leaves[i].data.end());
        }
        return b;
    };
}

std::function<Bytes(std::uint32_t)> fixed(Bytes b) {
    return [b](std::uint32_t) { return b; };
}

Bytes relocBlock() {
    Bytes b;
    add32(b, 0x1000), add32(b, 12), add16(b, 0xa010), add16(b, 0);
    return b;
}

const std::vector<Leaf> kTemplateLeaves = {{RT_MANIFEST_ID, 1, 0x409, ascii("<assembly/>")},
                                           {RT_VERSION_ID, 1, 0x409, pattern(92, 1)},
                                           {RT_RCDATA_ID, 5, 0, pattern(17, 2)}};

enum class Placement { RsrcLast, RsrcThenReloc, RsrcThenData, NoRsrc };

ImageSpec templateSpec(bool pe32Plus, Placement placement) {
    ImageSpec s;
    s.pe32Plus = pe32Plus;
    s.overlay = ascii("overlay: appended data that must survive");
    s.sections.push_back({".text", fixed(pattern(700, 3)), kCode});
    s.sections.push_back({".rdata", fixed(pattern(300, 4))});
    if (placement != Placement::NoRsrc) {
        s.resourceSection = static_cast<int>(s.sections.size());
        s.sections.push_back({".rsrc", naiveTree(kTemplateLeaves)});
    }
    if (placement == Placement::RsrcThenReloc) {
        s.relocSection = static_cast<int>(s.sections.size());
        s.sections.push_back({".reloc", fixed(relocBlock()), 0x42000040});
    }
    if (placement == Placement::RsrcThenData || placement == Placement::NoRsrc)
        s.sections.push_back({".data", fixed(pattern(1000, 5)), 0xc0000040});
    return s;
}

Bytes sectionBytes(const Bytes& f, const Layout::Sec& s, std::uint32_t size) {
    return Bytes(f.begin() + s.raw, f.begin() + s.raw + size);
}

// Header invariants any rewritten image must keep.
void expectConsistent(const Bytes& f) {
    const Layout l = readLayout(f);
    EXPECT_EQ(rd32(f, l.checksum), computeChecksum(f, l.checksum));
    ASSERT_FALSE(l.sections.empty());
    EXPECT_LE(l.table + 40 * l.sections.size(), l.sizeOfHeaders);
    std::uint32_t initialized = 0, end = 0;
    for (const Layout::Sec& s : l.sections) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.rva % l.sectionAlignment, 0u);
        EXPECT_EQ(s.raw % l.fileAlignment, 0u);
        EXPECT_EQ(s.rawSize % l.fileAlignment, 0u);
        EXPECT_LE(std::uint64_t{s.raw} + s.rawSize, f.size());
        EXPECT_GE(s.rva, end) << "sections overlap or are out of order";
        end = align(s.rva + s.virtualSize, l.sectionAlignment);
        if (s.flags & 0x40) initialized += s.rawSize;
    }
    EXPECT_EQ(l.sizeOfImage, end);
    EXPECT_EQ(l.initialized, initialized);
    const Layout::Sec& last = l.sections.back();
    EXPECT_EQ(l.dirRva(2), l.sections.back().name == ".reloc" ? l.sections[l.sections.size() - 2].rva : last.rva);
}

std::string withoutError(std::string* error) { return error->empty() ? "(no error)" : *error; }

// ---- Round trip over placements and both image kinds.

class RoundTrip : public ::testing::TestWithParam<std::tuple<bool, Placement>> {};

TEST_P(RoundTrip, ResourcesSurviveAndHeadersStayConsistent) {
    const auto [pe32Plus, placement] = GetParam();
    const ImageSpec spec = templateSpec(pe32Plus, placement);
    const Bytes input = buildImage(spec);
    const Layout before = readLayout(input);
    std::string error;
    const std::optional<Image> image = parseImage(input, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->pe32Plus, pe32Plus);
    EXPECT_EQ(image->machine, pe32Plus ? Machine::Amd64 : Machine::I386);
    EXPECT_FALSE(image->hasSignature);
    std::vector<Resource> expected;
    if (placement != Placement::NoRsrc)
        for (const Leaf& leaf : kTemplateLeaves)
            expected.push_back({ResourceName::number(leaf.type), ResourceName::number(leaf.name), leaf.language, 1252, leaf.data});
    EXPECT_EQ(canonical(image->resources), canonical(expected));

    std::u16string longText(3000, u'x');
    for (std::size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char16_t>(u'a' + i % 26);
    longText[1500] = u'\u00e9';
    std::vector<Resource> resources = image->resources;
    for (Resource& r : buildStringTable({{40, longText}, {41, u"short"}}, 0x409)) setResource(resources, std::move(r));
    setResource(resources, {ResourceName::number(RT_VERSION_ID), ResourceName::number(1), 0x409, 0, pattern(120, 6)});
    setResource(resources, {ResourceName::number(RT_RCDATA_ID), ResourceName::number(7), 0, 0, pattern(300 * 1024 + 3, 7)});
    setResource(resources, {ResourceName{0, u"KORVANE"}, ResourceName{0, u"SETTINGS"}, 0x409, 0, ascii("k=v")});

    const std::optional<Bytes> out = writeImage(*image, resources, false, &error);
    ASSERT_TRUE(out) << error;
    expectConsistent(*out);
    const std::optional<Image> again = parseImage(*out, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(canonical(again->resources), canonical(resources));
    EXPECT_EQ(readString(again->resources, 40), longText);
    EXPECT_EQ(readString(again->resources, 41), u"short");

    const Layout after = readLayout(*out);
    const Layout::Sec* text = after.named(".text");
    ASSERT_TRUE(text);
    EXPECT_EQ(sectionBytes(*out, *text, 700), sectionBytes(input, *before.named(".text"), 700));
    EXPECT_TRUE(std::equal(spec.overlay.rbegin(), spec.overlay.rend(), out->rbegin())) << "overlay lost";
    const bool appended = placement == Placement::RsrcThenData || placement == Placement::NoRsrc;
    EXPECT_EQ(after.sections.size(), before.sections.size() + (appended ? 1 : 0));
    const Layout::Sec* rsrc = appended ? &after.sections.back() : after.named(".rsrc");
    ASSERT_TRUE(rsrc);
    EXPECT_EQ(rsrc->name, ".rsrc");
    EXPECT_EQ(after.dirRva(2), rsrc->rva);
    EXPECT_EQ(after.dirSize(2), rsrc->virtualSize);
    if (placement == Placement::RsrcThenData) {
        const Layout::Sec& old = before.sections[2];
        EXPECT_EQ(sectionBytes(*out, after.sections[2], old.virtualSize), sectionBytes(input, old, old.virtualSize))
            << "the old resource bytes stay where they were";
    }
    if (placement == Placement::RsrcThenReloc) {
        const Layout::Sec* reloc = after.named(".reloc");
        ASSERT_TRUE(reloc);
        EXPECT_EQ(reloc, &after.sections.back());
        EXPECT_GT(reloc->rva, before.named(".reloc")->rva);
        EXPECT_EQ(reloc->rva, align(rsrc->rva + rsrc->virtualSize, 0x1000));
        EXPECT_EQ(after.dirRva(5), reloc->rva);
        EXPECT_EQ(after.dirSize(5), before.dirSize(5));
        EXPECT_EQ(sectionBytes(*out, *reloc, 12), relocBlock());
    }

    EXPECT_EQ(writeImage(*image, resources, false, &error), out) << "output must be deterministic";
    const std::optional<Bytes> rewritten = writeImage(*again, again->resources, false, &error);
    EXPECT_EQ(rewritten, out) << "rewriting an output with its own resources must not change it";
}

std::string placementName(const ::testing::TestParamInfo<std::tuple<bool, Placement>>& info) {
    static const char* const names[] = {"RsrcLast", "RsrcThenReloc", "RsrcThenData", "NoRsrc"};
    return std::string(std::get<0>(info.param) ? "PE32Plus_" : "PE32_") + names[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Placements, RoundTrip,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(Placement::RsrcLast, Placement::RsrcThenReloc,
                                                              Placement::RsrcThenData, Placement::NoRsrc)),
                         placementName);

TEST(ResourceSection, ExactLayoutOfASmallTree) {
    const Bytes input = buildImage(templateSpec(false, Placement::RsrcLast));
    std::string error;
    const std::optional<Image> image = parseImage(input, &error);
    ASSERT_TRUE(image) << error;
    const std::optional<Bytes> out =
        writeImage(*image, {{ResourceName{0, u"KV"}, ResourceName::number(1), 0x409, 1200, ascii("abc")}}, false, &error);
    ASSERT_TRUE(out) << error;
    const Layout l = readLayout(*out);
    const Layout::Sec& rsrc = l.sections.back();
    Bytes expected;
    const auto table = [&](std::uint32_t named, std::uint32_t ids) {
        add32(expected, 0), add32(expected, 0), add32(expected, 0), add16(expected, named), add16(expected, ids);
    };
    table(1, 0);
    add32(expected, 0x80000000u | 72), add32(expected, 0x80000000u | 24); // name "KV" at 72, table at 24
    table(0, 1);
    add32(expected, 1), add32(expected, 0x80000000u | 48);
    table(0, 1);
    add32(expected, 0x409), add32(expected, 80); // data entry after the 4-aligned strings
    add16(expected, 2), add16(expected, 'K'), add16(expected, 'V'), add16(expected, 0);
    add32(expected, rsrc.rva + 96), add32(expected, 3), add32(expected, 1200), add32(expected, 0);
    expected.insert(expected.end(), {'a', 'b', 'c'});
    EXPECT_EQ(l.dirSize(2), expected.size());
    EXPECT_EQ(sectionBytes(*out, rsrc, static_cast<std::uint32_t>(expected.size())), expected);
    EXPECT_EQ(rsrc.rawSize, 0x200u);
}

TEST(ResourceSection, EntriesAreOrderedNamesFirstThenNumbers) {
    const Bytes input = buildImage(templateSpec(true, Placement::RsrcLast));
    std::string error;
    std::optional<Image> image = parseImage(input, &error);
    ASSERT_TRUE(image) << error;
    // Compared upper-cased: "AB" < "apple" < "A_" < "BANANA"; plain code units give AB, A_, BANANA, apple.
    const std::vector<std::u16string> typeNames = {u"BANANA", u"apple", u"A_", u"AB"};
    std::vector<Resource> resources;
    for (const auto& n : typeNames) resources.push_back({ResourceName{0, n}, ResourceName::number(1), 0, 0, ascii("x")});
    for (std::uint16_t type : {std::uint16_t{10}, std::uint16_t{3}, std::uint16_t{2}})
        for (std::uint16_t name : {std::uint16_t{300}, std::uint16_t{7}})
            for (std::uint16_t language : {std::uint16_t{0x409}, std::uint16_t{0x407}})
                resources.push_back({ResourceName::number(type), ResourceName::number(name), language, 0, pattern(5 + name % 3, type)});
    resources.push_back({ResourceName::number(10), ResourceName{0, u"zeta"}, 0, 0, ascii("z")});
    const std::optional<Bytes> out = writeImage(*image, resources, false, &error);
    ASSERT_TRUE(out) << error;
    const std::optional<Image> again = parseImage(*out, &error);
    ASSERT_TRUE(again) << error;
    std::vector<std::tuple<std::u16string, int, std::u16string, int, int>> order;
    for (const Resource& r : again->resources) order.emplace_back(r.type.name, r.type.id, r.name.name, r.name.id, r.language);
    const decltype(order) expected = {
        {u"AB", 0, u"", 1, 0}, {u"apple", 0, u"", 1, 0}, {u"A_", 0, u"", 1, 0}, {u"BANANA", 0, u"", 1, 0},
        {u"", 2, u"", 7, 0x407}, {u"", 2, u"", 7, 0x409}, {u"", 2, u"", 300, 0x407}, {u"", 2, u"", 300, 0x409},
        {u"", 3, u"", 7, 0x407}, {u"", 3, u"", 7, 0x409}, {u"", 3, u"", 300, 0x407}, {u"", 3, u"", 300, 0x409},
        {u"", 10, u"zeta", 0, 0}, {u"", 10, u"", 7, 0x407}, {u"", 10, u"", 7, 0x409}, {u"", 10, u"", 300, 0x407},
        {u"", 10, u"", 300, 0x409}};
    EXPECT_EQ(order, expected);
    // Tables, then strings, then data entries, then 8-aligned blobs inside the new section.
    const Layout l = readLayout(*out);
    const Layout::Sec& rsrc = l.sections.back();
    const auto at = [&](std::uint32_t offset) { return rsrc.raw + (offset & 0x7fffffffu); };
    const auto entries = [&](std::uint32_t table) { return rd16(*out, at(table) + 12) + rd16(*out, at(table) + 14); };
    std::uint32_t lastTable = 0, firstEntry = ~0u, lastEntry = 0, firstBlob = ~0u;
    std::size_t leaves = 0;
    for (int t = 0; t < entries(0); ++t) {
        const std::uint32_t typeTable = rd32(*out, at(16 + 8 * t + 4)) & 0x7fffffffu;
        for (int n = 0; n < entries(typeTable); ++n) {
            const std::uint32_t nameTable = rd32(*out, at(typeTable + 16 + 8 * n + 4)) & 0x7fffffffu;
            lastTable = std::max({lastTable, typeTable, nameTable});
            for (int g = 0; g < entries(nameTable); ++g, ++leaves) {
                const std::uint32_t entry = rd32(*out, at(nameTable + 16 + 8 * g + 4));
                const std::uint32_t rva = rd32(*out, at(entry)), size = rd32(*out, at(entry) + 4);
                SCOPED_TRACE(rva);
                EXPECT_EQ(rva % 8, 0u);
                EXPECT_GE(rva, rsrc.rva);
                EXPECT_LE(rva + size, rsrc.rva + l.dirSize(2));
                firstEntry = std::min(firstEntry, entry), lastEntry = std::max(lastEntry, entry);
                firstBlob = std::min(firstBlob, rva - rsrc.rva);
            }
        }
    }
    EXPECT_EQ(leaves, resources.size());
    EXPECT_LT(lastTable, firstEntry);
    EXPECT_LT(lastEntry, firstBlob);
}

// ---- Failures.

Bytes mutated(const ImageSpec& spec, const std::function<void(Bytes&, const Layout&)>& change) {
    Bytes f = buildImage(spec);
    change(f, readLayout(f));
    return f;
}

ImageSpec withTree(std::function<Bytes(std::uint32_t)> tree) {
    ImageSpec s;
    s.sections.push_back({".text", fixed(pattern(100, 1)), kCode});
    s.resourceSection = 1;
    s.sections.push_back({".rsrc", std::move(tree)});
    return s;
}

// A raw tree: root with one type entry whose target is given, and tables appended by the test.
Bytes rawTree(std::initializer_list<std::uint32_t> words) {
    Bytes b;
    for (std::uint32_t w : words) add32(b, w);
    return b;
}

TEST(ParseImage, RefusesDamagedFiles) {
    const ImageSpec good = templateSpec(false, Placement::RsrcLast);
    const Bytes goodFile = buildImage(good);
    const auto prefix = [&](std::size_t n) { return Bytes(goodFile.begin(), goodFile.begin() + static_cast<std::ptrdiff_t>(n)); };
    const std::uint32_t dir = 0x80000000u;
    struct Case {
        const char* what;
        Bytes file;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", {}, "too small"},
        {"DOS header only", prefix(64), "PE header"},
        {"cut inside the optional header", prefix(0x80), "optional header"},
        {"cut inside the section table", prefix(0x1a0), "section table"},
        {"bad MZ", mutated(good, [](Bytes& f, const Layout&) { f[1] = 'X'; }), "MZ"},
        {"bad PE signature", mutated(good, [](Bytes& f, const Layout& l) { f[l.pe + 1] = 'X'; }), "PE signature"},
        {"PE offset past the end", mutated(good, [](Bytes& f, const Layout&) { wr32(f, 0x3c, 0xfffffff0u); }), "PE header"},
        {"bad optional magic", mutated(good, [](Bytes& f, const Layout& l) { wr16(f, l.optional, 0x107); }), "magic"},
        {"zero file alignment", mutated(good, [](Bytes& f, const Layout& l) { wr32(f, l.optional + 36, 0); }), "alignment"},
        {"section data past the end",
         mutated(good, [](Bytes& f, const Layout& l) { wr32(f, l.table + 40 * 2 + 20, static_cast<std::uint32_t>(f.size())); }),
         "past the end"},
        {"section size wraps",
         mutated(good, [](Bytes& f, const Layout& l) { wr32(f, l.table + 40 * 2 + 16, 0xfffffe00u); }), "past the end"},
        {"resource directory outside the sections",
         mutated(good, [](Bytes& f, const Layout& l) { wr32(f, l.directories + 16, 0x7fff0000u); }), "resource directory"},
        {"certificate past the end",
         mutated(good, [](Bytes& f, const Layout& l) { wr32(f, l.directories + 32, static_cast<std::uint32_t>(f.size() - 4)); wr32(f, l.directories + 36, 16); }),
         "certificate"},
        {"type table refers back to the root", buildImage(withTree(fixed(rawTree({0, 0, 0, 1u << 16, 3, dir | 0})))), "refers back"},
        {"name table refers to itself",
         buildImage(withTree(fixed(rawTree({0, 0, 0, 1u << 16, 3, dir | 24, 0, 0, 0, 1u << 16, 1, dir | 24})))), "refers back"},
        {"tree deeper than three levels",
         buildImage(withTree(fixed(rawTree({0, 0, 0, 1u << 16, 3, dir | 24, 0, 0, 0, 1u << 16, 1, dir | 48, 0, 0, 0,
                                            1u << 16, 0x409, dir | 72, 0, 0, 0, 0})))),
         "deeper"},
        {"entry count beyond the section", buildImage(withTree(fixed(rawTree({0, 0, 0, 0xffffu << 16, 3, dir | 24})))),
         "outside the section"},
        {"name string beyond the section", buildImage(withTree(fixed(rawTree({0, 0, 0, 1, dir | 0x7000, dir | 24})))),
         "name lies outside"},
        {"data outside every section",
         buildImage(withTree(fixed(rawTree({0, 0, 0, 1u << 16, 3, dir | 24, 0, 0, 0, 1u << 16, 1, dir | 48, 0, 0, 0,
                                            1u << 16, 0x409, 72, 0x7000000, 16, 0, 0})))),
         "resource data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(parseImage(c.file, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << withoutError(&error);
    }
}

TEST(WriteImage, RefusesWhatItCannotRewriteSafely) {
    ImageSpec signedSpec = templateSpec(true, Placement::RsrcThenReloc);
    signedSpec.certificate = ascii("CERT-BYTES-0123456789abcdef");
    ImageSpec debugInRsrc = templateSpec(false, Placement::RsrcLast);
    ImageSpec noRsrc = templateSpec(false, Placement::NoRsrc);
    const Resource one{ResourceName::number(RT_RCDATA_ID), ResourceName::number(1), 0, 0, ascii("1")};
    struct Case {
        const char* what;
        Bytes file;
        std::vector<Resource> resources;
        bool dropSignature;
        const char* reason;
    };
    const Case cases[] = {
        {"signed", buildImage(signedSpec), {one}, false, "the file is signed"},
        {"certificate followed by other data",
         mutated(signedSpec, [](Bytes& f, const Layout&) { f.push_back(0); }), {one}, true, "not at the end"},
        {"debug directory in the resource section",
         mutated(debugInRsrc, [](Bytes& f, const Layout& l) { wr32(f, l.directories + 48, l.sections[2].rva + 8); wr32(f, l.directories + 52, 28); }),
         {one}, false, "debug directory"},
        {"no free slot for a section header",
         mutated(noRsrc, [](Bytes& f, const Layout& l) { f[l.table + 40 * l.sections.size() + 3] = 1; }), {one}, false,
         "no room"},
        {"duplicate resource", buildImage(noRsrc), {one, one}, false, "duplicate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        const std::optional<Image> image = parseImage(c.file, &error);
        ASSERT_TRUE(image) << error;
        EXPECT_FALSE(writeImage(*image, c.resources, c.dropSignature, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << withoutError(&error);
    }
}

TEST(WriteImage, DroppingTheSignatureRemovesTheCertificateTable) {
    ImageSpec spec = templateSpec(true, Placement::RsrcThenReloc);
    spec.certificate = ascii("CERT-BYTES-0123456789abcdef");
    const Bytes input = buildImage(spec);
    std::string error;
    const std::optional<Image> image = parseImage(input, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_TRUE(image->hasSignature);
    const std::optional<Bytes> out = writeImage(*image, image->resources, true, &error);
    ASSERT_TRUE(out) << error;
    expectConsistent(*out);
    const Layout l = readLayout(*out);
    EXPECT_EQ(l.dirRva(4), 0u);
    EXPECT_EQ(l.dirSize(4), 0u);
    EXPECT_EQ(std::search(out->begin(), out->end(), spec.certificate.begin(), spec.certificate.end()), out->end());
    EXPECT_TRUE(std::equal(spec.overlay.rbegin(), spec.overlay.rend(), out->rbegin()));
    const std::optional<Image> again = parseImage(*out, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_FALSE(again->hasSignature);
    EXPECT_EQ(canonical(again->resources), canonical(image->resources));
}

TEST(WriteImage, FileOffsetsIntoTheOverlayFollowIt) {
    // Debug data and a COFF symbol table after the last section move with it when the resources grow.
    ImageSpec spec = templateSpec(false, Placement::RsrcLast);
    spec.overlay = ascii("CODEVIEW-DATA....SYMBOLS");
    Bytes input = mutated(spec, [&](Bytes& f, const Layout& l) {
        const std::size_t overlay = f.size() - spec.overlay.size();
        const Layout::Sec& rdata = l.sections[1];
        wr32(f, l.directories + 48, rdata.rva + 16);
        wr32(f, l.directories + 52, 28);
        wr32(f, rdata.raw + 16 + 16, 13);
        wr32(f, rdata.raw + 16 + 24, static_cast<std::uint32_t>(overlay));
        wr32(f, l.pe + 12, static_cast<std::uint32_t>(overlay + 17));
    });
    std::string error;
    const std::optional<Image> image = parseImage(input, &error);
    ASSERT_TRUE(image) << error;
    const std::optional<Bytes> out =
        writeImage(*image, {{ResourceName::number(RT_RCDATA_ID), ResourceName::number(1), 0, 0, pattern(5000, 1)}}, false, &error);
    ASSERT_TRUE(out) << error;
    ASSERT_GT(out->size(), input.size());
    const Layout l = readLayout(*out);
    const std::uint32_t debugData = rd32(*out, l.sections[1].raw + 16 + 24);
    EXPECT_EQ(Bytes(out->begin() + debugData, out->begin() + debugData + 13), ascii("CODEVIEW-DATA"));
    const std::uint32_t symbols = rd32(*out, l.pe + 12);
    EXPECT_EQ(Bytes(out->begin() + symbols, out->begin() + symbols + 7), ascii("SYMBOLS"));
}

// ---- Resource helpers.

TEST(Checksum, SkipsTheFieldFoldsCarriesAndAddsTheLength) {
    const Bytes file = {0x01, 0x02, 0x03, 0x04, 0xaa, 0xbb, 0xcc, 0xdd, 0xff, 0xff, 0x05};
    // 0x0201 + 0x0403 + 0xffff folds to 0x0604, plus the odd byte 0x05, plus 11 bytes.
    EXPECT_EQ(computeChecksum(file, 4), 0x0609u + 11u);
}

TEST(StringTable, ExactBlockBytes) {
    const std::vector<Resource> blocks = buildStringTable({{17, u"hi"}}, 0x409);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(blocks[0].type == ResourceName::number(RT_STRING_ID));
    EXPECT_TRUE(blocks[0].name == ResourceName::number(2));
    EXPECT_EQ(blocks[0].language, 0x409);
    Bytes expected = {0, 0, 2, 0, 'h', 0, 'i', 0};
    expected.resize(36, 0);
    EXPECT_EQ(blocks[0].data, expected);
}

TEST(StringTable, ReadsBackWhatWasWrittenAndNothingElse) {
    const std::u16string big(3000, u'\u4e2d');
    const std::vector<std::pair<std::uint16_t, std::u16string>> strings = {
        {0, u"zero"}, {15, u"fifteen"}, {16, big}, {17, u"seventeen"}, {65535, u"last"}, {100, u"old"}, {100, u"new"}};
    const std::vector<Resource> blocks = buildStringTable(strings, 0);
    EXPECT_EQ(blocks.size(), 4u); // blocks 1, 2, 7, 4096
    const std::pair<std::uint16_t, std::optional<std::u16string>> reads[] = {
        {0, u"zero"}, {15, u"fifteen"}, {16, big}, {17, u"seventeen"}, {65535, u"last"}, {100, u"new"},
        {1, std::nullopt}, {18, std::nullopt}, {32, std::nullopt}, {65534, std::nullopt}};
    for (const auto& [id, text] : reads) {
        SCOPED_TRACE(id);
        EXPECT_EQ(readString(blocks, id), text);
    }
    std::vector<Resource> truncated = blocks;
    truncated[1].data.resize(20); // block 2 cut in the middle of the long string
    EXPECT_EQ(readString(truncated, 16), std::nullopt);
    EXPECT_EQ(readString(truncated, 17), std::nullopt);
}

TEST(ResourceList, SetFindAndRemove) {
    std::vector<Resource> list = {{ResourceName::number(3), ResourceName::number(1), 0x409, 0, ascii("a")},
                                  {ResourceName::number(3), ResourceName::number(1), 0x407, 0, ascii("b")},
                                  {ResourceName::number(10), ResourceName::number(1), 0, 0, ascii("c")},
                                  {ResourceName::number(3), ResourceName::number(2), 0, 0, ascii("d")}};
    setResource(list, {ResourceName::number(3), ResourceName::number(1), 0, 0, ascii("new")});
    ASSERT_EQ(list.size(), 3u) << "every language of the replaced resource goes";
    EXPECT_EQ(list[0].data, ascii("new"));
    ASSERT_TRUE(findResource(list, 10, 1));
    EXPECT_EQ(findResource(list, 10, 1)->data, ascii("c"));
    EXPECT_EQ(findResource(list, 10, 2), nullptr);
    setResource(list, {ResourceName{0, u"X"}, ResourceName::number(1), 0, 0, ascii("named")});
    EXPECT_EQ(findResource(list, 0, 1), nullptr) << "a named type is not type 0";
    removeResources(list, 3);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].data, ascii("c"));
    EXPECT_EQ(list[1].data, ascii("named"));
}

// Walks a version block node, checking that lengths nest and that every node starts 32-bit aligned.
struct VersionNode {
    std::u16string key;
    std::uint16_t valueLength, type;
    Bytes value;
    std::vector<VersionNode> children;
};
VersionNode walkVersion(const Bytes& b, std::size_t at, std::size_t end) {
    VersionNode node;
    EXPECT_EQ(at % 4, 0u);
    const std::size_t length = rd16(b, at);
    EXPECT_LE(at + length, end);
    node.valueLength = rd16(b, at + 2);
    node.type = rd16(b, at + 4);
    std::size_t p = at + 6;
    for (; rd16(b, p) != 0; p += 2) node.key.push_back(static_cast<char16_t>(rd16(b, p)));
    p = align(p + 2, 4);
    const std::size_t valueBytes = node.valueLength * std::size_t{node.type == 1 ? 2u : 1u};
    if (valueBytes) {
        node.value.assign(b.begin() + p, b.begin() + std::min(p + valueBytes, at + length));
        p = align(p + valueBytes, 4);
    }
    while (p < at + length) {
        node.children.push_back(walkVersion(b, p, at + length));
        p = align(p + rd16(b, p), 4);
    }
    EXPECT_EQ(p, align(at + length, 4)) << "the last child must end where its parent ends";
    return node;
}

TEST(VersionResource, NestedStructureWithLengthsAndPadding) {
    VersionInfo info;
    info.fileVersion[0] = 1, info.fileVersion[1] = 2, info.fileVersion[2] = 3, info.fileVersion[3] = 4;
    info.productVersion[0] = 5, info.productVersion[1] = 6;
    info.strings = {{u"ProductName", u"Korvane Demo"}, {u"A", u"B"}, {u"Comments", u""}};
    const Bytes b = buildVersionResource(info);
    ASSERT_GE(b.size(), 6u);
    EXPECT_EQ(rd16(b, 0), b.size());
    const VersionNode root = walkVersion(b, 0, b.size());
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    EXPECT_EQ(root.type, 0);
    ASSERT_EQ(root.valueLength, 52);
    ASSERT_EQ(root.value.size(), 52u);
    EXPECT_EQ(rd32(root.value, 0), 0xfeef04bdu);
    EXPECT_EQ(rd32(root.value, 8), 0x00010002u);
    EXPECT_EQ(rd32(root.value, 12), 0x00030004u);
    EXPECT_EQ(rd32(root.value, 16), 0x00050006u);
    EXPECT_EQ(rd32(root.value, 20), 0u);
    EXPECT_EQ(rd32(root.value, 32), 0x00040004u) << "Windows NT, 32-bit API";
    EXPECT_EQ(rd32(root.value, 36), 0x1u) << "an application";
    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& sfi = root.children[0];
    EXPECT_EQ(sfi.key, u"StringFileInfo");
    ASSERT_EQ(sfi.children.size(), 1u);
    const VersionNode& table = sfi.children[0];
    EXPECT_EQ(table.key, u"040904B0");
    ASSERT_EQ(table.children.size(), 3u);
    for (std::size_t i = 0; i < info.strings.size(); ++i) {
        SCOPED_TRACE(i);
        const VersionNode& s = table.children[i];
        EXPECT_EQ(s.key, info.strings[i].first);
        EXPECT_EQ(s.type, 1);
        EXPECT_EQ(s.valueLength, info.strings[i].second.size() + 1) << "characters with the terminator";
        Bytes text;
        for (char16_t c : info.strings[i].second) add16(text, c);
        add16(text, 0);
        EXPECT_EQ(s.value, text);
    }
    // "A" = "B": 6 header bytes, key with terminator, 2 bytes of padding, value with terminator.
    const Bytes key = {'A', 0, 0, 0};
    const std::size_t at = static_cast<std::size_t>(std::search(b.begin(), b.end(), key.begin(), key.end()) - b.begin()) - 6;
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 16),
              Bytes({16, 0, 2, 0, 1, 0, 'A', 0, 0, 0, 0, 0, 'B', 0, 0, 0}));
    const VersionNode& vfi = root.children[1];
    EXPECT_EQ(vfi.key, u"VarFileInfo");
    ASSERT_EQ(vfi.children.size(), 1u);
    EXPECT_EQ(vfi.children[0].key, u"Translation");
    EXPECT_EQ(vfi.children[0].type, 0);
    EXPECT_EQ(vfi.children[0].valueLength, 4);
    EXPECT_EQ(vfi.children[0].value, Bytes({0x09, 0x04, 0xb0, 0x04}));
}

Bytes icoFile(const std::vector<std::pair<Bytes, Bytes>>& images) { // (16-byte entry head, image data)
    Bytes f;
    add16(f, 0), add16(f, 1), add16(f, static_cast<std::uint32_t>(images.size()));
    std::size_t offset = 6 + 16 * images.size();
    for (const auto& [head, data] : images) {
        f.insert(f.end(), head.begin(), head.begin() + 8);
        add32(f, static_cast<std::uint32_t>(data.size()));
        add32(f, static_cast<std::uint32_t>(offset));
        offset += data.size();
    }
    for (const auto& image : images) f.insert(f.end(), image.second.begin(), image.second.end());
    return f;
}

Bytes bitmapImage() {
    Bytes b;
    add32(b, 40), add32(b, 16), add32(b, 32), add16(b, 1), add16(b, 32); // 16x16, drawn twice as high
    b.resize(40 + 16 * 16 * 4 + 16 * 4, 0x5a);
    return b;
}

TEST(Icons, GroupAndImagesFromAnIcoFile) {
    const Bytes png = {0x89, 'P', 'N', 'G', 1, 2, 3};
    const Bytes ico = icoFile({{{16, 16, 0, 0, 0, 0, 0, 0}, bitmapImage()}, {{0, 0, 0, 0, 1, 0, 32, 0}, png}});
    std::string error;
    const auto resources = buildIconResources(ico, 1, 10, 0x409, &error);
    ASSERT_TRUE(resources) << error;
    ASSERT_EQ(resources->size(), 3u);
    const Resource& first = (*resources)[0];
    EXPECT_TRUE(first.type == ResourceName::number(RT_ICON_ID) && first.name == ResourceName::number(10));
    EXPECT_EQ(first.data, bitmapImage());
    EXPECT_TRUE((*resources)[1].name == ResourceName::number(11));
    EXPECT_EQ((*resources)[1].data, png);
    const Resource& group = (*resources)[2];
    EXPECT_TRUE(group.type == ResourceName::number(RT_GROUP_ICON_ID) && group.name == ResourceName::number(1));
    EXPECT_EQ(group.language, 0x409);
    Bytes expected = {0, 0, 1, 0, 2, 0};
    const auto entry = [&](Bytes head, std::uint32_t size, std::uint16_t id) {
        expected.insert(expected.end(), head.begin(), head.end());
        add32(expected, size);
        add16(expected, id);
    };
    entry({16, 16, 0, 0, 1, 0, 32, 0}, static_cast<std::uint32_t>(bitmapImage().size()), 10); // planes/bits from the bitmap
    entry({0, 0, 0, 0, 1, 0, 32, 0}, static_cast<std::uint32_t>(png.size()), 11);
    EXPECT_EQ(group.data, expected);
}

TEST(Icons, RefusesFilesThatAreNotIcons) {
    const Bytes good = icoFile({{{16, 16, 0, 0, 1, 0, 32, 0}, bitmapImage()}});
    struct Case {
        const char* what;
        std::function<void(Bytes&)> change;
        std::uint16_t firstId;
    };
    const Case cases[] = {
        {"too small", [](Bytes& f) { f.resize(5); }, 1},
        {"reserved set", [](Bytes& f) { f[0] = 1; }, 1},
        {"a cursor", [](Bytes& f) { f[2] = 2; }, 1},
        {"no images", [](Bytes& f) { f[4] = 0; }, 1},
        {"directory truncated", [](Bytes& f) { f[4] = 3; f.resize(30); }, 1},
        {"image past the end", [](Bytes& f) { wr32(f, 6 + 8, static_cast<std::uint32_t>(f.size())); }, 1},
        {"offset wraps", [](Bytes& f) { wr32(f, 6 + 12, 0xfffffff0u); wr32(f, 6 + 8, 0x20); }, 1},
        {"empty image", [](Bytes& f) { wr32(f, 6 + 8, 0); }, 1},
        {"icon id zero", [](Bytes&) {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes f = good;
        c.change(f);
        std::string error;
        EXPECT_FALSE(buildIconResources(f, 1, c.firstId, 0, &error));
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_TRUE(buildIconResources(good, 1, 0xffff, 0, &error)) << "the last id is still usable: " << error;
    const Bytes two = icoFile({{{16, 16, 0, 0, 1, 0, 32, 0}, bitmapImage()}, {{16, 16, 0, 0, 1, 0, 32, 0}, bitmapImage()}});
    EXPECT_FALSE(buildIconResources(two, 1, 0xffff, 0, &error)) << "the second id would wrap";
}

} // namespace
} // namespace korvane::pe
