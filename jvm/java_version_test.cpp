#include "jvm/java_version.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "launcher/settings_codec.h"

using namespace korvane;

TEST(ReadVersionName, LeadingDottedNumbers) {
    struct Row {
        const char* name;
        bool readable;
        std::uint32_t first;
        std::uint32_t second;
    } rows[] = {
        {"1.8.0_392", true, 1, 8},
        {"1.5.0_06", true, 1, 5},
        {"1.10", true, 1, 10},
        {"17.0.2", true, 17, 0},
        {"21", true, 21, 0},
        {"11-ea", true, 11, 0},
        {"1.", true, 1, 0},
        {"1.x", true, 1, 0},
        {"99999999999.7", true, 0xFFFFFFFFu, 7},
        {"", false, 0, 0},
        {"v17", false, 0, 0},
        {".5", false, 0, 0},
        {nullptr, false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name ? row.name : "<null>");
        VersionName version;
        version.first = version.second = 77;
        EXPECT_EQ(readVersionName(row.name, &version), row.readable);
        EXPECT_EQ(version.first, row.first);
        EXPECT_EQ(version.second, row.second);
    }
}

TEST(VersionQualifies, AgainstStoredMinimum) {
    struct Row {
        const char* minimum; // as stored in minJavaVersion
        const char* name;
        bool qualifies;
    } rows[] = {
        {"0x00010005", "1.4.2", false},
        {"0x00010005", "1.4.2_08", false},
        {"0x00010005", "1.5", true},
        {"0x00010005", "1.5.0", true},
        {"0x00010005", "1.5.0_06", true},
        {"0x00010005", "1.6", true},
        {"0x00010005", "1.10", true},
        {"0x00010005", "2.0", false}, // feature release 2: no runtime names itself so
        {"0x00010008", "1.7.0_80", false},
        {"0x00010008", "1.8.0_392", true},
        {"0x00010008", "9", true},
        {"0x00010008", "11", true},
        {"0x00010008", "17.0.2", true},
        {"0x00010008", "21", true},
        // 17 in both stored forms; the old one needs all 16 low bits (0x11), not four (0x1).
        {"0x00010011", "1.8.0_392", false},
        {"0x00010011", "11", false},
        {"0x00010011", "1.16", false},
        {"0x00010011", "16.0.2", false},
        {"0x00010011", "17", true},
        {"0x00010011", "17.0.2", true},
        {"0x00010011", "21", true},
        {"0x00110000", "1.8.0_392", false},
        {"0x00110000", "11", false},
        {"0x00110000", "17", true},
        {"0x00110000", "17.0.2", true},
        {"0x00110000", "21", true},
        {"0x00110000", "1.17", true},
        // Without a leading number a name never qualifies, however low the minimum.
        {"", "jre", false},
        {"0x00010005", "", false},
        {"", "1.1", true},
        {"", "0", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.minimum) + " / " + row.name);
        EXPECT_EQ(versionQualifies(row.name, readHex(row.minimum)), row.qualifies);
    }
}

TEST(RequiredRelease, BothStoredForms) {
    EXPECT_EQ(requiredRelease(0x00010005u), 5u);
    EXPECT_EQ(requiredRelease(0x00010011u), 17u);
    EXPECT_EQ(requiredRelease(0x00110000u), 17u);
    EXPECT_EQ(requiredRelease(0x00150003u), 21u);
    EXPECT_EQ(requiredRelease(0u), 0u);
}

TEST(VersionInRange, MaximumByFeatureRelease) {
    struct Row {
        const char* minimum;
        const char* maximum; // as stored in maxJavaVersion; empty: no maximum
        const char* name;
        bool inRange;
    } rows[] = {
        {"0x00010008", "", "25", true},
        {"0x00010008", "0x000B0000", "1.8.0_392", true},
        {"0x00010008", "0x000B0000", "11", true},
        {"0x00010008", "0x000B0000", "11.0.21", true},
        {"0x00010008", "0x000B0000", "17", false},
        {"0x00010008", "0x000B0000", "1.7", false},
        {"0x00010008", "0x00010008", "1.8.0_392", true}, // old-style maximum
        {"0x00010008", "0x00010008", "9", false},
        {"0x00110000", "0x00110000", "17.0.9", true},
        {"0x00110000", "0x00110000", "21", false},
        {"", "0x00150000", "jre", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.minimum) + " to " + row.maximum + ": " + row.name);
        EXPECT_EQ(versionInRange(row.name, readHex(row.minimum), readHex(row.maximum)), row.inRange);
    }
}

TEST(CompareVersionNames, NewestByReleaseThenUpdate) {
    struct Row {
        const char* older;
        const char* newer;
    } rows[] = {
        {"11", "17"},
        {"1.8.0_392", "9"},
        {"9", "17.0.2"},
        {"17.0.9", "17.0.10"},
        {"17.0.2", "17.0.2.1"},
        {"1.8.0_202", "1.8.0_392"},
        {"1.8", "1.8.0_392"},
        {"17.0.9.9", "21.0.1.12"},
        {"jre", "1.5"},
        {"", "9"},
        {"16.0.2", "1.17"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.older) + " < " + row.newer);
        EXPECT_LT(compareVersionNames(row.older, row.newer), 0);
        EXPECT_GT(compareVersionNames(row.newer, row.older), 0);
    }
    const std::array<std::array<const char*, 2>, 3> same = {{
        {"8.0.392", "1.8.0_392"}, {"17.0.9.9-hotspot", "17.0.9.9"}, {"jre", "x"}}};
    for (const auto& pair : same) {
        SCOPED_TRACE(std::string(pair[0]) + " = " + pair[1]);
        EXPECT_EQ(compareVersionNames(pair[0], pair[1]), 0);
    }
}

TEST(VersionInName, FromTheFirstDigit) {
    struct Row {
        const char* name;
        const char* version; // nullptr: none
    } rows[] = {
        {"jdk-17.0.2", "17.0.2"},       {"zulu-21", "21"},      {"jdk1.8.0_392", "1.8.0_392"},
        {"LibericaJDK-17", "17"},       {"17", "17"},           {"jdk-11.0.21.9-hotspot", "11.0.21.9-hotspot"},
        {"current", nullptr},           {"", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const char* found = versionInName(row.name);
        EXPECT_STREQ(found, row.version);
    }
    EXPECT_EQ(versionInName(nullptr), nullptr);
}

TEST(ReadReleaseVersion, JavaVersionLine) {
    struct Row {
        const char* label;
        const char* text;
        std::size_t size;
        const char* version; // nullptr: not found
    } rows[] = {
        {"JDK 17", "IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"17.0.9\"\nJAVA_VERSION_DATE=\"2023-10-17\"\n", 64,
         "17.0.9"},
        {"JDK 8, CRLF", "JAVA_VERSION=\"1.8.0_392\"\r\nOS_NAME=\"Windows\"\r\n", 64, "1.8.0_392"},
        {"date line first", "JAVA_VERSION_DATE=\"2023-10-17\"\nJAVA_VERSION=\"21\"", 64, "21"},
        {"unquoted", "JAVA_VERSION=11.0.2\n", 64, "11.0.2"},
        {"cut to fit", "JAVA_VERSION=\"17.0.9\"\n", 3, "17"},
        {"not at a line start", "XJAVA_VERSION=\"17\"\n", 64, nullptr},
        {"missing", "IMPLEMENTOR=\"x\"\n", 64, nullptr},
        {"empty", "", 64, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        char out[64];
        std::strcpy(out, "untouched");
        EXPECT_EQ(readReleaseVersion(row.text, out, row.size), row.version != nullptr);
        EXPECT_STREQ(out, row.version ? row.version : "untouched");
    }
}
