#include "pack/config.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include <toml++/toml.h>

#include "launcher/settings_codec.h"
#include "launcher/settings_table.h"

namespace korvane::pack {

namespace fs = std::filesystem;

namespace {

const char* const fileKeys[] = {"archives", "splashBitmap", "icon"};
const char* const versionKeys[] = {"fileVersion", "productVersion", "productName", "fileDescription", "companyName",
                                   "copyright"};
// Settings the launcher splits at ";", which a config may also write as arrays.
const char* const listKeys[] = {"classPath", "jvmPathList", "serviceDependencies"};

struct Range {
    const char* field;
    long long low, high;
};
const Range integerRanges[] = {
    {"extractionMode", 0, 2}, {"stdoutMode", 0, 2}, {"stderrMode", 0, 2}, {"splashSeconds", 0, 3600}, {"priorityIndex", 0, 5},
};

const SettingInfo* findSetting(const std::string& field) {
    for (const SettingInfo& info : settingTable) {
        if (field == info.field) return &info;
    }
    return nullptr;
}

template <typename List>
bool contains(const List& list, const std::string& key) {
    return std::find_if(std::begin(list), std::end(list), [&](const char* k) { return key == k; }) != std::end(list);
}

std::string typeName(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::array: return "an array";
    case toml::node_type::table: return "a table";
    default: return "a date or time";
    }
}

std::string where(const toml::node& node) {
    return "line " + std::to_string(node.source().begin.line);
}

// 0x00010008 and 0x00080000 both mean release 8, as the launcher reads them.
unsigned featureReleaseOf(const std::string& stored) {
    const std::uint32_t value = readHex(stored.c_str());
    return (value >> 16) == 1 ? (value & 0xFFFF) : (value >> 16);
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool storeSetting(Config& config, const SettingInfo& info, const std::string& value, std::string* error) {
    switch (info.type) {
    case SettingType::Scrambled:
        if (!isJavaClassName(value)) {
            *error = std::string(info.field) + ": \"" + value +
                     "\" is not a Java class name (for example com.example.Main; ASCII letters, digits, _ and $)";
            return false;
        }
        config.settings[info.id] = scrambleText(value);
        return true;
    case SettingType::Hex: {
        if (value.empty() && !info.defaultText[0]) break; // an optional version: empty means none
        const auto stored = javaVersionToStored(value);
        if (!stored) {
            *error = std::string(info.field) + ": \"" + value + "\" is not a Java version (write 1.8, 11, 17 or 0x00010008)";
            return false;
        }
        config.settings[info.id] = *stored;
        return true;
    }
    case SettingType::Message:
    case SettingType::MessageArg: {
        std::string problem;
        if (!isSafeMessage(value, info.type == SettingType::MessageArg, &problem)) {
            *error = std::string(info.field) + ": " + problem;
            return false;
        }
        break;
    }
    default:
        break;
    }
    config.settings[info.id] = value;
    return true;
}

bool readSetting(Config& config, const SettingInfo& info, const toml::node& node, std::string* error) {
    const std::string prefix = std::string(info.field) + " (" + where(node) + "): ";
    switch (info.type) {
    case SettingType::Flag:
        if (!node.is_boolean()) {
            *error = prefix + "expected true or false, found " + typeName(node);
            return false;
        }
        config.settings[info.id] = *node.value<bool>() ? "1" : "0";
        return true;
    case SettingType::Integer: {
        if (!node.is_integer()) {
            *error = prefix + "expected an integer, found " + typeName(node);
            return false;
        }
        const long long value = *node.value<long long>();
        for (const Range& range : integerRanges) {
            if (info.field == std::string(range.field) && (value < range.low || value > range.high)) {
                *error = prefix + std::to_string(value) + " is out of range (" + std::to_string(range.low) + " to " +
                         std::to_string(range.high) + ")";
                return false;
            }
        }
        config.settings[info.id] = std::to_string(value);
        return true;
    }
    case SettingType::Hex:
        if (node.is_integer()) return storeSetting(config, info, std::to_string(*node.value<long long>()), error);
        break;
    default:
        break;
    }
    std::string text;
    if (node.is_array() && contains(listKeys, info.field)) {
        for (const toml::node& item : *node.as_array()) {
            if (!item.is_string()) {
                *error = prefix + "list items must be strings, found " + typeName(item);
                return false;
            }
            if (!text.empty()) text += ';';
            text += *item.value<std::string>();
        }
    } else if (node.is_string()) {
        text = *node.value<std::string>();
    } else {
        *error = prefix + "expected a string" + (contains(listKeys, info.field) ? " or an array of strings" : "") +
                 ", found " + typeName(node);
        return false;
    }
    if (!storeSetting(config, info, text, error)) {
        *error = prefix + error->substr(std::string(info.field).size() + 2);
        return false;
    }
    return true;
}

std::optional<fs::path> readPath(const toml::node& node, const fs::path& base, const std::string& key,
                                 std::string* error) {
    if (!node.is_string() || node.value<std::string>()->empty()) {
        *error = key + " (" + where(node) + "): expected a file path, found " + typeName(node);
        return std::nullopt;
    }
    return (base / fs::u8path(*node.value<std::string>())).lexically_normal();
}

} // namespace

Config defaultConfig() {
    Config config;
    for (const SettingInfo& info : settingTable) config.settings[info.id] = info.defaultText;
    config.settings[id_splashUntilWindow] = "0"; // no splash bitmap yet
    return config;
}

bool setSettingText(Config& config, const std::string& field, const std::string& value, std::string* error) {
    const SettingInfo* info = findSetting(field);
    if (!info) {
        *error = "unknown setting \"" + field + "\"";
        return false;
    }
    return storeSetting(config, *info, value, error);
}

std::optional<Config> readConfigFile(const fs::path& file, std::string* error) {
    toml::table table;
    try {
        table = toml::parse_file(file.u8string());
    } catch (const toml::parse_error& e) {
        const auto& source = e.source();
        *error = file.u8string() + ":" + std::to_string(source.begin.line) + ": " + std::string(e.description());
        return std::nullopt;
    }
    const fs::path base = file.has_parent_path() ? file.parent_path() : fs::path(".");
    Config config = defaultConfig();
    bool messageGiven = false, splashWatchGiven = false;
    for (auto&& [key, node] : table) {
        const std::string name(key.str());
        const std::string prefix = file.u8string() + ": ";
        if (const SettingInfo* info = findSetting(name)) {
            if (!readSetting(config, *info, node, error)) {
                *error = prefix + *error;
                return std::nullopt;
            }
            messageGiven |= info->id == id_runtimeNotFoundMessage;
            splashWatchGiven |= info->id == id_splashUntilWindow;
        } else if (name == "archives") {
            const toml::array* list = node.as_array();
            if (!list) {
                *error = prefix + "archives (" + where(node) + "): expected an array of jar paths, found " + typeName(node);
                return std::nullopt;
            }
            for (const toml::node& item : *list) {
                auto path = readPath(item, base, "archives", error);
                if (!path) {
                    *error = prefix + *error;
                    return std::nullopt;
                }
                config.archives.push_back(*path);
            }
        } else if (name == "splashBitmap" || name == "icon") {
            auto path = readPath(node, base, name, error);
            if (!path) {
                *error = prefix + *error;
                return std::nullopt;
            }
            (name == "icon" ? config.icon : config.splashBitmap) = *path;
        } else if (contains(versionKeys, name)) {
            if (!node.is_string()) {
                *error = prefix + name + " (" + where(node) + "): expected a string, found " + typeName(node);
                return std::nullopt;
            }
            const std::string value = *node.value<std::string>();
            VersionFields& v = config.version;
            std::string* fields[] = {&v.fileVersion, &v.productVersion, &v.productName, &v.fileDescription,
                                     &v.companyName, &v.copyright};
            for (std::size_t i = 0; i < std::size(versionKeys); ++i) {
                if (name == versionKeys[i]) *fields[i] = value;
            }
        } else {
            *error = prefix + "unknown key \"" + name + "\" (" + where(node) + "); did you mean \"" + nearestKey(name) + "\"?";
            return std::nullopt;
        }
    }
    // Watching for the application's window keeps a splash up; with no bitmap there is nothing
    // to keep, and the watch would only slow every start down.
    if (!splashWatchGiven) config.settings[id_splashUntilWindow] = config.splashBitmap ? "1" : "0";
    const std::string& maximum = config.settings[id_maxJavaVersion];
    if (!maximum.empty() && featureReleaseOf(maximum) < featureReleaseOf(config.settings[id_minJavaVersion])) {
        *error = file.u8string() + ": maxJavaVersion " + storedToJavaVersionName(maximum) + " is below minJavaVersion " +
                 storedToJavaVersionName(config.settings[id_minJavaVersion]) + "; no runtime could qualify";
        return std::nullopt;
    }
    if (!messageGiven) {
        std::string text = findSetting("runtimeNotFoundMessage")->defaultText;
        const std::string::size_type at = text.find("1.5");
        text.replace(at, 3, storedToJavaVersionName(config.settings[id_minJavaVersion]));
        config.settings[id_runtimeNotFoundMessage] = text;
    }
    return config;
}

std::optional<std::string> javaVersionToStored(const std::string& text) {
    unsigned major = 0, minor = 0;
    char tail = 0;
    char stored[16];
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10 || text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) return std::nullopt;
        const unsigned long value = std::strtoul(text.c_str() + 2, nullptr, 16);
        std::snprintf(stored, sizeof stored, "0x%08lX", value);
        return std::string(stored);
    }
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
    int fields = std::sscanf(text.c_str(), "%u.%u%c", &major, &minor, &tail);
    if (fields == 3 || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    if (std::count(text.begin(), text.end(), '.') > (fields == 2 ? 1 : 0)) return std::nullopt;
    if (major > 0xFFFF || minor > 0xFFFF || major == 0) return std::nullopt;
    if (fields == 2 && major != 1 && minor != 0) return std::nullopt; // 17.0 means 17; 17.1 means nothing
    const bool oldStyle = fields == 2 && major == 1;
    std::snprintf(stored, sizeof stored, "0x%04X%04X", oldStyle ? 1u : major, oldStyle ? minor : 0u);
    return std::string(stored);
}

std::string storedToJavaVersionName(const std::string& stored) {
    const std::uint32_t value = readHex(stored.c_str());
    const unsigned major = value >> 16, minor = value & 0xFFFF;
    if (major == 1) return "1." + std::to_string(minor);
    return std::to_string(major);
}

bool isJavaClassName(const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    bool atStart = true;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '.') {
            if (atStart) return false;
            atStart = true;
        } else if (std::isalpha(u) || c == '_' || c == '$' || (!atStart && std::isdigit(u))) {
            atStart = false;
        } else {
            return false;
        }
    }
    return !atStart;
}

bool isSafeMessage(const std::string& text, bool takesArgument, std::string* problem) {
    int arguments = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (next == '%') {
            ++i;
        } else if (next == 's' && takesArgument && arguments == 0) {
            ++arguments;
            ++i;
        } else {
            *problem = std::string("\"") + text + "\" has a \"%" + (next ? std::string(1, next) : std::string()) +
                       "\" at position " + std::to_string(i + 1) + "; write \"%%\" for a percent sign" +
                       (takesArgument ? " and use at most one \"%s\"" : " (this message takes no argument)");
            return false;
        }
    }
    return true;
}

std::string nearestKey(const std::string& unknown) {
    std::string best;
    std::size_t bestDistance = ~std::size_t{0};
    auto consider = [&](const char* key) {
        const std::size_t distance = editDistance(unknown, key);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = key;
        }
    };
    for (const SettingInfo& info : settingTable) consider(info.field);
    for (const char* key : fileKeys) consider(key);
    for (const char* key : versionKeys) consider(key);
    return best;
}

} // namespace korvane::pack
