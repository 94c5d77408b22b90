#include "jvm/percent_expansion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace korvane;

namespace {

struct FakeEnvironment {
    std::map<std::string, std::string> values;
    std::vector<std::string> asked;
};

const char* lookUp(const char* name, void* context) {
    auto* environment = static_cast<FakeEnvironment*>(context);
    environment->asked.push_back(name);
    const auto found = environment->values.find(name);
    return found == environment->values.end() ? nullptr : found->second.c_str();
}

std::string expand(const char* text, const char* javaHome, FakeEnvironment& environment) {
    char* expanded = expandPercentReferences(text, javaHome, lookUp, &environment);
    std::string result = expanded;
    std::free(expanded);
    return result;
}

} // namespace

TEST(ExpandPercentReferences, Table) {
    FakeEnvironment environment;
    environment.values = {
        {"APPDIR", "C:\\app"},
        {"QUOTED", "\"C:\\Program Files\\x\""},
        {"LEADING", "\"C:\\a"},
        {"TRAILING", "C:\\b\""},
        {"INNER", "a\"b"},
        {"ONLY_QUOTES", "\"\""},
        {"ONE_QUOTE", "\""},
        {"EMPTY", ""},
        {"JAVA_HOME", "C:\\from-environment"},
        {"java_home", "C:\\lower"},
        {"PCT", "%APPDIR%"},
    };
    struct Row {
        const char* text;
        const char* javaHome;
        const char* expected;
    } rows[] = {
        {"", "", ""},
        {"-Xmx512m", "", "-Xmx512m"},
        {"%APPDIR%\\lib", "", "C:\\app\\lib"},
        {"a%APPDIR%b%APPDIR%c", "", "aC:\\appbC:\\appc"},
        {"-Xmx%HEAP%", "", "-Xmx"},
        {"-Dp=%QUOTED%", "", "-Dp=C:\\Program Files\\x"},
        {"%LEADING%|%TRAILING%|%INNER%", "", "C:\\a|C:\\b|a\"b"},
        {"[%ONLY_QUOTES%][%ONE_QUOTE%][%EMPTY%]", "", "[][][]"},
        {"%JAVA_HOME%\\bin", "C:\\jdk", "C:\\jdk\\bin"},
        {"%JAVA_HOME%\\bin", "", "\\bin"},
        {"%JAVA_HOME%", "\"C:\\quoted home\"", "\"C:\\quoted home\""},
        {"%java_home%", "C:\\jdk", "C:\\lower"},
        {"100%%", "", "100"},
        {"a%%b", "", "ab"},
        {"50% off", "", "50 off"},
        {"%APPDIR%;50%x", "", "C:\\app;50x"},
        {"%", "", ""},
        {"%PCT%", "", "%APPDIR%"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(expand(row.text, row.javaHome, environment), row.expected);
    }
}

TEST(ExpandPercentReferences, JavaHomeAndEmptyNamesNeverReachTheEnvironment) {
    FakeEnvironment environment;
    environment.values = {{"JAVA_HOME", "C:\\from-environment"}};
    EXPECT_EQ(expand("%JAVA_HOME%%%-%X%", "", environment), "-");
    EXPECT_EQ(environment.asked, std::vector<std::string>{"X"});
}
