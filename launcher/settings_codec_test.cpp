#include "launcher/settings_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace korvane;

TEST(Scramble, RoundTripsThroughTheStoredForm) {
    const char* names[] = {"com.example.Main", "a", "", "Kv7Rq2Lm9ZxT4bWe-and-beyond-the-cycle-length",
                           "\xC3\xA9t\xC3\xA9.Main"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string stored = scrambleText(name);
        EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        char plain[unscrambleResultSize];
        ASSERT_TRUE(unscrambleText(stored.c_str(), plain));
        EXPECT_STREQ(plain, name);
    }
}

TEST(Scramble, TheSeventeenthByteOfTheCycleKeepsItsValue) {
    const std::string plain(18, 'q');
    const std::string stored = scrambleText(plain);
    EXPECT_EQ(stored.substr(32, 2), "71"); // 'q' unchanged at position 16
    EXPECT_NE(stored.substr(0, 2), "71");
}

TEST(Scramble, LongestPlainTextFitsTheResultArea) {
    const std::string plain(255, 'x');
    char result[unscrambleResultSize];
    ASSERT_TRUE(unscrambleText(scrambleText(plain).c_str(), result));
    EXPECT_EQ(std::string(result), plain);
}

TEST(Scramble, DamagedStoredFormsYieldAnEmptyText) {
    const std::string tooLong = scrambleText(std::string(256, 'x'));
    struct Row {
        const char* label;
        std::string stored;
    } rows[] = {
        {"odd length", scrambleText("abc") + "A"},
        {"lower-case digits", "2a2b"},
        {"not hexadecimal", "4G00"},
        {"more than 510 digits", tooLong},
        {"thousands of digits", std::string(100000, 'A')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        char result[unscrambleResultSize];
        std::memset(result, 'z', sizeof result);
        EXPECT_FALSE(unscrambleText(row.stored.c_str(), result));
        EXPECT_STREQ(result, "");
    }
    char result[unscrambleResultSize];
    EXPECT_TRUE(unscrambleText("", result));
    EXPECT_STREQ(result, "");
}

TEST(SettingValues, Flags) {
    struct Row {
        const char* text;
        bool expected;
    } rows[] = {{"", true}, {"1", true}, {"2", true}, {"x", true}, {"0", false}, {"0abc", false}, {" 0", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(readFlag(row.text), row.expected);
    }
}

TEST(SettingValues, Integers) {
    struct Row {
        const char* text;
        std::int32_t expected;
    } rows[] = {{"", 0},   {"abc", 0},         {"6", 6},           {"-1", -1},
                {"  42x", 42}, {"+7", 7},      {"99999999999", 2147483647},
                {"-99999999999", -2147483647 - 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(readInteger(row.text), row.expected);
    }
}

TEST(SettingValues, Hexadecimal) {
    struct Row {
        const char* text;
        std::uint32_t expected;
    } rows[] = {{"0x00010005", 0x00010005u}, {"00010005", 0x00010005u}, {"0X110000", 0x110000u},
                {"", 0u},                    {"zz", 0u},                {"  0x1f", 0x1fu},
                {"0x123456789", 0xFFFFFFFFu}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(readHex(row.text), row.expected);
    }
}
