#include "jvm/java_version.h"

#include <cstring>

namespace korvane {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

const char* readNumber(const char* p, std::uint32_t* number) {
    std::uint64_t value = 0;
    for (; isDigit(*p); ++p) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
    }
    *number = static_cast<std::uint32_t>(value);
    return p;
}

// Release first, then up to five more numbers; separators are any non-digits (".", "_", "-",
// "+"). Stops at a letter so that "17.0.9.9-hotspot" and "17.0.9.9" rank alike.
constexpr int rankSize = 6;
void versionRank(const char* name, std::uint32_t (&rank)[rankSize]) {
    for (std::uint32_t& number : rank) number = 0;
    VersionName version;
    if (!readVersionName(name, &version)) return;
    rank[0] = featureRelease(version) + 1; // any readable name outranks an unreadable one
    const char* p = name;
    std::uint32_t ignored;
    p = readNumber(p, &ignored);
    if (version.first == 1 && *p == '.' && isDigit(p[1])) p = readNumber(p + 1, &ignored);
    for (int i = 1; i < rankSize; ++i) {
        while (*p == '.' || *p == '_' || *p == '-' || *p == '+') ++p;
        if (!isDigit(*p)) return;
        p = readNumber(p, &rank[i]);
    }
}

} // namespace

bool readVersionName(const char* name, VersionName* version) {
    *version = VersionName{};
    if (!name || !isDigit(*name)) return false;
    const char* p = readNumber(name, &version->first);
    if (p[0] == '.' && isDigit(p[1])) readNumber(p + 1, &version->second);
    return true;
}

std::uint32_t featureRelease(const VersionName& version) {
    return version.first == 1 ? version.second : version.first;
}

std::uint32_t requiredRelease(std::uint32_t minimum) {
    const std::uint32_t major = minimum >> 16;
    return major == 1 ? (minimum & 0xFFFFu) : major;
}

bool versionQualifies(const char* name, std::uint32_t minimum) {
    VersionName version;
    return readVersionName(name, &version) && featureRelease(version) >= requiredRelease(minimum);
}

bool versionInRange(const char* name, std::uint32_t minimum, std::uint32_t maximum) {
    if (!versionQualifies(name, minimum)) return false;
    VersionName version;
    readVersionName(name, &version);
    return maximum == 0 || featureRelease(version) <= requiredRelease(maximum);
}

int compareVersionNames(const char* a, const char* b) {
    std::uint32_t left[rankSize], right[rankSize];
    versionRank(a, left);
    versionRank(b, right);
    for (int i = 0; i < rankSize; ++i) {
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

const char* versionInName(const char* name) {
    for (; name && *name; ++name) {
        if (isDigit(*name)) return name;
    }
    return nullptr;
}

bool readReleaseVersion(const char* releaseText, char* out, std::size_t size) {
    static const char key[] = "JAVA_VERSION=";
    for (const char* line = releaseText; line && *line;) {
        if (std::strncmp(line, key, sizeof key - 1) == 0) {
            const char* value = line + sizeof key - 1;
            if (*value == '"') ++value;
            std::size_t length = 0;
            while (value[length] && value[length] != '"' && value[length] != '\r' && value[length] != '\n') ++length;
            if (length >= size) length = size - 1;
            std::memcpy(out, value, length);
            out[length] = '\0';
            return true;
        }
        line = std::strchr(line, '\n');
        if (line) ++line;
    }
    return false;
}

} // namespace korvane
