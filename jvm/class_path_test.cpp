#include "jvm/class_path.h"

#include <gtest/gtest.h>

#include <string>

using namespace korvane;

TEST(IsArchiveName, SuffixInAnyCase) {
    struct Row {
        const char* name;
        bool archive;
    } rows[] = {
        {"a.jar", true}, {"b.ZIP", true}, {"c.Jar", true}, {".jar", true}, {"x.zIp", true},
        {"jar", false},  {"a.jarx", false}, {"a.ja", false}, {"notes.txt", false}, {"a_jar", false},
        {"", false},     {"a.tar", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isArchiveName(row.name), row.archive);
    }
}

TEST(FolderPattern, TrimmedFolderAndPattern) {
    struct Row {
        const char* folder;
        const char* trimmed;
        const char* pattern;
    } rows[] = {
        {"lib", "lib", "lib\\*.*"},
        {"lib\\", "lib", "lib\\*.*"},
        {"lib/", "lib", "lib\\*.*"},
        {"lib\\\\", "lib\\", "lib\\\\*.*"}, // one character only
        {"lib/\\", "lib/", "lib/\\*.*"},
        {".", ".", "*.*"},
        {".\\", ".", "*.*"},
        {"C:\\", "C:", "C:\\*.*"},
        {"..", "..", "..\\*.*"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.folder);
        std::string folder = row.folder;
        trimFolderSeparator(folder.data());
        EXPECT_STREQ(folder.c_str(), row.trimmed);
        TextBuffer pattern;
        appendSearchPattern(&pattern, folder.c_str());
        EXPECT_STREQ(pattern.text, row.pattern);
        releaseText(&pattern);
    }
}

TEST(AppendClassPathOption, JoinsEntriesIntoOneQuotedOption) {
    struct Row {
        const char* options;
        const char* classPath; // entries each followed by ";"
        const char* expected;
    } rows[] = {
        {"-Xmx1g", "a.jar;", "-Xmx1g \"-Djava.class.path=a.jar\""},
        {"-Xmx1g", "lib;lib\\a.jar;C:\\Program Files\\b.jar;",
         "-Xmx1g \"-Djava.class.path=lib;lib\\a.jar;C:\\Program Files\\b.jar\""},
        {"", "a.jar;", " \"-Djava.class.path=a.jar\""},
        {"-Xmx1g", "", "-Xmx1g"},
        {"", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.options) + " + " + row.classPath);
        TextBuffer options;
        TextBuffer classPath;
        appendText(&options, row.options);
        appendText(&classPath, row.classPath);
        appendClassPathOption(&options, &classPath);
        EXPECT_STREQ(options.text ? options.text : "", row.expected);
        releaseText(&options);
        releaseText(&classPath);
    }
}
