#include "pack/pe_image.h"

#include <algorithm>
#include <set>
#include <utility>

namespace korvane::pe {

namespace {

constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kDebugEntrySize = 28;
constexpr std::uint32_t kDirResource = 2, kDirCertificate = 4, kDirRelocation = 5, kDirDebug = 6;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint32_t kResourceSectionFlags = 0x40000040u; // initialized data, readable

std::uint16_t get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without overflow.
bool fits(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
    return offset <= size && length <= size - offset;
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool isPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

template <typename T>
std::optional<T> fail(std::string* error, std::string reason) {
    if (error) *error = std::move(reason);
    return std::nullopt;
}

struct Section {
    std::size_t headerOffset = 0;
    std::string name;
    std::uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
    // The address range a reader may look at: some linkers leave VirtualSize at zero.
    std::uint64_t span() const { return std::max(virtualSize, rawSize); }
    std::uint64_t mappedSize() const { return virtualSize ? virtualSize : rawSize; }
    bool containsRva(std::uint64_t rva) const {
        return rva >= virtualAddress && rva < virtualAddress + span();
    }
    bool containsFileOffset(std::uint64_t offset) const {
        return rawSize != 0 && offset >= rawPointer && offset < std::uint64_t{rawPointer} + rawSize;
    }
};

struct DataDirectory {
    std::uint32_t rva = 0, size = 0;
};

struct Headers {
    std::size_t peOffset = 0, optionalOffset = 0, sectionTableOffset = 0;
    std::size_t checksumOffset = 0, directoriesOffset = 0;
    std::uint16_t machine = 0;
    bool pe32Plus = false;
    std::uint32_t fileAlignment = 0, sectionAlignment = 0, sizeOfHeaders = 0;
    std::uint32_t directoryCount = 0;
    std::vector<DataDirectory> directories;
    std::vector<Section> sections;

    DataDirectory directory(std::uint32_t index) const {
        return index < directories.size() ? directories[index] : DataDirectory{};
    }
    std::size_t directoryOffset(std::uint32_t index) const { return directoriesOffset + 8 * index; }
};

std::optional<Headers> parseHeaders(const Bytes& file, std::string* error) {
    Headers h;
    if (file.size() < 64) return fail<Headers>(error, "file too small for a DOS header");
    if (file[0] != 'M' || file[1] != 'Z') return fail<Headers>(error, "not an executable (no MZ signature)");
    h.peOffset = get32(file, 0x3c);
    if (!fits(file.size(), h.peOffset, 24)) return fail<Headers>(error, "PE header lies past the end of the file");
    if (file[h.peOffset] != 'P' || file[h.peOffset + 1] != 'E' || file[h.peOffset + 2] != 0 ||
        file[h.peOffset + 3] != 0)
        return fail<Headers>(error, "no PE signature");
    h.machine = get16(file, h.peOffset + 4);
    const std::uint16_t sectionCount = get16(file, h.peOffset + 6);
    const std::uint16_t optionalSize = get16(file, h.peOffset + 20);
    h.optionalOffset = h.peOffset + 24;
    if (optionalSize < 2 || !fits(file.size(), h.optionalOffset, optionalSize))
        return fail<Headers>(error, "optional header truncated");
    const std::uint16_t magic = get16(file, h.optionalOffset);
    if (magic != 0x10b && magic != 0x20b) return fail<Headers>(error, "unknown optional header magic");
    h.pe32Plus = magic == 0x20b;
    const std::size_t directoriesAt = h.pe32Plus ? 112 : 96;
    if (optionalSize < directoriesAt) return fail<Headers>(error, "optional header too small");
    h.sectionAlignment = get32(file, h.optionalOffset + 32);
    h.fileAlignment = get32(file, h.optionalOffset + 36);
    h.sizeOfHeaders = get32(file, h.optionalOffset + 60);
    h.checksumOffset = h.optionalOffset + 64;
    h.directoryCount = get32(file, h.optionalOffset + directoriesAt - 4);
    h.directoriesOffset = h.optionalOffset + directoriesAt;
    // The loader looks at 16 directories at most.
    const std::uint32_t usedDirectories = std::min<std::uint32_t>(h.directoryCount, 16);
    if (usedDirectories * 8u > optionalSize - directoriesAt)
        return fail<Headers>(error, "data directories overflow the optional header");
    for (std::uint32_t i = 0; i < usedDirectories; ++i)
        h.directories.push_back({get32(file, h.directoryOffset(i)), get32(file, h.directoryOffset(i) + 4)});
    if (!isPowerOfTwo(h.fileAlignment) || !isPowerOfTwo(h.sectionAlignment) || h.fileAlignment > 0x10000 ||
        h.sectionAlignment < h.fileAlignment || h.sectionAlignment > (1u << 28))
        return fail<Headers>(error, "invalid file or section alignment");

    h.sectionTableOffset = h.optionalOffset + optionalSize;
    if (!fits(file.size(), h.sectionTableOffset, std::uint64_t{sectionCount} * kSectionHeaderSize))
        return fail<Headers>(error, "section table lies past the end of the file");
    if (h.sizeOfHeaders > file.size() || h.sizeOfHeaders < h.sectionTableOffset + sectionCount * kSectionHeaderSize)
        return fail<Headers>(error, "SizeOfHeaders does not cover the headers");
    for (std::size_t i = 0; i < sectionCount; ++i) {
        Section s;
        s.headerOffset = h.sectionTableOffset + i * kSectionHeaderSize;
        for (std::size_t c = 0; c < 8 && file[s.headerOffset + c] != 0; ++c)
            s.name.push_back(static_cast<char>(file[s.headerOffset + c]));
        s.virtualSize = get32(file, s.headerOffset + 8);
        s.virtualAddress = get32(file, s.headerOffset + 12);
        s.rawSize = get32(file, s.headerOffset + 16);
        s.rawPointer = get32(file, s.headerOffset + 20);
        if (s.rawSize != 0 && !fits(file.size(), s.rawPointer, s.rawSize))
            return fail<Headers>(error, "section " + std::to_string(i) + " points past the end of the file");
        if (std::uint64_t{s.virtualAddress} + s.span() > 0xffffffffu)
            return fail<Headers>(error, "section " + std::to_string(i) + " lies outside the address space");
        h.sections.push_back(std::move(s));
    }
    const DataDirectory certificate = h.directory(kDirCertificate);
    if (certificate.size != 0 && !fits(file.size(), certificate.rva, certificate.size))
        return fail<Headers>(error, "certificate table lies past the end of the file");
    return h;
}

const Section* sectionOfRva(const Headers& h, std::uint64_t rva) {
    for (const Section& s : h.sections)
        if (s.containsRva(rva)) return &s;
    return nullptr;
}

// File offset of [rva, rva + length), when all of it is backed by section data.
std::optional<std::size_t> mapRva(const Headers& h, std::uint64_t rva, std::uint64_t length) {
    const Section* s = sectionOfRva(h, rva);
    if (!s) return std::nullopt;
    const std::uint64_t inSection = rva - s->virtualAddress;
    if (!fits(s->rawSize, inSection, length)) return std::nullopt;
    return static_cast<std::size_t>(s->rawPointer + inSection);
}

class TreeReader {
public:
    TreeReader(const Bytes& file, const Headers& headers, std::size_t base, std::size_t limit,
               std::vector<Resource>& out, std::string* error)
        : file_(file), headers_(headers), base_(base), limit_(limit), out_(out), error_(error) {}

    bool read(std::uint32_t offset, int level, const ResourceName& type, const ResourceName& name) {
        // Well-formed trees never share a table or an entry; refusing that stops loops and
        // trees that would fan out far beyond the size of the file.
        if (!visited_.insert(offset).second) return failed("resource directory refers back to a table");
        if (!fits(limit_, offset, 16)) return failed("resource directory table lies outside the section");
        const std::size_t named = get16(file_, base_ + offset + 12);
        const std::size_t count = named + get16(file_, base_ + offset + 14);
        if (!fits(limit_, std::uint64_t{offset} + 16, count * 8))
            return failed("resource directory entries lie outside the section");
        entriesSeen_ += count;
        if (entriesSeen_ > limit_ / 8) return failed("resource directory entries overlap");
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = base_ + offset + 16 + i * 8;
            const std::uint32_t nameField = get32(file_, at);
            const std::uint32_t dataField = get32(file_, at + 4);
            ResourceName key;
            if (nameField & kHighBit) {
                if (!readName(nameField & ~kHighBit, key.name)) return false;
            } else {
                key.id = static_cast<std::uint16_t>(nameField);
            }
            if (level < 2) {
                if (!(dataField & kHighBit)) return failed("resource tree has a data entry above the language level");
                if (!read(dataField & ~kHighBit, level + 1, level == 0 ? key : type, level == 1 ? key : name))
                    return false;
                continue;
            }
            if (dataField & kHighBit) return failed("resource tree is deeper than three levels");
            if (!key.name.empty()) return failed("resource language entry has a name");
            if (!readLeaf(dataField, type, name, key.id)) return false;
        }
        return true;
    }

private:
    bool failed(std::string reason) {
        if (error_) *error_ = std::move(reason);
        return false;
    }

    bool readName(std::uint32_t offset, std::u16string& name) {
        if (!fits(limit_, offset, 2)) return failed("resource name lies outside the section");
        const std::size_t length = get16(file_, base_ + offset);
        if (!fits(limit_, std::uint64_t{offset} + 2, length * 2)) return failed("resource name lies outside the section");
        name.resize(length);
        for (std::size_t i = 0; i < length; ++i) name[i] = static_cast<char16_t>(get16(file_, base_ + offset + 2 + 2 * i));
        return true;
    }

    bool readLeaf(std::uint32_t offset, const ResourceName& type, const ResourceName& name, std::uint16_t language) {
        if (!fits(limit_, offset, 16)) return failed("resource data entry lies outside the section");
        const std::uint32_t rva = get32(file_, base_ + offset);
        const std::uint32_t size = get32(file_, base_ + offset + 4);
        const std::optional<std::size_t> at = mapRva(headers_, rva, size);
        if (!at) return failed("resource data lies outside the file's sections");
        totalData_ += size;
        if (totalData_ > 2 * std::uint64_t{file_.size()}) return failed("resource data entries overlap");
        Resource r;
        r.type = type;
        r.name = name;
        r.language = language;
        r.codePage = get32(file_, base_ + offset + 8);
        r.data.assign(file_.begin() + static_cast<std::ptrdiff_t>(*at),
                      file_.begin() + static_cast<std::ptrdiff_t>(*at + size));
        out_.push_back(std::move(r));
        return true;
    }

    const Bytes& file_;
    const Headers& headers_;
    std::size_t base_, limit_;
    std::vector<Resource>& out_;
    std::string* error_;
    std::set<std::uint32_t> visited_;
    std::uint64_t entriesSeen_ = 0, totalData_ = 0;
};

char16_t upperCase(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xe0 && c <= 0xfe && c != 0xf7)) return static_cast<char16_t>(c - 32);
    return c;
}

// Order of entries in one table: names first, compared upper-cased as the loader does, then numbers.
bool keyLess(const ResourceName& a, const ResourceName& b) {
    const bool aNamed = !a.name.empty(), bNamed = !b.name.empty();
    if (aNamed != bNamed) return aNamed;
    if (!aNamed) return a.id < b.id;
    const auto folded = [](const std::u16string& s) {
        std::u16string u = s;
        for (char16_t& c : u) c = upperCase(c);
        return u;
    };
    const std::u16string fa = folded(a.name), fb = folded(b.name);
    if (fa != fb) return fa < fb;
    return a.name < b.name; // names equal but for case still need a fixed order
}

bool keyEqual(const ResourceName& a, const ResourceName& b) {
    return !a.name.empty() || !b.name.empty() ? a.name == b.name : a.id == b.id;
}

std::string describe(const Resource& r) {
    const auto text = [](const ResourceName& n) {
        if (n.name.empty()) return std::to_string(n.id);
        std::string s;
        for (char16_t c : n.name) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return s;
    };
    return "type " + text(r.type) + ", name " + text(r.name) + ", language " + std::to_string(r.language);
}

struct NameGroup {
    const ResourceName* name;
    std::vector<const Resource*> languages;
};
struct TypeGroup {
    const ResourceName* type;
    std::vector<NameGroup> names;
};

// Lays the tree out as tables, name strings, data entries, then the data, for a section at sectionRva.
std::optional<Bytes> buildResourceSection(const std::vector<Resource>& resources, std::uint32_t sectionRva,
                                          std::string* error) {
    std::vector<const Resource*> sorted;
    for (const Resource& r : resources) sorted.push_back(&r);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Resource* a, const Resource* b) {
        if (!keyEqual(a->type, b->type)) return keyLess(a->type, b->type);
        if (!keyEqual(a->name, b->name)) return keyLess(a->name, b->name);
        return a->language < b->language;
    });
    std::vector<TypeGroup> types;
    for (const Resource* r : sorted) {
        if (types.empty() || !keyEqual(*types.back().type, r->type)) types.push_back({&r->type, {}});
        auto& names = types.back().names;
        if (names.empty() || !keyEqual(*names.back().name, r->name)) {
            names.push_back({&r->name, {}});
        } else if (names.back().languages.back()->language == r->language) {
            return fail<Bytes>(error, "duplicate resource (" + describe(*r) + ")");
        }
        names.back().languages.push_back(r);
    }

    const auto tableSize = [](std::size_t entries) { return 16 + 8 * std::uint64_t{entries}; };
    std::uint64_t size = tableSize(types.size());
    std::vector<std::uint64_t> typeTables, nameTables;
    for (const TypeGroup& t : types) {
        typeTables.push_back(size);
        size += tableSize(t.names.size());
    }
    for (const TypeGroup& t : types)
        for (const NameGroup& n : t.names) {
            nameTables.push_back(size);
            size += tableSize(n.languages.size());
        }
    std::vector<std::pair<const std::u16string*, std::uint64_t>> strings;
    const auto addString = [&](const ResourceName& key) -> bool {
        if (key.name.empty()) return true;
        if (key.name.size() > 0xffff) return false;
        for (const auto& s : strings)
            if (*s.first == key.name) return true;
        strings.emplace_back(&key.name, size);
        size += 2 + 2 * std::uint64_t{key.name.size()};
        return true;
    };
    for (const TypeGroup& t : types) {
        if (!addString(*t.type)) return fail<Bytes>(error, "resource type name too long");
        for (const NameGroup& n : t.names)
            if (!addString(*n.name)) return fail<Bytes>(error, "resource name too long");
    }
    size = alignUp(size, 4);
    const std::uint64_t dataEntries = size;
    size += 16 * std::uint64_t{sorted.size()};
    std::vector<std::uint64_t> blobs;
    for (const Resource* r : sorted) {
        size = alignUp(size, 8);
        blobs.push_back(size);
        size += r->data.size();
    }
    // Offsets inside the tree keep their top bit for flags, and every data address must fit in 32 bits.
    if (size >= kHighBit || sectionRva + size > 0xffffffffu)
        return fail<Bytes>(error, "resources too large for one section");

    const auto stringOffset = [&](const std::u16string& name) {
        for (const auto& s : strings)
            if (*s.first == name) return static_cast<std::uint32_t>(s.second);
        return 0u;
    };
    Bytes out(static_cast<std::size_t>(size), 0);
    const auto writeTable = [&](std::uint64_t at, std::size_t namedCount, std::size_t idCount) {
        put16(out, static_cast<std::size_t>(at + 12), static_cast<std::uint16_t>(namedCount));
        put16(out, static_cast<std::size_t>(at + 14), static_cast<std::uint16_t>(idCount));
    };
    const auto writeEntry = [&](std::uint64_t table, std::size_t index, const ResourceName* key,
                                std::uint32_t language, std::uint32_t target) {
        const std::size_t at = static_cast<std::size_t>(table + 16 + 8 * index);
        put32(out, at, key && !key->name.empty() ? stringOffset(key->name) | kHighBit : key ? key->id : language);
        put32(out, at + 4, target);
    };
    const auto countNamed = [](const auto& groups, auto keyOf) {
        std::size_t n = 0;
        for (const auto& g : groups) n += keyOf(g)->name.empty() ? 0 : 1;
        return n;
    };
    const auto tooMany = [](std::size_t n) { return n > 0xffff; };
    if (tooMany(types.size())) return fail<Bytes>(error, "too many resource types");
    const std::size_t namedTypes = countNamed(types, [](const TypeGroup& g) { return g.type; });
    writeTable(0, namedTypes, types.size() - namedTypes);
    std::size_t nameIndex = 0, leafIndex = 0;
    for (std::size_t t = 0; t < types.size(); ++t) {
        writeEntry(0, t, types[t].type, 0, static_cast<std::uint32_t>(typeTables[t]) | kHighBit);
        const auto& names = types[t].names;
        if (tooMany(names.size())) return fail<Bytes>(error, "too many resources of one type");
        const std::size_t namedNames = countNamed(names, [](const NameGroup& g) { return g.name; });
        writeTable(typeTables[t], namedNames, names.size() - namedNames);
        for (std::size_t n = 0; n < names.size(); ++n, ++nameIndex) {
            const std::uint64_t table = nameTables[nameIndex];
            writeEntry(typeTables[t], n, names[n].name, 0, static_cast<std::uint32_t>(table) | kHighBit);
            const auto& languages = names[n].languages;
            writeTable(table, 0, languages.size());
            for (std::size_t l = 0; l < languages.size(); ++l, ++leafIndex) {
                const std::uint64_t entry = dataEntries + 16 * leafIndex;
                writeEntry(table, l, nullptr, languages[l]->language, static_cast<std::uint32_t>(entry));
                const std::size_t e = static_cast<std::size_t>(entry);
                put32(out, e, static_cast<std::uint32_t>(sectionRva + blobs[leafIndex]));
                put32(out, e + 4, static_cast<std::uint32_t>(languages[l]->data.size()));
                put32(out, e + 8, languages[l]->codePage);
                std::copy(languages[l]->data.begin(), languages[l]->data.end(),
                          out.begin() + static_cast<std::ptrdiff_t>(blobs[leafIndex]));
            }
        }
    }
    for (const auto& s : strings) {
        const std::size_t at = static_cast<std::size_t>(s.second);
        put16(out, at, static_cast<std::uint16_t>(s.first->size()));
        for (std::size_t i = 0; i < s.first->size(); ++i) put16(out, at + 2 + 2 * i, static_cast<std::uint16_t>((*s.first)[i]));
    }
    return out;
}

std::string directoryName(std::uint32_t index) {
    static const char* const names[] = {"export", "import", "resource", "exception", "certificate",
                                        "base relocation", "debug", "architecture", "global pointer", "TLS",
                                        "load configuration", "bound import", "import address table",
                                        "delay import", "CLR runtime header", "reserved"};
    return index < 16 ? names[index] : std::to_string(index);
}

} // namespace

std::uint32_t computeChecksum(const Bytes& file, std::size_t checksumOffset) {
    std::uint64_t sum = 0;
    const std::size_t words = file.size() / 2;
    for (std::size_t i = 0; i < words; ++i) {
        const std::size_t at = 2 * i;
        if (at >= checksumOffset && at < checksumOffset + 4) continue;
        sum += get16(file, at);
        sum = (sum & 0xffff) + (sum >> 16);
    }
    if (file.size() % 2) {
        sum += file.back();
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

std::optional<Image> parseImage(const Bytes& file, std::string* error) {
    const std::optional<Headers> h = parseHeaders(file, error);
    if (!h) return std::nullopt;
    Image image;
    image.machine = h->machine == 0x14c || h->machine == 0x8664 ? static_cast<Machine>(h->machine) : Machine::Other;
    image.rawMachine = h->machine;
    image.pe32Plus = h->pe32Plus;
    image.hasSignature = h->directory(kDirCertificate).size != 0;
    const DataDirectory resources = h->directory(kDirResource);
    if (resources.rva != 0) {
        const Section* s = sectionOfRva(*h, resources.rva);
        const std::uint64_t inSection = s ? resources.rva - s->virtualAddress : 0;
        if (!s || inSection >= s->rawSize) return fail<Image>(error, "resource directory lies outside the file's sections");
        TreeReader reader(file, *h, s->rawPointer + static_cast<std::size_t>(inSection),
                          static_cast<std::size_t>(s->rawSize - inSection), image.resources, error);
        if (!reader.read(0, 0, {}, {})) return std::nullopt;
    }
    image.file = file;
    return image;
}

std::optional<Bytes> writeImage(const Image& image, const std::vector<Resource>& resources, bool dropSignature,
                                std::string* error) {
    const Bytes& in = image.file;
    const std::optional<Headers> parsed = parseHeaders(in, error);
    if (!parsed) return std::nullopt;
    const Headers& h = *parsed;
    if (h.directories.size() <= kDirResource) return fail<Bytes>(error, "the image has no resource data directory slot");

    std::uint64_t fileEnd = in.size();
    const DataDirectory certificate = h.directory(kDirCertificate);
    if (certificate.size != 0) {
        if (!dropSignature)
            return fail<Bytes>(error, "the file is signed; changing its resources would break the signature "
                                      "(drop the signature to go on)");
        if (std::uint64_t{certificate.rva} + certificate.size != in.size())
            return fail<Bytes>(error, "the certificate table is not at the end of the file");
        fileEnd = certificate.rva;
    }

    const std::vector<Section>& sections = h.sections;
    const std::size_t n = sections.size();
    for (std::size_t i = 1; i < n; ++i)
        if (sections[i].virtualAddress < sections[i - 1].virtualAddress + sections[i - 1].span())
            return fail<Bytes>(error, "sections are not in ascending address order");
    std::uint64_t rawEnd = h.sizeOfHeaders;
    for (const Section& s : sections)
        if (s.rawSize) rawEnd = std::max<std::uint64_t>(rawEnd, std::uint64_t{s.rawPointer} + s.rawSize);
    if (fileEnd < rawEnd) return fail<Bytes>(error, "the certificate table overlaps section data");

    // Only a section that holds nothing but the resource tree may be rewritten.
    std::size_t rsrc = n;
    const DataDirectory oldResources = h.directory(kDirResource);
    for (std::size_t i = 0; i < n && oldResources.rva != 0; ++i)
        if (sections[i].virtualAddress == oldResources.rva && sections[i].name == ".rsrc") rsrc = i;
    enum class Placement { InPlace, MoveReloc, Append } placement = Placement::Append;
    if (rsrc != n && rsrc + 1 == n) placement = Placement::InPlace;
    else if (rsrc != n && rsrc + 2 == n && sections[n - 1].name == ".reloc") placement = Placement::MoveReloc;
    std::vector<bool> moved(n, false);
    if (placement != Placement::Append) moved[rsrc] = true;
    if (placement == Placement::MoveReloc) moved[n - 1] = true;

    for (std::uint32_t d = 0; d < h.directories.size(); ++d) {
        const DataDirectory dir = h.directory(d);
        if (d == kDirResource || d == kDirCertificate || dir.rva == 0) continue;
        if (d == kDirRelocation && placement == Placement::MoveReloc && sections[n - 1].containsRva(dir.rva)) continue;
        // A dangling directory could end up inside the grown or new section and point at resource bytes.
        if (dir.rva >= h.sizeOfHeaders && !sectionOfRva(h, dir.rva))
            return fail<Bytes>(error, "the " + directoryName(d) + " directory points outside every section");
        for (std::size_t i = 0; i < n; ++i)
            if (moved[i] && sections[i].containsRva(dir.rva))
                return fail<Bytes>(error, "the " + directoryName(d) + " directory lies in section " + sections[i].name +
                                              ", which has to move");
    }

    std::uint64_t keptEnd = h.sizeOfHeaders;
    for (std::size_t i = 0; i < n; ++i)
        if (!moved[i] && sections[i].rawSize)
            keptEnd = std::max<std::uint64_t>(keptEnd, std::uint64_t{sections[i].rawPointer} + sections[i].rawSize);

    // Address zero would read as "no resources", and the headers own the first page anyway.
    std::uint64_t rsrcRva = alignUp(h.sizeOfHeaders, h.sectionAlignment);
    if (placement != Placement::Append) {
        rsrcRva = sections[rsrc].virtualAddress;
    } else if (n != 0) {
        rsrcRva = std::max(rsrcRva, alignUp(std::uint64_t{sections[n - 1].virtualAddress} + sections[n - 1].span(),
                                            h.sectionAlignment));
    }
    if (rsrcRva >= kHighBit) return fail<Bytes>(error, "no address space left for a resource section");
    const std::optional<Bytes> tree = buildResourceSection(resources, static_cast<std::uint32_t>(rsrcRva), error);
    if (!tree) return std::nullopt;

    // A page-aligned file offset lets the loader map the resources instead of reading them
    // whole: with 200 MB of archives that is the difference between a fast and a slow start.
    const std::uint64_t rsrcRaw = alignUp(keptEnd, std::max<std::uint32_t>(h.fileAlignment, 0x1000));
    const std::uint64_t rsrcRawSize = alignUp(tree->size(), h.fileAlignment);
    if (rsrcRva + rsrcRawSize > 0xffffffffu) return fail<Bytes>(error, "image too large");
    std::uint64_t relocRva = 0, relocRaw = 0;
    if (placement == Placement::MoveReloc) {
        relocRva = alignUp(rsrcRva + tree->size(), h.sectionAlignment);
        relocRaw = rsrcRaw + rsrcRawSize;
        if (relocRva + sections[n - 1].span() > 0xffffffffu) return fail<Bytes>(error, "image too large");
    }
    const std::uint64_t newRawEnd = placement == Placement::MoveReloc
                                        ? relocRaw + alignUp(sections[n - 1].rawSize, h.fileAlignment)
                                        : rsrcRaw + rsrcRawSize;
    if (newRawEnd > 0xffffffffu) return fail<Bytes>(error, "image too large");
    const auto shiftOverlay = [&](std::uint64_t offset) { return offset - rawEnd + newRawEnd; };

    // File offsets held by kept headers: the COFF symbol table and debug data may live after the sections.
    std::vector<std::pair<std::size_t, std::uint32_t>> pointerFixes;
    const auto relocateFileOffset = [&](std::size_t field, std::uint32_t offset, const std::string& what) -> bool {
        if (offset == 0) return true;
        for (std::size_t i = 0; i < n; ++i)
            if (moved[i] && sections[i].containsFileOffset(offset)) {
                if (error) *error = what + " lies in section " + sections[i].name + ", which has to move";
                return false;
            }
        if (offset >= rawEnd && offset < fileEnd) {
            pointerFixes.emplace_back(field, static_cast<std::uint32_t>(shiftOverlay(offset)));
            return true;
        }
        // Bytes from keptEnd to rawEnd are rewritten, and past fileEnd new data may appear later.
        if (offset >= keptEnd) {
            if (error) *error = what + " points into data that is rewritten or past the end of the file";
            return false;
        }
        return true;
    };
    if (!relocateFileOffset(h.peOffset + 12, get32(in, h.peOffset + 12), "the COFF symbol table")) return std::nullopt;
    const DataDirectory debug = h.directory(kDirDebug);
    if (debug.rva != 0 && debug.size != 0) {
        const std::optional<std::size_t> at = mapRva(h, debug.rva, debug.size);
        if (!at) return fail<Bytes>(error, "the debug directory cannot be read");
        for (std::size_t e = 0; e + kDebugEntrySize <= debug.size; e += kDebugEntrySize)
            if (!relocateFileOffset(*at + e + 24, get32(in, *at + e + 24), "debug data")) return std::nullopt;
    }

    std::size_t sectionCount = n;
    if (placement == Placement::Append) {
        const std::size_t slot = h.sectionTableOffset + n * kSectionHeaderSize;
        std::uint64_t firstRaw = h.sizeOfHeaders;
        for (const Section& s : sections)
            if (s.rawSize) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawPointer);
        bool free = slot + kSectionHeaderSize <= firstRaw && n < 0xffff;
        for (std::size_t i = 0; free && i < kSectionHeaderSize; ++i) free = in[slot + i] == 0;
        if (!free) return fail<Bytes>(error, "no room in the headers for another section header");
        sectionCount = n + 1;
    }

    Bytes out(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(keptEnd));
    out.resize(static_cast<std::size_t>(rsrcRaw), 0);
    out.insert(out.end(), tree->begin(), tree->end());
    out.resize(static_cast<std::size_t>(rsrcRaw + rsrcRawSize), 0);
    if (placement == Placement::MoveReloc) {
        const Section& reloc = sections[n - 1];
        out.insert(out.end(), in.begin() + reloc.rawPointer, in.begin() + reloc.rawPointer + reloc.rawSize);
        out.resize(static_cast<std::size_t>(newRawEnd), 0);
    }
    out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(rawEnd),
               in.begin() + static_cast<std::ptrdiff_t>(fileEnd));

    // Before the header fields, so that a debug entry overlapping the headers cannot clobber them.
    for (const auto& [field, value] : pointerFixes) put32(out, field, value);
    const std::uint32_t treeSize = static_cast<std::uint32_t>(tree->size());
    std::int64_t initializedDelta = static_cast<std::int64_t>(rsrcRawSize);
    if (placement == Placement::Append) {
        const std::size_t at = h.sectionTableOffset + n * kSectionHeaderSize;
        const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
        std::copy(name, name + 8, out.begin() + static_cast<std::ptrdiff_t>(at));
        put32(out, at + 8, treeSize);
        put32(out, at + 12, static_cast<std::uint32_t>(rsrcRva));
        put32(out, at + 16, static_cast<std::uint32_t>(rsrcRawSize));
        put32(out, at + 20, static_cast<std::uint32_t>(rsrcRaw));
        put32(out, at + 36, kResourceSectionFlags);
        put16(out, h.peOffset + 6, static_cast<std::uint16_t>(sectionCount));
    } else {
        const Section& s = sections[rsrc];
        initializedDelta -= s.rawSize;
        put32(out, s.headerOffset + 8, treeSize);
        put32(out, s.headerOffset + 16, static_cast<std::uint32_t>(rsrcRawSize));
        put32(out, s.headerOffset + 20, static_cast<std::uint32_t>(rsrcRaw));
    }
    std::uint64_t imageEnd = alignUp(rsrcRva + treeSize, h.sectionAlignment);
    if (placement == Placement::MoveReloc) {
        const Section& reloc = sections[n - 1];
        put32(out, reloc.headerOffset + 12, static_cast<std::uint32_t>(relocRva));
        if (reloc.rawSize) {
            // Its padding now sits inside the section; left outside, it would read as overlay next time.
            const std::uint64_t alignedSize = alignUp(reloc.rawSize, h.fileAlignment);
            put32(out, reloc.headerOffset + 16, static_cast<std::uint32_t>(alignedSize));
            put32(out, reloc.headerOffset + 20, static_cast<std::uint32_t>(relocRaw));
            initializedDelta += static_cast<std::int64_t>(alignedSize - reloc.rawSize);
        }
        const DataDirectory relocations = h.directory(kDirRelocation);
        if (relocations.rva != 0 && reloc.containsRva(relocations.rva))
            put32(out, h.directoryOffset(kDirRelocation),
                  static_cast<std::uint32_t>(relocations.rva - reloc.virtualAddress + relocRva));
        imageEnd = alignUp(relocRva + reloc.mappedSize(), h.sectionAlignment);
    }
    for (std::size_t i = 0; i < n; ++i)
        if (!moved[i])
            imageEnd = std::max(imageEnd, alignUp(std::uint64_t{sections[i].virtualAddress} + sections[i].mappedSize(),
                                                  h.sectionAlignment));
    if (imageEnd > 0xffffffffu) return fail<Bytes>(error, "image too large");
    put32(out, h.optionalOffset + 56, static_cast<std::uint32_t>(imageEnd));
    const std::int64_t initialized = std::int64_t{get32(in, h.optionalOffset + 8)} + initializedDelta;
    put32(out, h.optionalOffset + 8, static_cast<std::uint32_t>(std::clamp<std::int64_t>(initialized, 0, 0xffffffff)));
    put32(out, h.directoryOffset(kDirResource), static_cast<std::uint32_t>(rsrcRva));
    put32(out, h.directoryOffset(kDirResource) + 4, treeSize);
    if (certificate.size != 0) {
        put32(out, h.directoryOffset(kDirCertificate), 0);
        put32(out, h.directoryOffset(kDirCertificate) + 4, 0);
    }
    put32(out, h.checksumOffset, computeChecksum(out, h.checksumOffset));
    return out;
}

} // namespace korvane::pe
