// Reads a launcher written by korvane-pack back through the Windows API, and loads its settings
// with the launcher's own code. The end-to-end suite prepares the folder given as the first
// argument: launcher.exe, expected.txt (one "ID<tab>text" line per setting, plus "splash<tab>W<tab>H"),
// archives.txt (the archive file names, in order) with the files themselves in archives/.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archives/archive_format.h"
#include "launcher/settings_table.h"
#include "launcher/settings_win.h"

using namespace korvane;

namespace {

std::string folder;

std::vector<std::string> lines(const std::string& file) {
    std::ifstream in(folder + "\\" + file, std::ios::binary);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.push_back(line);
    }
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class PackagedLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryExA((folder + "\\launcher.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << "cannot load launcher.exe, error " << GetLastError();
        for (const std::string& line : lines("expected.txt")) {
            const auto tab = line.find('\t');
            expected[line.substr(0, tab)] = line.substr(tab + 1);
        }
    }
    void TearDown() override { FreeLibrary(module); }

    HMODULE module = nullptr;
    std::map<std::string, std::string> expected;
};

} // namespace

TEST_F(PackagedLauncher, LoadStringReadsEverySettingWhole) {
    std::size_t checked = 0;
    for (const SettingInfo& info : settingTable) {
        const auto found = expected.find(std::to_string(info.id));
        if (found == expected.end()) continue; // a text the ANSI code page may not hold
        SCOPED_TRACE(info.field);
        std::vector<char> buffer(70000);
        const int length = LoadStringA(module, info.id, buffer.data(), static_cast<int>(buffer.size()));
        EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0)), found->second);
        ++checked;
    }
    EXPECT_GE(checked, std::size(settingTable) - 3);
}

TEST_F(PackagedLauncher, IdsBetweenSettingsAreEmpty) {
    char buffer[16] = "untouched";
    for (UINT id : {1025u, 1039u, 1201u, 1871u}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(LoadStringA(module, id, buffer, sizeof buffer), 0);
    }
}

TEST_F(PackagedLauncher, ArchiveResourceHoldsTheJarsInOrder) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(archiveResourceId), MAKEINTRESOURCEA(10));
    ASSERT_NE(found, nullptr);
    const DWORD size = SizeofResource(module, found);
    const void* data = LockResource(LoadResource(module, found));
    ASSERT_NE(data, nullptr);
    ArchiveReader reader(data, size);
    const std::vector<std::string> names = lines("archives.txt");
    EXPECT_EQ(reader.count(), names.size());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ArchiveEntry entry;
        ASSERT_EQ(reader.next(entry), ArchiveStatus::Entry);
        EXPECT_EQ(std::string(entry.name), "\\" + name);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data), entry.size),
                  readFile(folder + "\\archives\\" + name));
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        ASSERT_TRUE(GetFileAttributesExA((folder + "\\archives\\" + name).c_str(), GetFileExInfoStandard, &attributes));
        EXPECT_EQ(entry.time, (static_cast<std::uint64_t>(attributes.ftLastWriteTime.dwHighDateTime) << 32) |
                                  attributes.ftLastWriteTime.dwLowDateTime);
    }
    ArchiveEntry entry;
    EXPECT_EQ(reader.next(entry), ArchiveStatus::End);
}

TEST_F(PackagedLauncher, SplashBitmapLoads) {
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(splashBitmapId));
    ASSERT_NE(bitmap, nullptr) << "error " << GetLastError();
    BITMAP info{};
    ASSERT_NE(GetObjectA(bitmap, sizeof info, &info), 0);
    std::istringstream size(expected["splash"]);
    int width = 0, height = 0;
    size >> width >> height;
    EXPECT_EQ(info.bmWidth, width);
    EXPECT_EQ(info.bmHeight, height);
    DeleteObject(bitmap);
}

TEST_F(PackagedLauncher, KeepsTheTemplatesDialogMessageTableAndManifest) {
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5)), nullptr);
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr);
    // Each event id of the message table formats its one insertion string and a line break.
    for (DWORD id : {0x40000001ul, 0xC0000002ul}) {
        SCOPED_TRACE(id);
        DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>("a 100% literal %s text")};
        char text[128] = "";
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id, 0,
                                            text, sizeof text, reinterpret_cast<va_list*>(inserts));
        EXPECT_EQ(std::string(text, length), "a 100% literal %s text\r\n");
    }
}

TEST_F(PackagedLauncher, LoadSettingsDecodesAndAppliesTheIniFile) {
    struct Row {
        const char* label;
        const char* ini; // nullptr: no file
        const char* jvmOptions;
        const char* appOptions;
    } rows[] = {
        {"both keys", "[Application Configuration]\r\nJvmOptions=-Xmx512m\r\nAppOptions=from ini\r\n", "-Xmx512m", "from ini"},
        {"JvmOptions only", "[Application Configuration]\r\nJvmOptions=-Xmx512m\r\n", "-Xmx512m", nullptr},
        {"empty value changes nothing", "[Application Configuration]\r\nJvmOptions=\r\nAppOptions=\r\n", nullptr, nullptr},
        {"other section", "[Other]\r\nJvmOptions=-Xmx1g\r\n", nullptr, nullptr},
        {"no file", nullptr, nullptr, nullptr},
    };
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    const std::string iniPath = folder + "\\" + expected["1232"];
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        DeleteFileA(iniPath.c_str());
        if (row.ini) std::ofstream(iniPath, std::ios::binary) << row.ini;
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
        loadSettings(module);
        EXPECT_STREQ(settings.jvmOptions, row.jvmOptions ? row.jvmOptions : expected["1056"].c_str());
        EXPECT_STREQ(settings.appOptions, row.appOptions ? row.appOptions : expected["1216"].c_str());
    }
    DeleteFileA(iniPath.c_str());

    EXPECT_STREQ(settings.mainClass, "org/example/app/Main$Inner");
    EXPECT_EQ(std::string(settings.mainClassStored), expected["1200"]);
    EXPECT_EQ(settings.minJavaVersionNumber, 0x00010008u);
    EXPECT_EQ(std::string(settings.classPath).size(), 3000u);
    EXPECT_FALSE(settings.removeTemporaryArchives);
    EXPECT_TRUE(settings.allowMultipleInstances);
    EXPECT_FALSE(settings.useStartDirectory);
    EXPECT_TRUE(settings.workingDirectoryFirst);
    EXPECT_EQ(settings.extractionMode, 1);
    EXPECT_EQ(settings.stderrMode, 2);
    EXPECT_EQ(settings.priorityIndex, 4);
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), static_cast<DWORD>(BELOW_NORMAL_PRIORITY_CLASS));
    EXPECT_STREQ(settings.alreadyRunningMessage, "Already running (100%% sure).");
    EXPECT_STREQ(settings.serviceStopTimeoutMessage, expected["1856"].c_str());
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: settings_wintest FOLDER\n");
        return 2;
    }
    folder = argv[1];
    return RUN_ALL_TESTS();
}
