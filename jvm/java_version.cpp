#include "jvm/java_version.h"

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

} // namespace korvane
