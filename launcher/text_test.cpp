#include "launcher/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace korvane;

namespace {

std::vector<std::string> split(const char* text, bool reserve = false) {
    ArgumentList list = splitArguments(text, reserve);
    std::vector<std::string> words;
    for (int i = 0; i < list.count; ++i) words.push_back(list.slots[i] ? list.slots[i] : "<null>");
    if (list.count == 0) EXPECT_EQ(list.slots, nullptr);
    freeArguments(list);
    return words;
}

using Words = std::vector<std::string>;

} // namespace

TEST(SplitArguments, Table) {
    struct Row {
        const char* label;
        const char* text;
        Words expected;
    } rows[] = {
        {"two words", "a b", {"a", "b"}},
        {"leading blanks skipped", "   a b", {"a", "b"}},
        {"two blanks give an empty argument", "a  b", {"a", "", "b"}},
        {"one trailing blank", "a b ", {"a", "b"}},
        {"two trailing blanks", "a b  ", {"a", "b", ""}},
        {"only blanks", "   ", {""}},
        {"quoted path", "\"C:\\Program Files\\app\" x", {"C:\\Program Files\\app", "x"}},
        {"first and last character go", "\"abc\"def", {"abc\"de"}},
        {"unclosed quote", "\"abc def", {"abc de"}},
        {"inner quotes kept", "a\"b c\"d", {"a\"b c\"d"}},
        {"two quotes", "\"\"", {""}},
        {"lone quote", "\"", {""}},
        {"tab is ordinary", "a\tb", {"a\tb"}},
        {"unclosed quote ending in a blank keeps its text", "\"abc ", {"abc"}},
        {"empty", "", {}},
        {"null", nullptr, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(split(row.text), row.expected);
    }
}

TEST(SplitArguments, ReservedFirstSlot) {
    EXPECT_EQ(split("", true), Words({"<null>"}));
    EXPECT_EQ(split(nullptr, true), Words({"<null>"}));
    EXPECT_EQ(split("a b", true), Words({"<null>", "a", "b"}));
}

TEST(NextToken, CutsInPlaceAndSkipsRuns) {
    char text[] = ";;a;;b;";
    char* cursor = nullptr;
    EXPECT_STREQ(nextToken(text, ";", &cursor), "a");
    EXPECT_STREQ(nextToken(text, ";", &cursor), "b");
    EXPECT_EQ(nextToken(text, ";", &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(std::memcmp(text, ";;a\0;b\0", 8), 0);
}

TEST(NextToken, EdgeCases) {
    char last[] = "x;y";
    char* cursor = nullptr;
    EXPECT_STREQ(nextToken(last, ";", &cursor), "x");
    EXPECT_STREQ(nextToken(last, ";", &cursor), "y");
    EXPECT_EQ(nextToken(last, ";", &cursor), nullptr);

    char onlySeparators[] = ";;;";
    cursor = nullptr;
    EXPECT_EQ(nextToken(onlySeparators, ";", &cursor), nullptr);

    cursor = nullptr;
    EXPECT_EQ(nextToken(nullptr, ";", &cursor), nullptr);
}

TEST(AppendText, GrowthSteps) {
    struct Row {
        const char* label;
        std::uint32_t startLength;
        std::uint32_t added;
        std::uint32_t expectedCapacity;
    } rows[] = {
        {"first append of 10 characters", 0, 10, 1024},
        {"first append of 300 characters", 0, 300, 1200},
        {"20 more on 1010 of 1024", 1010, 20, 2048},
        {"fits exactly", 1000, 23, 1024},
        {"one over", 1000, 24, 2048},
        {"large append grows by four times its length", 1010, 400, 2624},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TextBuffer buffer;
        // Small first piece, so that the buffer starts at the minimum capacity of 1024.
        for (std::uint32_t filled = 0; filled < row.startLength; filled += 10) appendText(&buffer, "xxxxxxxxxx");
        const std::string added(row.added, 'y');
        appendText(&buffer, added.c_str());
        EXPECT_EQ(buffer.capacity, row.expectedCapacity);
        EXPECT_EQ(buffer.length, row.startLength + row.added);
        EXPECT_EQ(std::strlen(buffer.text), buffer.length);
        EXPECT_EQ(std::string(buffer.text).substr(row.startLength), added);
        releaseText(&buffer);
    }
}

TEST(AppendText, EmptyAndNullChangeNothing) {
    TextBuffer buffer;
    appendText(&buffer, "");
    appendText(&buffer, nullptr);
    EXPECT_EQ(buffer.text, nullptr);
    EXPECT_EQ(buffer.capacity, 0u);
}

TEST(SkipProgramName, Table) {
    struct Row {
        const char* label;
        const char* commandLine;
        const char* arguments;
    } rows[] = {
        {"plain name", "app.exe a b", "a b"},
        {"quoted name with blanks", "\"C:\\Program Files\\app.exe\" -x", "-x"},
        {"tabs and blanks after the name", "app.exe \t  a", "a"},
        {"name only", "app.exe", ""},
        {"unclosed quote", "\"C:\\app b", ""},
        {"quote glued to the arguments", "\"app.exe\"a b", "a b"},
        {"non-ASCII first argument", "app.exe \xCE\xA9\xCE\xBC x", "\xCE\xA9\xCE\xBC x"},
        {"non-ASCII in the name", "\xC3\xA9.exe \xC3\xA9", "\xC3\xA9"},
        {"empty", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_STREQ(skipProgramName(row.commandLine), row.arguments);
    }
    EXPECT_STREQ(skipProgramName(nullptr), "");
}
