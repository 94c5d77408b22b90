#include "pack/packager.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

#include "archives/archive_format.h"
#include "launcher/settings_codec.h"
#include "launcher/settings_table.h"
#include "pack/bitmap.h"
#include "pack/platform.h"
#include "pack/utf.h"

namespace korvane::pack {

namespace fs = std::filesystem;

namespace {

// Everything added is language neutral, like the template's own resources, so that one
// language-independent lookup finds it.
constexpr std::uint16_t neutralLanguage = 0;
constexpr std::uint16_t launcherIconGroup = 1;

bool readFile(const fs::path& path, pe::Bytes& bytes, std::string* error, const std::string& what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + what + " \"" + path.u8string() + "\"";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "cannot read " + what + " \"" + path.u8string() + "\"";
        return false;
    }
    return true;
}

bool isLauncher(const pe::Image& image) {
    return pe::findResource(image.resources, pe::RT_DIALOG_ID, 101) &&
           pe::findResource(image.resources, pe::RT_MESSAGETABLE_ID, 1);
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool addArchives(const Config& config, std::vector<pe::Resource>& resources, std::string* error) {
    std::vector<ArchiveSource> sources;
    std::set<std::string> names;
    for (const fs::path& path : config.archives) {
        ArchiveSource source;
        source.name = path.filename().u8string();
        if (!names.insert(lowerCase(source.name)).second) {
            *error = "two archives have the file name \"" + source.name + "\"; they would overwrite each other when extracted";
            return false;
        }
        std::error_code code;
        if (!fs::is_regular_file(path, code)) {
            *error = "archive \"" + path.u8string() + "\" is missing or not a file";
            return false;
        }
        if (!readFile(path, source.bytes, error, "archive") || !lastWriteFileTime(path, &source.time)) {
            if (error->empty()) *error = "cannot read the time of archive \"" + path.u8string() + "\"";
            return false;
        }
        sources.push_back(std::move(source));
    }
    if (sources.empty()) return true;
    pe::Resource archive;
    archive.type = pe::ResourceName::number(pe::RT_RCDATA_ID);
    archive.name = pe::ResourceName::number(archiveResourceId);
    archive.language = neutralLanguage;
    if (!buildArchiveResource(sources, archive.data, error)) return false;
    pe::setResource(resources, std::move(archive));
    return true;
}

bool addSplash(const Config& config, std::vector<pe::Resource>& resources, std::string* error) {
    if (!config.splashBitmap) return true;
    pe::Bytes file;
    if (!readFile(*config.splashBitmap, file, error, "splash bitmap")) return false;
    std::string reason;
    auto dib = bitmapResourceFromFile(file, &reason);
    if (!dib) {
        *error = "splash bitmap \"" + config.splashBitmap->u8string() + "\" cannot be used: " + reason;
        return false;
    }
    pe::Resource bitmap;
    bitmap.type = pe::ResourceName::number(pe::RT_BITMAP_ID);
    bitmap.name = pe::ResourceName::number(splashBitmapId);
    bitmap.language = neutralLanguage;
    bitmap.data = std::move(*dib);
    pe::setResource(resources, std::move(bitmap));
    return true;
}

bool addIcon(const Config& config, std::vector<pe::Resource>& resources, std::string* error) {
    if (!config.icon) return true;
    pe::Bytes file;
    if (!readFile(*config.icon, file, error, "icon")) return false;
    std::string reason;
    auto icons = pe::buildIconResources(file, launcherIconGroup, 1, neutralLanguage, &reason);
    if (!icons) {
        *error = "icon \"" + config.icon->u8string() + "\" cannot be used: " + reason;
        return false;
    }
    pe::removeResources(resources, pe::RT_GROUP_ICON_ID);
    pe::removeResources(resources, pe::RT_ICON_ID);
    for (pe::Resource& icon : *icons) resources.push_back(std::move(icon));
    return true;
}

bool parseVersionNumber(const std::string& text, std::uint16_t (&out)[4]) {
    std::uint16_t parts[4] = {0, 0, 0, 0};
    std::size_t count = 0, at = 0;
    for (;;) {
        const std::size_t end = std::min(text.find('.', at), text.size());
        const std::string part = text.substr(at, end - at);
        if (count == 4 || part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(part) > 0xFFFF) {
            return false;
        }
        parts[count++] = static_cast<std::uint16_t>(std::stoul(part));
        if (end == text.size()) break;
        at = end + 1;
    }
    std::copy(parts, parts + 4, out);
    return true;
}

bool addVersion(const Config& config, std::vector<pe::Resource>& resources, std::string* error) {
    const VersionFields& v = config.version;
    if (!v.any()) return true;
    pe::VersionInfo info;
    const std::string fileVersion = v.fileVersion.empty() ? v.productVersion : v.fileVersion;
    const std::string productVersion = v.productVersion.empty() ? fileVersion : v.productVersion;
    if (!fileVersion.empty() && !parseVersionNumber(fileVersion, info.fileVersion)) {
        *error = "fileVersion: \"" + fileVersion + "\" is not a version number (up to four numbers, such as 1.2.3.4)";
        return false;
    }
    if (!productVersion.empty() && !parseVersionNumber(productVersion, info.productVersion)) {
        *error = "productVersion: \"" + productVersion + "\" is not a version number (up to four numbers, such as 1.2.3.4)";
        return false;
    }
    const std::pair<const char*, std::string> strings[] = {
        {"CompanyName", v.companyName},   {"FileDescription", v.fileDescription}, {"FileVersion", fileVersion},
        {"LegalCopyright", v.copyright},  {"ProductName", v.productName},         {"ProductVersion", productVersion},
    };
    for (const auto& [key, value] : strings) {
        if (!value.empty()) info.strings.emplace_back(utf8ToUtf16(key), utf8ToUtf16(value));
    }
    pe::Resource version;
    version.type = pe::ResourceName::number(pe::RT_VERSION_ID);
    version.name = pe::ResourceName::number(1);
    version.language = neutralLanguage;
    version.data = pe::buildVersionResource(info);
    pe::setResource(resources, std::move(version));
    return true;
}

} // namespace

std::optional<pe::Bytes> packageLauncher(const Config& config, const pe::Bytes& templateFile,
                                         const PackageOptions& options, std::string* error) {
    std::string reason;
    auto image = pe::parseImage(templateFile, &reason);
    if (!image) {
        *error = "the launcher template is not a valid Windows executable: " + reason;
        return std::nullopt;
    }
    if (!isLauncher(*image)) {
        *error = "the template is not a Korvane launcher (it lacks the launcher's error dialog and message table)";
        return std::nullopt;
    }
    if (image->hasSignature && !options.dropSignature) {
        *error = "the template is code-signed; writing into it would break the signature (use --drop-signature to "
                 "remove it, then sign the result again)";
        return std::nullopt;
    }
    std::vector<pe::Resource> resources = image->resources;
    std::vector<std::pair<std::uint16_t, std::u16string>> strings;
    for (const auto& [id, text] : config.settings) {
        std::u16string wide = utf8ToUtf16(text);
        if (wide.size() > pe::MAX_STRING_LENGTH) {
            *error = "setting " + std::to_string(id) + " is " + std::to_string(wide.size()) +
                     " characters long; a launcher holds at most " + std::to_string(pe::MAX_STRING_LENGTH);
            return std::nullopt;
        }
        strings.emplace_back(static_cast<std::uint16_t>(id), std::move(wide));
    }
    for (pe::Resource& block : pe::buildStringTable(strings, neutralLanguage)) pe::setResource(resources, std::move(block));

    if (!addArchives(config, resources, error) || !addSplash(config, resources, error) ||
        !addIcon(config, resources, error) || !addVersion(config, resources, error)) {
        return std::nullopt;
    }
    auto written = pe::writeImage(*image, resources, options.dropSignature, &reason);
    if (!written) {
        *error = "cannot write the launcher: " + reason;
        return std::nullopt;
    }
    return written;
}

namespace {

std::uint16_t read16(const pe::Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }

// Reads a NUL-terminated UTF-16 text at `at`; returns the offset after its NUL, or 0.
std::size_t readText16(const pe::Bytes& b, std::size_t at, std::size_t end, std::u16string& text) {
    text.clear();
    for (; at + 1 < end; at += 2) {
        const char16_t unit = read16(b, at);
        if (unit == 0) return at + 2;
        text += unit;
    }
    return 0;
}

std::size_t align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// Collects the String entries of every StringTable in a version resource.
void readVersionStrings(const pe::Bytes& b, std::size_t at, std::size_t end, int depth,
                        std::vector<std::pair<std::string, std::string>>& out) {
    while (at + 6 <= end && depth <= 3) {
        const std::size_t length = read16(b, at);
        const std::size_t valueLength = read16(b, at + 2);
        const bool textValue = read16(b, at + 4) == 1;
        if (length < 6 || at + length > end) return;
        const std::size_t blockEnd = at + length;
        std::u16string key;
        const std::size_t afterKey = readText16(b, at + 6, blockEnd, key);
        if (afterKey == 0) return;
        const std::size_t value = align4(afterKey);
        if (depth == 3 && textValue) {
            std::u16string text;
            if (value < blockEnd && valueLength > 0 && readText16(b, value, blockEnd, text) != 0) {
                out.emplace_back(utf16ToUtf8(key), utf16ToUtf8(text));
            }
        } else if (depth == 0) {
            readVersionStrings(b, align4(value + valueLength), blockEnd, 1, out);
        } else if (key == u"StringFileInfo" || depth == 2) {
            readVersionStrings(b, value, blockEnd, depth + 1, out);
        }
        if (depth == 0) return;
        at = align4(blockEnd);
    }
}

std::string machineName(const pe::Image& image) {
    switch (image.machine) {
    case pe::Machine::Amd64: return "x64";
    case pe::Machine::I386: return "x86";
    default: return "machine 0x" + std::to_string(image.rawMachine);
    }
}

std::string formatFileTime(std::uint64_t fileTime) {
    // Days to civil date, after Howard Hinnant's algorithm; no time-zone or C library involved.
    const std::int64_t seconds = static_cast<std::int64_t>(fileTime / 10000000u) - 11644473600LL;
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t secondOfDay = seconds - days * 86400;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(secondOfDay / 3600),
                  static_cast<long long>(secondOfDay / 60 % 60), static_cast<long long>(secondOfDay % 60));
    return text;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const SettingInfo* settingById(unsigned id) {
    for (const SettingInfo& info : settingTable) {
        if (info.id == id) return &info;
    }
    return nullptr;
}

} // namespace

std::optional<LauncherContents> inspectLauncher(const pe::Bytes& file, std::string* error) {
    std::string reason;
    auto image = pe::parseImage(file, &reason);
    if (!image) {
        *error = "not a Windows executable: " + reason;
        return std::nullopt;
    }
    if (!isLauncher(*image)) {
        *error = "not a Korvane launcher (it lacks the launcher's error dialog and message table)";
        return std::nullopt;
    }
    LauncherContents contents;
    contents.machine = machineName(*image);
    contents.signature = image->hasSignature;
    for (const SettingInfo& info : settingTable) {
        const auto text = pe::readString(image->resources, static_cast<std::uint16_t>(info.id));
        std::string value = text ? utf16ToUtf8(*text) : std::string();
        if (info.type == SettingType::Scrambled) {
            char plain[unscrambleResultSize];
            unscrambleText(value.c_str(), plain);
            value = plain;
        }
        contents.settings.emplace_back(info.id, value);
    }
    if (const pe::Resource* archive = pe::findResource(image->resources, pe::RT_RCDATA_ID, archiveResourceId)) {
        ArchiveReader reader(archive->data.data(), archive->data.size());
        ArchiveEntry entry;
        ArchiveStatus status;
        while ((status = reader.next(entry)) == ArchiveStatus::Entry) {
            contents.archives.push_back({entry.name, entry.size, entry.time});
        }
        if (status == ArchiveStatus::Truncated) contents.archiveProblem = "the archive resource is cut short";
        if (status == ArchiveStatus::UnsafeName) contents.archiveProblem = "the archive resource holds a name that is not a plain file name";
    }
    if (const pe::Resource* bitmap = pe::findResource(image->resources, pe::RT_BITMAP_ID, splashBitmapId)) {
        const auto size = packedBitmapSize(bitmap->data);
        contents.splashSize = size ? std::make_pair(size->width, std::abs(size->height)) : std::make_pair(0, 0);
    }
    contents.icon = std::any_of(image->resources.begin(), image->resources.end(),
                                [](const pe::Resource& r) { return r.type.id == pe::RT_GROUP_ICON_ID && r.type.name.empty(); });
    for (const pe::Resource& r : image->resources) {
        if (r.type.id == pe::RT_VERSION_ID && r.type.name.empty()) {
            readVersionStrings(r.data, 0, r.data.size(), 0, contents.version);
            if (contents.version.empty()) contents.version.emplace_back("", "");
        }
    }
    return contents;
}

std::string renderText(const LauncherContents& contents) {
    std::string out = "Launcher for " + contents.machine + (contents.signature ? ", code-signed" : "") + "\n\nSettings:\n";
    for (const auto& [id, value] : contents.settings) {
        char line[96];
        std::snprintf(line, sizeof line, "  %4u  %-31s ", id, settingById(id)->field);
        out += line + (value.empty() ? std::string("(empty)") : "\"" + value + "\"") + "\n";
    }
    out += "\nArchives: " + (contents.archives.empty() ? std::string("none") : std::to_string(contents.archives.size())) + "\n";
    for (const ArchiveInfo& archive : contents.archives) {
        char line[64];
        std::snprintf(line, sizeof line, "%12u bytes  ", archive.size);
        out += "  " + archive.name + "  " + line + formatFileTime(archive.time) + "\n";
    }
    if (!contents.archiveProblem.empty()) out += "  warning: " + contents.archiveProblem + "\n";
    out += "\nSplash bitmap: " + (contents.splashSize ? std::to_string(contents.splashSize->first) + " x " +
                                                            std::to_string(contents.splashSize->second)
                                                      : std::string("none")) + "\n";
    out += std::string("Icon: ") + (contents.icon ? "yes" : "none") + "\n";
    out += "Version block: " + std::string(contents.version.empty() ? "none" : "yes") + "\n";
    for (const auto& [key, value] : contents.version) {
        if (!key.empty()) out += "  " + key + ": " + value + "\n";
    }
    return out;
}

std::string renderJson(const LauncherContents& contents) {
    std::string out = "{\n";
    for (const auto& [id, value] : contents.settings) {
        const SettingInfo* info = settingById(id);
        std::string json;
        if (info->type == SettingType::Flag) {
            json = readFlag(value.c_str()) ? "true" : "false";
        } else if (info->type == SettingType::Integer) {
            json = std::to_string(readInteger(value.c_str()));
        } else {
            json = jsonString(value);
        }
        out += "  " + jsonString(info->field) + ": " + json + ",\n";
    }
    out += "  \"archives\": [";
    for (std::size_t i = 0; i < contents.archives.size(); ++i) {
        const ArchiveInfo& a = contents.archives[i];
        out += std::string(i ? ", " : "") + "{\"name\": " + jsonString(a.name) + ", \"size\": " + std::to_string(a.size) +
               ", \"time\": " + std::to_string(a.time) + "}";
    }
    out += "],\n";
    if (!contents.archiveProblem.empty()) out += "  \"archiveProblem\": " + jsonString(contents.archiveProblem) + ",\n";
    out += "  \"splashBitmap\": " + (contents.splashSize ? "{\"width\": " + std::to_string(contents.splashSize->first) +
                                                               ", \"height\": " + std::to_string(contents.splashSize->second) + "}"
                                                         : std::string("null")) + ",\n";
    out += std::string("  \"icon\": ") + (contents.icon ? "true" : "false") + ",\n";
    out += "  \"version\": ";
    if (contents.version.empty()) {
        out += "null";
    } else {
        out += "{";
        bool first = true;
        for (const auto& [key, value] : contents.version) {
            if (key.empty()) continue;
            out += std::string(first ? "" : ", ") + jsonString(key) + ": " + jsonString(value);
            first = false;
        }
        out += "}";
    }
    out += ",\n  \"machine\": " + jsonString(contents.machine) + ",\n  \"signed\": " + (contents.signature ? "true" : "false") + "\n}\n";
    return out;
}

} // namespace korvane::pack
