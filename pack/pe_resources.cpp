#include "pack/pe_image.h"

#include <algorithm>
#include <map>

namespace korvane::pe {

namespace {

void append16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void append32(Bytes& out, std::uint32_t v) {
    append16(out, static_cast<std::uint16_t>(v));
    append16(out, static_cast<std::uint16_t>(v >> 16));
}
void appendText(Bytes& out, const std::u16string& text) {
    for (char16_t c : text) append16(out, static_cast<std::uint16_t>(c));
}
void pad32(Bytes& out) {
    while (out.size() % 4) out.push_back(0);
}
std::uint16_t get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(get16(b, at)) | static_cast<std::uint32_t>(get16(b, at + 2)) << 16;
}

bool isNumbered(const ResourceName& n, std::uint16_t id) { return n.name.empty() && n.id == id; }

// One node of a version block: header, NUL-terminated key, value, then children, each on a
// 32-bit boundary. Every node starts 32-bit aligned in the resource, so local padding is enough.
// wLength covers the node up to the end of its last child, without trailing padding.
Bytes versionNode(const std::u16string& key, const Bytes& value, std::uint16_t valueLength, bool text,
                  const std::vector<Bytes>& children) {
    Bytes out;
    append16(out, 0);
    append16(out, valueLength);
    append16(out, text ? 1 : 0);
    appendText(out, key);
    append16(out, 0);
    if (!value.empty()) {
        pad32(out);
        out.insert(out.end(), value.begin(), value.end());
    }
    for (const Bytes& child : children) {
        pad32(out);
        out.insert(out.end(), child.begin(), child.end());
    }
    out[0] = static_cast<std::uint8_t>(out.size());
    out[1] = static_cast<std::uint8_t>(out.size() >> 8);
    return out;
}

} // namespace

const Resource* findResource(const std::vector<Resource>& list, std::uint16_t type, std::uint16_t name) {
    for (const Resource& r : list)
        if (isNumbered(r.type, type) && isNumbered(r.name, name)) return &r;
    return nullptr;
}

void setResource(std::vector<Resource>& list, Resource resource) {
    const auto same = [&](const Resource& r) { return r.type == resource.type && r.name == resource.name; };
    const auto first = std::find_if(list.begin(), list.end(), same);
    if (first == list.end()) {
        list.push_back(std::move(resource));
        return;
    }
    const std::size_t at = static_cast<std::size_t>(first - list.begin());
    list.erase(std::remove_if(list.begin(), list.end(), same), list.end());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(resource));
}

void removeResources(std::vector<Resource>& list, std::uint16_t type) {
    list.erase(std::remove_if(list.begin(), list.end(), [&](const Resource& r) { return isNumbered(r.type, type); }),
               list.end());
}

std::vector<Resource> buildStringTable(const std::vector<std::pair<std::uint16_t, std::u16string>>& strings,
                                       std::uint16_t language) {
    std::map<std::uint16_t, std::u16string[16]> blocks;
    for (const auto& [id, text] : strings) blocks[static_cast<std::uint16_t>(id / 16 + 1)][id % 16] = text;
    std::vector<Resource> out;
    for (const auto& [block, texts] : blocks) {
        Resource r;
        r.type = ResourceName::number(RT_STRING_ID);
        r.name = ResourceName::number(block);
        r.language = language;
        for (const std::u16string& text : texts) {
            const std::size_t length = std::min<std::size_t>(text.size(), MAX_STRING_LENGTH);
            append16(r.data, static_cast<std::uint16_t>(length));
            appendText(r.data, text.substr(0, length));
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::optional<std::u16string> readString(const std::vector<Resource>& list, std::uint16_t id) {
    const Resource* block = findResource(list, RT_STRING_ID, static_cast<std::uint16_t>(id / 16 + 1));
    if (!block) return std::nullopt;
    const Bytes& data = block->data;
    std::size_t at = 0;
    for (int index = 0; index < 16; ++index) {
        if (at + 2 > data.size()) return std::nullopt;
        const std::size_t length = get16(data, at);
        at += 2;
        if (length * 2 > data.size() - at) return std::nullopt;
        if (index == id % 16) {
            if (length == 0) return std::nullopt;
            std::u16string text(length, u'\0');
            for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(get16(data, at + 2 * i));
            return text;
        }
        at += length * 2;
    }
    return std::nullopt;
}

Bytes buildVersionResource(const VersionInfo& info) {
    const auto packed = [](const std::uint16_t (&v)[4], int half) {
        return static_cast<std::uint32_t>(v[2 * half]) << 16 | v[2 * half + 1];
    };
    Bytes fixed;
    append32(fixed, 0xfeef04bd);  // signature
    append32(fixed, 0x00010000);  // structure version 1.0
    append32(fixed, packed(info.fileVersion, 0));
    append32(fixed, packed(info.fileVersion, 1));
    append32(fixed, packed(info.productVersion, 0));
    append32(fixed, packed(info.productVersion, 1));
    append32(fixed, 0x3f);        // flags mask
    append32(fixed, 0);           // flags
    append32(fixed, 0x00040004);  // Windows NT, 32-bit Windows API
    append32(fixed, 1);           // application
    append32(fixed, 0);           // subtype
    append32(fixed, 0);           // date, high
    append32(fixed, 0);           // date, low

    std::vector<Bytes> strings;
    for (const auto& [key, text] : info.strings) {
        Bytes value;
        appendText(value, text);
        append16(value, 0);
        strings.push_back(versionNode(key, value, static_cast<std::uint16_t>(text.size() + 1), true, {}));
    }
    const Bytes table = versionNode(u"040904B0", {}, 0, true, strings);
    const Bytes stringInfo = versionNode(u"StringFileInfo", {}, 0, true, {table});
    Bytes translation;
    append16(translation, 0x0409);
    append16(translation, 1200);
    const Bytes var = versionNode(u"Translation", translation, 4, false, {});
    const Bytes varInfo = versionNode(u"VarFileInfo", {}, 0, true, {var});
    return versionNode(u"VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), false,
                       {stringInfo, varInfo});
}

std::optional<std::vector<Resource>> buildIconResources(const Bytes& icoFile, std::uint16_t groupId,
                                                        std::uint16_t firstIconId, std::uint16_t language,
                                                        std::string* error) {
    const auto fail = [&](const char* reason) -> std::optional<std::vector<Resource>> {
        if (error) *error = reason;
        return std::nullopt;
    };
    if (icoFile.size() < 6) return fail("icon file too small");
    if (get16(icoFile, 0) != 0 || get16(icoFile, 2) != 1) return fail("not an icon file (bad header)");
    const std::size_t count = get16(icoFile, 4);
    if (count == 0) return fail("icon file holds no images");
    if (icoFile.size() < 6 + 16 * count) return fail("icon directory truncated");
    if (firstIconId == 0 || firstIconId + count - 1 > 0xffff) return fail("icon ids out of range");

    std::vector<Resource> out;
    Bytes group;
    append16(group, 0);
    append16(group, 1);
    append16(group, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * i;
        const std::uint32_t size = get32(icoFile, entry + 8);
        const std::uint32_t offset = get32(icoFile, entry + 12);
        if (size == 0 || offset > icoFile.size() || size > icoFile.size() - offset)
            return fail("icon image lies outside the file");
        std::uint16_t planes = get16(icoFile, entry + 4);
        std::uint16_t bitCount = get16(icoFile, entry + 6);
        // Many .ico writers leave these zero; the group entry should carry the bitmap's own values.
        if ((planes == 0 || bitCount == 0) && size >= 16 && get32(icoFile, offset) == 40) {
            planes = get16(icoFile, offset + 12);
            bitCount = get16(icoFile, offset + 14);
        }
        const auto id = static_cast<std::uint16_t>(firstIconId + i);
        Resource icon;
        icon.type = ResourceName::number(RT_ICON_ID);
        icon.name = ResourceName::number(id);
        icon.language = language;
        icon.data.assign(icoFile.begin() + offset, icoFile.begin() + offset + size);
        out.push_back(std::move(icon));
        group.insert(group.end(), icoFile.begin() + static_cast<std::ptrdiff_t>(entry),
                     icoFile.begin() + static_cast<std::ptrdiff_t>(entry + 4));
        append16(group, planes);
        append16(group, bitCount);
        append32(group, size);
        append16(group, id);
    }
    Resource groupResource;
    groupResource.type = ResourceName::number(RT_GROUP_ICON_ID);
    groupResource.name = ResourceName::number(groupId);
    groupResource.language = language;
    groupResource.data = std::move(group);
    out.push_back(std::move(groupResource));
    return out;
}

} // namespace korvane::pe
