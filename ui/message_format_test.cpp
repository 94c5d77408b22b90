#include "ui/message_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace korvane;

TEST(FormatMessage, Table) {
    struct Row {
        const char* label;
        const char* format;
        const char* argument;
        const char* expected;
        bool formatted;
    } rows[] = {
        {"argument taken", "Error accessing file/directory: %s", "C:\\app", "Error accessing file/directory: C:\\app", true},
        {"no argument needed", "An instance of this program is already running.", nullptr,
         "An instance of this program is already running.", true},
        {"percent sign", "100%% done", nullptr, "100% done", true},
        {"argument text is never a format", "Cannot open %s", "C:\\%s\\%d%n", "Cannot open C:\\%s\\%d%n", true},
        {"stray percent shown as it stands", "Disk 100% full", nullptr, "Disk 100% full", false},
        {"%s without an argument", "Already running: %s", nullptr, "Already running: %s", false},
        {"second %s", "%s and %s", "x", "%s and %s", false},
        {"other conversion", "%d files", "x", "%d files", false},
        {"percent at the end", "50%", "x", "50%", false},
        {"empty", "", nullptr, "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        char out[256];
        EXPECT_EQ(formatMessage(row.format, row.argument, out, sizeof out), row.formatted);
        EXPECT_STREQ(out, row.expected);
    }
}

TEST(FormatMessage, LongTextsAreCutToTheBuffer) {
    const std::string argument(10000, 'a');
    char out[8192];
    formatMessage("x %s y", argument.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), "x " + std::string(8189, 'a'));
    char tiny[1];
    formatMessage("abc", nullptr, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "");
}

TEST(JoinReason, MessageThenReason) {
    char out[64];
    joinReason("Internal error RC000001", "Access is denied.\r\n", out, sizeof out);
    EXPECT_STREQ(out, "Internal error RC000001\n\nReason: Access is denied.\r\n");
    char small[20];
    joinReason("Internal error RC000001", "x", small, sizeof small);
    EXPECT_STREQ(small, "Internal error RC00");
}

TEST(JoinDetails, MessageEmptyLineDetails) {
    char* text = joinDetails("Error invoking method: main", "line 1\r\nline 2");
    EXPECT_STREQ(text, "Error invoking method: main\n\nDetails:\nline 1\r\nline 2");
    std::free(text);
}

TEST(CenteredPosition, Table) {
    struct Row {
        int screenWidth, screenHeight, width, height, x, y;
    } rows[] = {
        {1024, 768, 300, 200, 362, 284},
        {1024, 768, 301, 201, 361, 283},
        {800, 600, 1000, 700, -100, -50},
        {800, 600, 1001, 701, -100, -50}, // toward zero, not floor
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height));
        const WindowPosition p = centeredPosition(row.screenWidth, row.screenHeight, row.width, row.height);
        EXPECT_EQ(p.x, row.x);
        EXPECT_EQ(p.y, row.y);
    }
}
