#include "jvm/java_version.h"

#include <gtest/gtest.h>

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
