#include "pack/config.h"

#include <gtest/gtest.h>

#include <fstream>

#include <unistd.h>

#include "launcher/settings_codec.h"
#include "launcher/settings_table.h"

using namespace korvane;
using namespace korvane::pack;
namespace fs = std::filesystem;

namespace {

class ConfigFile : public ::testing::Test {
protected:
    fs::path folder = fs::temp_directory_path() / ("korvane-config-test-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(folder / "sub"); }
    void TearDown() override { fs::remove_all(folder); }

    std::optional<Config> read(const std::string& text, std::string* error) {
        const fs::path file = folder / "sub" / "app.toml";
        std::ofstream(file) << text;
        return readConfigFile(file, error);
    }
    std::string errorOf(const std::string& text) {
        std::string error;
        EXPECT_FALSE(read(text, &error).has_value()) << text;
        return error;
    }
};

} // namespace

TEST_F(ConfigFile, EverySettingTakesItsTypicalValueWhenLeftOut) {
    std::string error;
    auto config = read("mainClass = \"com.example.Main\"\n", &error);
    ASSERT_TRUE(config) << error;
    for (const SettingInfo& info : settingTable) {
        SCOPED_TRACE(info.field);
        ASSERT_EQ(config->settings.count(info.id), 1u);
        if (info.type != SettingType::Scrambled && info.id != id_runtimeNotFoundMessage && info.id != id_splashUntilWindow) {
            EXPECT_EQ(config->settings[info.id], info.defaultText);
        }
    }
    EXPECT_EQ(config->settings[id_splashUntilWindow], "0"); // no bitmap, so no window watch
    EXPECT_EQ(config->settings[id_runtimeNotFoundMessage].rfind("Unable to locate Java Runtime Environment 1.5 on this machine. ", 0), 0u);
}

TEST_F(ConfigFile, ValuesAreStoredAsTheLauncherReadsThem) {
    std::string error;
    auto config = read(R"toml(
mainClass = "com.example.Main"
classPath = ["lib", "app.jar"]
serviceDependencies = "Tcpip;Dnscache"
allowMultipleInstances = true
removeTemporaryArchives = false
stdoutMode = 2
minJavaVersion = "17"
maxJavaVersion = 21
fileAccessMessage = "Cannot open %s (100%% sure)"
archives = ["../jars/app.jar", "/abs/lib.jar"]
splashBitmap = "splash.bmp"
productName = "Hello"
)toml", &error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->settings[id_mainClass], scrambleText("com.example.Main"));
    EXPECT_EQ(config->settings[id_classPath], "lib;app.jar");
    EXPECT_EQ(config->settings[id_serviceDependencies], "Tcpip;Dnscache");
    EXPECT_EQ(config->settings[id_allowMultipleInstances], "1");
    EXPECT_EQ(config->settings[id_removeTemporaryArchives], "0");
    EXPECT_EQ(config->settings[id_stdoutMode], "2");
    EXPECT_EQ(config->settings[id_minJavaVersion], "0x00110000");
    EXPECT_EQ(config->settings[id_maxJavaVersion], "0x00150000");
    EXPECT_EQ(config->settings[id_runtimeNotFoundMessage].find("Java Runtime Environment 17 on this machine."), 17u);
    EXPECT_EQ(config->settings[id_fileAccessMessage], "Cannot open %s (100%% sure)");
    ASSERT_EQ(config->archives.size(), 2u);
    EXPECT_EQ(config->archives[0], (folder / "jars" / "app.jar").lexically_normal());
    EXPECT_EQ(config->archives[1], fs::path("/abs/lib.jar"));
    EXPECT_EQ(*config->splashBitmap, (folder / "sub" / "splash.bmp").lexically_normal());
    EXPECT_EQ(config->version.productName, "Hello");
    EXPECT_EQ(config->settings[id_splashUntilWindow], "1"); // a bitmap: the typical window watch
}

TEST_F(ConfigFile, BadInputIsNamedInOneLine) {
    struct Row {
        const char* label;
        const char* text;
        const char* expected; // part of the error
    } rows[] = {
        {"unknown key with a suggestion", "mainClas = \"a.B\"", "unknown key \"mainClas\" (line 1); did you mean \"mainClass\"?"},
        {"flag given as text", "allowMultipleInstances = \"yes\"", "allowMultipleInstances (line 1): expected true or false, found a string"},
        {"integer given as text", "stdoutMode = \"1\"", "stdoutMode (line 1): expected an integer"},
        {"integer out of range", "priorityIndex = 9", "priorityIndex (line 1): 9 is out of range (0 to 5)"},
        {"text given as number", "jvmOptions = 5", "jvmOptions (line 1): expected a string, found an integer"},
        {"list item not text", "classPath = [\"a\", 1]", "classPath (line 1): list items must be strings"},
        {"array where no list is allowed", "jvmOptions = [\"-Xmx1g\"]", "expected a string, found an array"},
        {"not a class name", "mainClass = \"com.example.\"", "is not a Java class name"},
        {"class name with a blank", "mainClass = \"com.Main Class\"", "is not a Java class name"},
        {"not a version", "minJavaVersion = \"seventeen\"", "is not a Java version"},
        {"empty minimum", "minJavaVersion = \"\"", "minJavaVersion (line 1): \"\" is not a Java version"},
        {"maximum not a version", "maxJavaVersion = \"latest\"", "is not a Java version"},
        {"maximum below minimum", "minJavaVersion = \"17\"\nmaxJavaVersion = \"1.8\"",
         "maxJavaVersion 1.8 is below minJavaVersion 17; no runtime could qualify"},
        {"stray percent", "alreadyRunningMessage = \"Disk 100% full\"", "has a \"% \" at position 9"},
        {"argument where none is given", "alreadyRunningMessage = \"Already %s\"", "this message takes no argument"},
        {"two arguments", "fileAccessMessage = \"%s and %s\"", "at most one \"%s\""},
        {"other conversion", "fileAccessMessage = \"%d\"", "has a \"%d\""},
        {"archives not a list", "archives = \"app.jar\"", "archives (line 1): expected an array of jar paths"},
        {"TOML syntax", "mainClass = ", "app.toml:1:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string error = errorOf(row.text);
        EXPECT_NE(error.find(row.expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(JavaVersions, StoredForms) {
    struct Row {
        const char* text;
        const char* stored; // nullptr: refused
    } rows[] = {
        {"1.5", "0x00010005"}, {"1.8", "0x00010008"}, {"11", "0x000B0000"}, {"17", "0x00110000"},
        {"17.0", "0x00110000"}, {"0x00010011", "0x00010011"}, {"0x110000", "0x00110000"}, {"17.1", nullptr},
        {"1.8.0", nullptr},    {"", nullptr},          {"x17", nullptr},      {"0", nullptr},
        {"0x", nullptr},       {"0x123456789", nullptr}, {"99999", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const auto stored = javaVersionToStored(row.text);
        if (row.stored) {
            ASSERT_TRUE(stored.has_value());
            EXPECT_EQ(*stored, row.stored);
        } else {
            EXPECT_FALSE(stored.has_value()) << *stored;
        }
    }
    EXPECT_EQ(storedToJavaVersionName("0x00010008"), "1.8");
    EXPECT_EQ(storedToJavaVersionName("0x00150000"), "21");
}
