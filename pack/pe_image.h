// Reading and rewriting the resources of a Windows PE image (PE32 and PE32+), on byte
// buffers only, so that launchers can be packaged on any system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane::pe {

using Bytes = std::vector<std::uint8_t>;

// A resource type or name: a 16-bit number, or a name (stored upper case by convention).
struct ResourceName {
    std::uint16_t id = 0;
    std::u16string name; // used when not empty
    static ResourceName number(std::uint16_t value) { return {value, {}}; }
    bool operator==(const ResourceName& other) const { return id == other.id && name == other.name; }
};

struct Resource {
    ResourceName type;
    ResourceName name;
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;
    Bytes data;
};

// Standard resource types used here.
inline constexpr std::uint16_t RT_ICON_ID = 3, RT_BITMAP_ID = 2, RT_DIALOG_ID = 5, RT_STRING_ID = 6,
                               RT_RCDATA_ID = 10, RT_GROUP_ICON_ID = 14, RT_VERSION_ID = 16,
                               RT_MANIFEST_ID = 24, RT_MESSAGETABLE_ID = 11;

enum class Machine : std::uint16_t { I386 = 0x14c, Amd64 = 0x8664, Other = 0 };

struct Image {
    Bytes file;                      // the whole file as read
    Machine machine = Machine::Other;
    std::uint16_t rawMachine = 0;
    bool pe32Plus = false;
    bool hasSignature = false;       // a certificate table is present
    std::vector<Resource> resources; // every leaf of the resource tree, in tree order
};

// Parses a PE file. On failure returns nothing and puts a one-line reason in *error. Safe on any
// bytes: a resource tree deeper than type/name/language, or one whose tables or entries are
// shared or loop, is refused.
std::optional<Image> parseImage(const Bytes& file, std::string* error);

// Returns a copy of the image's file with its resource section rebuilt from `resources`.
// Keeps every other section and header field; updates section alignment, SizeOfImage,
// SizeOfInitializedData, the resource data directory and the checksum. With
// dropSignature, a certificate table is removed cleanly; without it, a signed image is
// refused. The output depends only on the inputs.
// Placement: a last .rsrc section is rewritten where it is; a .rsrc followed only by .reloc is
// rewritten and .reloc moved after it (with the base relocation directory); otherwise a new
// .rsrc section is appended and the old one left alone. Data after the last section stays at
// the end, and file offsets into it (debug data, COFF symbols) follow it. Refused, with a
// reason: another data directory inside a section that moves, no free section header slot,
// a certificate table not at the end, duplicate type+name+language.
std::optional<Bytes> writeImage(const Image& image, const std::vector<Resource>& resources,
                                bool dropSignature, std::string* error);

// Resource list helpers.
const Resource* findResource(const std::vector<Resource>& list, std::uint16_t type, std::uint16_t name);
void setResource(std::vector<Resource>& list, Resource resource); // replaces same type+name (any language)
void removeResources(std::vector<Resource>& list, std::uint16_t type);

// String tables: the packaging tool writes settings, inspect reads them back.
// Builds the RT_STRING blocks holding the given (id, UTF-16 text) strings; every other id of a
// touched block is an empty string. A block stores lengths in 16 bits: longer strings are cut to
// MAX_STRING_LENGTH code units, so callers that may exceed it must check first. For an id given
// twice, the last text wins.
inline constexpr std::size_t MAX_STRING_LENGTH = 0xffff;
std::vector<Resource> buildStringTable(const std::vector<std::pair<std::uint16_t, std::u16string>>& strings,
                                       std::uint16_t language);
// Reads one string from a list of resources, as LoadString would; nothing when missing (an empty
// string reads as missing, since a block cannot tell them apart).
std::optional<std::u16string> readString(const std::vector<Resource>& list, std::uint16_t id);

// Version block (VS_VERSIONINFO) with the usual StringFileInfo entries.
struct VersionInfo {
    std::uint16_t fileVersion[4] = {0, 0, 0, 0};
    std::uint16_t productVersion[4] = {0, 0, 0, 0};
    std::vector<std::pair<std::u16string, std::u16string>> strings; // e.g. ProductName, FileDescription
};
Bytes buildVersionResource(const VersionInfo& info);

// Icons: turns a .ico file into RT_ICON resources plus one RT_GROUP_ICON named groupId.
// Returns nothing (with a reason) for a file that is not an icon.
std::optional<std::vector<Resource>> buildIconResources(const Bytes& icoFile, std::uint16_t groupId,
                                                        std::uint16_t firstIconId, std::uint16_t language,
                                                        std::string* error);

// The PE checksum of a file whose CheckSum field is at checksumOffset.
std::uint32_t computeChecksum(const Bytes& file, std::size_t checksumOffset);

} // namespace korvane::pe
