// Which Java versions a launcher accepts. Registry version names come in two styles: the old
// "1.<release>" ("1.5.0_06", "1.8.0_392") and, from release 9 on, "<release>[.<minor>...]"
// ("9", "17.0.2"). Both are reduced to the feature release before comparing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

struct VersionName {
    std::uint32_t first = 0;
    std::uint32_t second = 0; // 0 when the name has no second number
};

// The leading dotted numbers of a version name, of any number of digits each; numbers too
// large for 32 bits saturate. False when the name does not begin with a digit.
bool readVersionName(const char* name, VersionName* version);

// 1.x is release x; any other first number is the release itself.
std::uint32_t featureRelease(const VersionName& version);

// The minimum as stored in minJavaVersion: major in the high 16 bits, minor in the low 16.
// 0x00010011 (1.17) and 0x00110000 (17.0) both mean release 17.
std::uint32_t requiredRelease(std::uint32_t minimum);

bool versionQualifies(const char* name, std::uint32_t minimum);

// versionQualifies, and not above maximum (stored like the minimum; 0 means no maximum).
bool versionInRange(const char* name, std::uint32_t minimum, std::uint32_t maximum);

// Orders two version names by release, then by the numbers that follow, whatever separates
// them ("1.8.0_392" is release 8, update 392; "17.0.10" is newer than "17.0.9"). Negative,
// zero or positive like strcmp. A name without a leading number is older than any other.
int compareVersionNames(const char* a, const char* b);

// The text from the first digit of a folder or key name on ("jdk-17.0.2" -> "17.0.2",
// "zulu-21" -> "21"); null when the name holds no digit.
const char* versionInName(const char* name);

// The value of JAVA_VERSION="..." in the text of a runtime's "release" file, copied into out
// (cut to fit). False when the line is missing.
bool readReleaseVersion(const char* releaseText, char* out, std::size_t size);

} // namespace korvane
