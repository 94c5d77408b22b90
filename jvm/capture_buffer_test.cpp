#include "jvm/capture_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace korvane;

namespace {

void append(CaptureBuffer& buffer, const std::string& text) { appendCapturedText(buffer, text.data(), text.size()); }

std::string line(int number, std::size_t length) {
    std::string text = "line " + std::to_string(number) + " ";
    text.resize(length - 1, 'x');
    return text + "\n";
}

} // namespace

TEST(CaptureBuffer, KeepsTheLastWholeLinesThatFit) {
    CaptureBuffer buffer{};
    std::string all;
    for (int i = 1; i <= 200; ++i) { // 20,000 characters in lines of 100
        append(buffer, line(i, 100));
        all += line(i, 100);
    }
    const std::string held(buffer.text, buffer.length);
    EXPECT_LE(held.size(), 8191u);
    EXPECT_GT(held.size(), 8191u - 200); // dropping stops near the limit
    EXPECT_EQ(all.substr(all.size() - held.size()), held); // a tail of the output...
    EXPECT_EQ(held.rfind("line ", 0), 0u);                // ...that starts with a whole line
    EXPECT_EQ(held.back(), '\n');
    EXPECT_EQ(held.find("line 200 "), held.size() - 100);
}

TEST(CaptureBuffer, WithoutLineFeedsTheOldTextGoesWhole) {
    CaptureBuffer buffer{};
    append(buffer, std::string(8000, 'a'));
    append(buffer, std::string(500, 'b'));
    EXPECT_EQ(std::string(buffer.text, buffer.length), std::string(500, 'b'));
    EXPECT_EQ(buffer.text[buffer.length], '\0');
}

TEST(CaptureBuffer, ExactFitKeepsEverything) {
    CaptureBuffer buffer{};
    append(buffer, std::string(8000, 'a') + "\n");
    append(buffer, std::string(190, 'b'));
    EXPECT_EQ(buffer.length, 8191u);
    append(buffer, "c");
    EXPECT_EQ(std::string(buffer.text, buffer.length), std::string(190, 'b') + "c");
}

TEST(CaptureBuffer, OversizedInputIsCutToTheCallerLimit) {
    CaptureBuffer buffer{};
    append(buffer, std::string(9000, 'z'));
    EXPECT_EQ(buffer.length, 8190u);
}

TEST(ExpandLineFeeds, CarriageReturnBeforeEveryLineFeed) {
    char out[32];
    EXPECT_EQ(expandLineFeeds("a\nb", 3, out), 4u);
    EXPECT_STREQ(out, "a\r\nb");
    EXPECT_EQ(expandLineFeeds("\n\n", 2, out), 4u);
    EXPECT_STREQ(out, "\r\n\r\n");
}

TEST(LineAssembler, PassesWholeLinesAndFullBuffers) {
    struct Row {
        const char* label;
        std::vector<std::string> reads;
        std::vector<std::string> passed;
        std::size_t left;
    } rows[] = {
        {"two lines in one read", {"a\nbc\n"}, {"a\n", "bc\n"}, 0},
        {"a line over two reads", {"ab", "c\nd"}, {"abc\n"}, 1},
        {"no line feed: chunks of 1,024", {std::string(1024, 'q'), "r"}, {std::string(1024, 'q')}, 1},
        {"full buffer after a line", {"x\n" + std::string(1022, 'q'), "qq"}, {"x\n", std::string(1024, 'q')}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        LineAssembler assembler;
        std::vector<std::string> passed;
        for (const std::string& read : row.reads) {
            const std::size_t room = LineAssembler::size - assembler.count;
            const std::size_t taken = read.size() < room ? read.size() : room;
            std::memcpy(assembler.bytes + assembler.count, read.data(), taken);
            assembleLines(assembler, taken, [&](const char* text, std::size_t length) { passed.emplace_back(text, length); });
        }
        EXPECT_EQ(passed, row.passed);
        EXPECT_EQ(assembler.count, row.left);
    }
}

TEST(ConsoleRows, RowsPerReadAndTrimming) {
    EXPECT_EQ(consoleRowsPerRead(80), 102);
    EXPECT_EQ(consoleRowsPerRead(120), 68);
    EXPECT_EQ(consoleRowsPerRead(32767), 1);
    EXPECT_EQ(consoleRowsPerRead(0), 1);
    EXPECT_EQ(trimmedRowLength("ab  c   ", 8), 5u);
    EXPECT_EQ(trimmedRowLength("        ", 8), 0u);
}
