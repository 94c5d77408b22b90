// Runtime discovery and class path assembly against a real registry and real folders.
// Run under Wine by tests/e2e/test_discovery.py and tests/e2e/test_class_path.py. The tests
// own the six runtime keys under HKEY_LOCAL_MACHINE while they run and remove them afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "jvm/class_path_win.h"
#include "jvm/pe_machine.h"
#include "jvm/runtime_discovery_win.h"
#include "jvm/runtime_sources.h"
#include "launcher/launch_state.h"
#include "launcher/settings.h"
#include "launcher/settings_codec.h"
#include "launcher/text.h"

using namespace korvane;

namespace {

std::wstring longPath(const std::string& path) { return L"\\\\?\\" + std::wstring(path.begin(), path.end()); }

// Wide functions with the \\?\ prefix, so that trees deeper than MAX_PATH can be made and removed.
void createFolders(const std::string& path) {
    for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        CreateDirectoryW(longPath(path.substr(0, at)).c_str(), nullptr);
    }
    CreateDirectoryW(longPath(path).c_str(), nullptr);
}

void removeTree(const std::string& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(longPath(path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring wide = found.cFileName;
            if (wide == L"." || wide == L"..") continue;
            const std::string child = path + "\\" + std::string(wide.begin(), wide.end());
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                DeleteFileW(longPath(child).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(longPath(path).c_str());
}

// A fresh folder under %TEMP%, current while the object lives, then removed.
class ScratchFolder {
public:
    ScratchFolder() {
        static int count = 0;
        GetCurrentDirectoryA(sizeof saved_, saved_);
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        path_ = std::string(temp) + "kvjvm" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
        removeTree(path_);
        createFolders(path_);
        SetCurrentDirectoryA(path_.c_str());
    }
    ~ScratchFolder() {
        SetCurrentDirectoryA(saved_);
        removeTree(path_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string full(const std::string& relative) const { return path_ + "\\" + relative; }
    std::string folder(const std::string& relative) const {
        createFolders(full(relative));
        return full(relative);
    }
    std::string file(const std::string& relative) const {
        const std::string path = full(relative);
        createFolders(path.substr(0, path.rfind('\\')));
        HANDLE file = CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
        CloseHandle(file);
        return path;
    }

private:
    char saved_[MAX_PATH] = {};
    std::string path_;
};

void setText(char*& field, const char* value) {
    std::free(field);
    field = value ? copyText(value) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Registry

void deleteRuntimeKeys() {
    for (const char* key : runtimeRegistryKeys) RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    for (const char* key : modernJavaSoftKeys) RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    for (const VendorKey& vendor : vendorKeys) RegDeleteTreeA(HKEY_LOCAL_MACHINE, vendor.key);
    // The vendor keys go only when nothing else is left in them.
    for (const char* vendor : {"Software\\JavaSoft", "Software\\IBM", "Software\\JRockit", "Software\\Eclipse Adoptium",
                               "Software\\AdoptOpenJDK", "Software\\Azul Systems", "Software\\BellSoft"}) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, vendor);
    }
}

void writeText(const std::string& keyPath, const char* name, const std::string& value, DWORD type = REG_SZ,
               HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS)
        << keyPath;
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

void putCurrentVersion(int keyIndex, const std::string& version) {
    writeText(runtimeRegistryKeys[keyIndex], "CurrentVersion", version);
}

// A version subkey; an empty javaHome or runtimeLib is left out.
void putVersion(int keyIndex, const std::string& version, const std::string& javaHome, const std::string& runtimeLib) {
    const std::string key = std::string(runtimeRegistryKeys[keyIndex]) + "\\" + version;
    HKEY created;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(created);
    if (!javaHome.empty()) writeText(key, "JavaHome", javaHome);
    if (!runtimeLib.empty()) writeText(key, "RuntimeLib", runtimeLib);
}

class DiscoveryTest : public testing::Test {
protected:
    void SetUp() override {
        deleteRuntimeKeys();
        use("01234", "", "0x00010005");
    }
    void TearDown() override { deleteRuntimeKeys(); }

    static void use(const char* order, const char* pathList, const char* minimum) {
        setText(settings.jreSearchOrder, order);
        setText(settings.jvmPathList, pathList);
        setText(settings.minJavaVersion, minimum);
        settings.minJavaVersionNumber = readHex(minimum);
    }

    // The library found, or "<none>".
    static std::string find() {
        struct {
            char result[MAX_PATH];
            char guard[64];
        } area;
        std::memset(&area, 'x', sizeof area);
        const bool found = findRuntimeLibrary(area.result);
        EXPECT_EQ(found, area.result[0] != '\0') << "the result is filled exactly when discovery succeeds";
        EXPECT_EQ(std::string(area.guard, sizeof area.guard), std::string(sizeof area.guard, 'x'));
        return found ? std::string(area.result) : "<none>";
    }

    ScratchFolder scratch;
};

TEST_F(DiscoveryTest, SearchOrderSelectsStrategies) {
    const std::string listed = scratch.file("listed\\jvm.dll");
    const std::string registered = scratch.file("registered\\jvm.dll");
    putCurrentVersion(0, "1.8");
    putVersion(0, "1.8", scratch.full("registered"), registered);
    struct Row {
        const char* order;
        std::string expected;
        std::string javaHome;
    } rows[] = {
        {"", "<none>", ""},
        {"9x-", "<none>", ""},
        {" ", "<none>", ""},
        {"10", registered, scratch.full("registered")},
        {"x1y0", registered, scratch.full("registered")},
        {"01", listed, ""},
        {"50001", listed, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("order \"") + row.order + "\"");
        use(row.order, listed.c_str(), "0x00010005");
        std::strcpy(foundJavaHome, "left over");
        EXPECT_EQ(find(), row.expected);
        EXPECT_STREQ(foundJavaHome, row.javaHome.c_str());
    }
}

TEST_F(DiscoveryTest, CurrentVersionFirstThenSubkeysByEnumeration) {
    struct Row {
        const char* minimum;
        const char* current;
        std::vector<const char*> versions; // each with a library of its own
        const char* expected;              // version whose library is found, or null
    } rows[] = {
        {"0x00010005", "1.4", {"1.3.1", "1.4", "1.5.0_06", "abc"}, "1.5.0_06"},
        {"0x00110000", "11", {"1.8.0_392", "11", "17.0.2", "9"}, "17.0.2"},
        {"0x00010011", "1.8", {"1.8", "16", "21", "jre"}, "21"},
        // A qualifying current version wins over a qualifying subkey the registry lists first.
        {"0x00010008", "21", {"17", "21"}, "21"},
        {"0x00010008", "1.7", {"1.6", "1.7", "abc"}, nullptr},
        // Without CurrentVersion the subkeys are still enumerated.
        {"0x00010008", nullptr, {"1.8.0_392"}, "1.8.0_392"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("minimum ") + row.minimum + ", current " + (row.current ? row.current : "none"));
        deleteRuntimeKeys();
        if (row.current) putCurrentVersion(0, row.current);
        for (const char* version : row.versions) {
            putVersion(0, version, "", scratch.file(std::string("rt\\") + version + "\\jvm.dll"));
        }
        use("1", "", row.minimum);
        EXPECT_EQ(find(), row.expected ? scratch.full(std::string("rt\\") + row.expected + "\\jvm.dll") : "<none>");
    }
}

TEST_F(DiscoveryTest, LibraryBelowJavaHomeByStrategy) {
    struct Row {
        const char* order;
        int keyIndex;
        const char* belowHome; // the only library file, under JavaHome
        bool found;
    } rows[] = {
        {"3", 3, "jre\\bin\\server\\jvm.dll", true},
        {"2", 3, "jre\\bin\\client\\jvm.dll", true},
        {"2", 5, "jre\\bin\\jrockit\\jvm.dll", true},
        {"4", 3, "jre\\bin\\classic\\jvm.dll", true},
        {"4", 4, "jre\\bin\\classic\\jvm.dll", true},
        {"3", 3, "jre\\bin\\client\\jvm.dll", false},
        {"2", 5, "jre\\bin\\client\\jvm.dll", false},
        {"2", 4, "jre\\bin\\client\\jvm.dll", false},
        {"3", 0, "jre\\bin\\server\\jvm.dll", false},
        {"1", 0, "jre\\bin\\server\\jvm.dll", false},
    };
    int count = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("order ") + row.order + ", key " + runtimeRegistryKeys[row.keyIndex] + ", " + row.belowHome);
        deleteRuntimeKeys();
        const std::string home = scratch.folder("jdk" + std::to_string(++count));
        const std::string library = scratch.file("jdk" + std::to_string(count) + "\\" + row.belowHome);
        putCurrentVersion(row.keyIndex, "1.8");
        putVersion(row.keyIndex, "1.8", home, "");
        use(row.order, "", "0x00010005");
        EXPECT_EQ(find(), row.found ? library : "<none>");
        if (row.found) {
            EXPECT_EQ(foundJavaHome, home);
        }
    }
}

TEST_F(DiscoveryTest, RuntimeLibNamingMissingFileIsRejected) {
    const std::string home = scratch.folder("home");
    scratch.file("home\\jre\\bin\\server\\jvm.dll");
    scratch.file("home\\jre\\bin\\client\\jvm.dll");
    putCurrentVersion(0, "1.8");
    putVersion(0, "1.8", home, scratch.full("missing\\jvm.dll"));
    use("1", "", "0x00010005");
    EXPECT_EQ(find(), "<none>");
    EXPECT_EQ(foundJavaHome, home) << "the version qualified, so its home is kept";
}

TEST_F(DiscoveryTest, PathListEntries) {
    struct Row {
        const char* label;
        const char* order;
        const char* pathList;
        std::vector<const char*> files; // below the scratch folder, which is current
        const char* expected;           // below the scratch folder, or null
    } rows[] = {
        {"relative entry beside the launcher", "0", "missing\\jvm.dll;;jre\\bin\\client\\jvm.dll;other.dll",
         {"jre\\bin\\client\\jvm.dll", "other.dll"}, "jre\\bin\\client\\jvm.dll"},
        {"no entry exists", "0", ";missing\\jvm.dll;", {"home\\missing\\jvm.dll"}, nullptr},
        {"first entry below a registry home", "1", "jre\\bin\\client\\jvm.dll",
         {"home\\jre\\bin\\client\\jvm.dll"}, "home\\jre\\bin\\client\\jvm.dll"},
        {"only the first entry below a registry home", "1", "missing.dll;jre\\bin\\client\\jvm.dll",
         {"home\\jre\\bin\\client\\jvm.dll"}, nullptr},
        {"first entry before the strategy's own path", "3", "jre\\bin\\client\\jvm.dll",
         {"home\\jre\\bin\\client\\jvm.dll", "home\\jre\\bin\\server\\jvm.dll"}, "home\\jre\\bin\\client\\jvm.dll"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ScratchFolder current;
        deleteRuntimeKeys();
        for (int key : {0, 3}) {
            putCurrentVersion(key, "1.8");
            putVersion(key, "1.8", current.folder("home"), "");
        }
        for (const char* file : row.files) current.file(file);
        use(row.order, row.pathList, "0x00010005");
        EXPECT_EQ(find(), row.expected ? current.full(row.expected) : "<none>");
    }
}

TEST_F(DiscoveryTest, FolderNeverCounts) {
    const std::string folder = scratch.folder("jre\\bin\\client\\jvm.dll");
    const std::string file = scratch.file("file.dll");
    EXPECT_FALSE(runtimeFileExists(folder.c_str()));
    EXPECT_TRUE(runtimeFileExists(file.c_str()));
    EXPECT_FALSE(runtimeFileExists(scratch.full("missing.dll").c_str()));

    const std::string home = scratch.path();
    putCurrentVersion(0, "1.8");
    putVersion(0, "1.8", home, folder);
    scratch.folder("jre\\bin\\server\\jvm.dll");
    putCurrentVersion(3, "1.8");
    putVersion(3, "1.8", home, "");
    for (const char* order : {"0", "1", "3"}) {
        SCOPED_TRACE(std::string("order ") + order);
        use(order, "jre\\bin\\client\\jvm.dll", "0x00010005");
        EXPECT_EQ(find(), "<none>");
    }
}

TEST_F(DiscoveryTest, OverlongValuesAndCandidatesAreNotTried) {
    const std::string home = "C:\\" + std::string(250, 'h'); // fits, but nothing below it does
    putCurrentVersion(3, "1.8");
    putVersion(3, "1.8", home, "C:\\" + std::string(300, 'r'));
    putCurrentVersion(4, "1.8");
    putVersion(4, "1.8", "C:\\" + std::string(300, 'h'), "");
    use("04", std::string(300, 'p').c_str(), "0x00010005");
    std::strcpy(foundJavaHome, "left over");
    EXPECT_EQ(find(), "<none>");
    EXPECT_EQ(foundJavaHome, std::string()) << "a home too long to hold is read as no home";
    use("03", (std::string(300, 'p') + ";jre\\bin\\client\\jvm.dll").c_str(), "0x00010005");
    EXPECT_EQ(find(), "<none>");
    EXPECT_EQ(foundJavaHome, home);
}


// ---------------------------------------------------------------------------------------------
// Strategies 5 to 8

// Where a test runtime is registered or laid out.
enum class Source { JavaSoftJdk, JavaSoftJreRuntimeLib, Adoptium, Zulu, JavaHomeVariable, ProgramFiles };

struct TestRuntime {
    const char* version;
    const char* library;   // below the home
    std::uint16_t machine; // of the library file; 0: not a PE image
};

// The first bytes of a PE image of the given machine type.
std::string peHeader(std::uint16_t machine) {
    std::string bytes(512, '\0');
    if (machine == 0) return bytes;
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3c] = static_cast<char>(0x80);
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    bytes[0x84] = static_cast<char>(machine & 0xff);
    bytes[0x85] = static_cast<char>(machine >> 8);
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes) {
    createFolders(path.substr(0, path.rfind('\\')));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

class NewerStrategiesTest : public DiscoveryTest {
protected:
    void TearDown() override {
        SetEnvironmentVariableA("JAVA_HOME", savedJavaHome_.empty() ? nullptr : savedJavaHome_.c_str());
        SetEnvironmentVariableA("ProgramFiles", savedProgramFiles_.c_str());
        DiscoveryTest::TearDown();
    }
    void SetUp() override {
        DiscoveryTest::SetUp();
        savedJavaHome_ = variable("JAVA_HOME");
        savedProgramFiles_ = variable("ProgramFiles");
        SetEnvironmentVariableA("JAVA_HOME", nullptr);
        SetEnvironmentVariableA("ProgramFiles", scratch.folder("Program Files").c_str());
    }

    static std::string variable(const char* name) {
        char value[MAX_PATH] = "";
        GetEnvironmentVariableA(name, value, sizeof value);
        return value;
    }

    // Lays out the runtime's home and registers it; returns its home.
    std::string install(Source source, const TestRuntime& runtime, int index) {
        const std::string name = std::string(runtime.version) + "-" + std::to_string(index);
        std::string home = source == Source::ProgramFiles
                               ? scratch.full("Program Files\\Eclipse Adoptium\\jdk-" + name + "-hotspot")
                               : scratch.full("homes\\" + name);
        writeFile(home + "\\" + runtime.library, peHeader(runtime.machine));
        writeFile(home + "\\release", std::string("IMPLEMENTOR=\"Test\"\r\nJAVA_VERSION=\"") + runtime.version + "\"\r\n");
        switch (source) {
        case Source::JavaSoftJdk:
            writeText(std::string("Software\\JavaSoft\\JDK\\") + runtime.version, "JavaHome", home);
            break;
        case Source::JavaSoftJreRuntimeLib:
            writeText(std::string("Software\\JavaSoft\\JRE\\") + runtime.version, "RuntimeLib",
                      home + "\\" + runtime.library);
            writeText(std::string("Software\\JavaSoft\\JRE\\") + runtime.version, "JavaHome", home);
            break;
        case Source::Adoptium:
            writeText(std::string("Software\\Eclipse Adoptium\\JDK\\") + runtime.version + "\\hotspot\\MSI", "Path",
                      home + "\\");
            break;
        case Source::Zulu:
            writeText("Software\\Azul Systems\\Zulu\\zulu-" + name, "InstallationPath", home);
            break;
        case Source::JavaHomeVariable:
            SetEnvironmentVariableA("JAVA_HOME", home.c_str());
            break;
        case Source::ProgramFiles:
            break;
        }
        return home;
    }

private:
    std::string savedJavaHome_;
    std::string savedProgramFiles_;
};

#ifdef _WIN64
constexpr std::uint16_t ownMachine = peMachineAmd64, otherMachine = peMachineI386;
#else
constexpr std::uint16_t ownMachine = peMachineI386, otherMachine = peMachineAmd64;
#endif

TEST_F(NewerStrategiesTest, NewestQualifyingRuntimeOfTheSourceWins) {
    const char* const server = "bin\\server\\jvm.dll";
    const char* const client = "bin\\client\\jvm.dll";
    struct Row {
        const char* label;
        Source source;
        const char* order;
        const char* maximum; // stored form, or ""
        std::vector<TestRuntime> runtimes;
        int expected; // index into runtimes, or -1
    } rows[] = {
        {"JavaSoft JDK 17, new digits", Source::JavaSoftJdk, "012345678", "", {{"17.0.2", server, ownMachine}}, 0},
        {"JavaSoft JDK 17, old digits", Source::JavaSoftJdk, "01234", "", {{"17.0.2", server, ownMachine}}, -1},
        {"JavaSoft JDK client VM", Source::JavaSoftJdk, "5", "", {{"11", client, ownMachine}}, 0},
        {"JavaSoft JRE RuntimeLib", Source::JavaSoftJreRuntimeLib, "5", "", {{"21", "lib\\jvm.dll", ownMachine}}, 0},
        {"JavaSoft newest of three", Source::JavaSoftJdk, "5", "",
         {{"11.0.21", server, ownMachine}, {"17.0.10", server, ownMachine}, {"17.0.9", server, ownMachine}}, 1},
        {"JavaSoft below the minimum", Source::JavaSoftJdk, "5", "", {{"1.7", server, ownMachine}}, -1},
        {"maximum 11 of 8, 11, 17", Source::JavaSoftJdk, "5", "0x000B0000",
         {{"1.8", server, ownMachine}, {"11", server, ownMachine}, {"17", server, ownMachine}}, 1},
        {"newest is 32-bit, next one taken", Source::JavaSoftJdk, "5", "",
         {{"21", server, otherMachine}, {"17", server, ownMachine}}, 1},
        {"a library that is no PE image still counts", Source::JavaSoftJdk, "5", "", {{"17", server, 0}}, 0},
        {"Adoptium key, new digits", Source::Adoptium, "012345678", "", {{"17.0.9.9", server, ownMachine}}, 0},
        {"Adoptium key, old digits", Source::Adoptium, "01234", "", {{"17.0.9.9", server, ownMachine}}, -1},
        {"Adoptium newest", Source::Adoptium, "6", "",
         {{"21.0.1.12", server, ownMachine}, {"11.0.21.9", server, ownMachine}}, 0},
        {"Zulu key, new digits", Source::Zulu, "012345678", "", {{"21.0.1", server, ownMachine}}, 0},
        {"Zulu key, old digits", Source::Zulu, "01234", "", {{"21.0.1", server, ownMachine}}, -1},
        {"Zulu maximum", Source::Zulu, "6", "0x00110000", {{"21.0.1", server, ownMachine}, {"17.0.9", server, ownMachine}}, 1},
        {"JAVA_HOME, new digits", Source::JavaHomeVariable, "012345678", "", {{"17.0.2", server, ownMachine}}, 0},
        {"JAVA_HOME, old digits", Source::JavaHomeVariable, "01234", "", {{"17.0.2", server, ownMachine}}, -1},
        {"JAVA_HOME of a release 8 JDK", Source::JavaHomeVariable, "7", "", {{"1.8.0_392", "jre\\bin\\server\\jvm.dll", ownMachine}}, 0},
        {"JAVA_HOME of the other machine type", Source::JavaHomeVariable, "7", "", {{"17", server, otherMachine}}, -1},
        {"install folder, new digits", Source::ProgramFiles, "012345678", "", {{"17.0.9", server, ownMachine}}, 0},
        {"install folder, old digits", Source::ProgramFiles, "01234", "", {{"17.0.9", server, ownMachine}}, -1},
        {"install folders, newest", Source::ProgramFiles, "8", "",
         {{"11.0.21", server, ownMachine}, {"21.0.1", server, ownMachine}, {"17.0.9", server, ownMachine}}, 1},
        {"install folder without a server VM", Source::ProgramFiles, "8", "", {{"17.0.9", "bin\\jvm.dll", ownMachine}}, -1},
    };
    int count = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        deleteRuntimeKeys();
        SetEnvironmentVariableA("JAVA_HOME", nullptr);
        removeTree(scratch.full("Program Files\\Eclipse Adoptium"));
        std::vector<std::string> homes;
        for (const TestRuntime& runtime : row.runtimes) homes.push_back(install(row.source, runtime, ++count));
        use(row.order, "", "0x00010008");
        setText(settings.maxJavaVersion, row.maximum);
        settings.maxJavaVersionNumber = readHex(row.maximum);
        std::strcpy(foundJavaHome, "left over");
        if (row.expected < 0) {
            EXPECT_EQ(find(), "<none>");
        } else {
            EXPECT_EQ(find(), homes[row.expected] + "\\" + row.runtimes[row.expected].library);
            EXPECT_EQ(foundJavaHome, homes[row.expected]);
        }
    }
    setText(settings.maxJavaVersion, "");
    settings.maxJavaVersionNumber = 0;
}

TEST_F(NewerStrategiesTest, OtherMachineTypeIsPassedOverByEveryStrategy) {
    const std::string other = scratch.full("x86\\jvm.dll");
    const std::string own = scratch.full("x64\\jvm.dll");
    writeFile(other, peHeader(otherMachine));
    writeFile(own, peHeader(ownMachine));
    use("0", (other + ";" + own).c_str(), "0x00010005");
    EXPECT_EQ(find(), own);

    putCurrentVersion(0, "1.8");
    putVersion(0, "1.8", "", other);
    putVersion(0, "1.8.0_392", "", own);
    use("1", "", "0x00010005");
    EXPECT_EQ(find(), own) << "the current version's library is of the other type; enumeration goes on";
}

TEST(ReadRegistryText, ThreeResults) {
    const std::string key = "Software\\Korvane\\JvmWinTest";
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    writeText(key, "Text", "C:\\jdk", REG_SZ, HKEY_CURRENT_USER);
    writeText(key, "Expand", "%SystemRoot%\\java", REG_EXPAND_SZ, HKEY_CURRENT_USER);
    writeText(key, "Multi", "a", REG_MULTI_SZ, HKEY_CURRENT_USER);
    writeText(key, "Seven", "1234567", REG_SZ, HKEY_CURRENT_USER);
    writeText(key, "Eight", "12345678", REG_SZ, HKEY_CURRENT_USER);
    {
        HKEY opened;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_WRITE, &opened), ERROR_SUCCESS);
        const DWORD number = 17;
        RegSetValueExA(opened, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        // Stored without its NUL, which Windows then does not add (Wine does).
        RegSetValueExA(opened, "EightBare", 0, REG_SZ, reinterpret_cast<const BYTE*>("12345678"), 8);
        RegSetValueExA(opened, "SevenBare", 0, REG_SZ, reinterpret_cast<const BYTE*>("1234567"), 7);
        RegCloseKey(opened);
    }
    struct Row {
        const char* subkey;
        const char* value;
        DWORD bufferSize;
        int result;
        const char* text;
    } rows[] = {
        {"Software\\Korvane\\JvmWinTest", "Text", 256, 0, "C:\\jdk"},
        {"Software\\Korvane\\JvmWinTest", "Expand", 256, 0, "%SystemRoot%\\java"},
        {"Software\\Korvane\\JvmWinTest", "Seven", 8, 0, "1234567"},
        {"Software\\Korvane\\JvmWinTest", "Eight", 8, 1, ""},
        {"Software\\Korvane\\JvmWinTest", "SevenBare", 8, 0, "1234567"},
        {"Software\\Korvane\\JvmWinTest", "EightBare", 8, 1, ""},
        {"Software\\Korvane\\JvmWinTest", "Number", 256, 1, ""},
        {"Software\\Korvane\\JvmWinTest", "Multi", 256, 1, ""},
        {"Software\\Korvane\\JvmWinTest", "Missing", 256, 1, ""},
        {"Software\\Korvane\\JvmWinTest\\Missing", "Text", 256, -1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.subkey) + " " + row.value);
        char buffer[256];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(readRegistryText(HKEY_CURRENT_USER, row.subkey, row.value, buffer, row.bufferSize), row.result);
        EXPECT_STREQ(buffer, row.text);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvane");
}

// ---------------------------------------------------------------------------------------------
// Class path

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

class ClassPathTest : public testing::Test {
protected:
    void TearDown() override {
        for (const auto& name : variables_) SetEnvironmentVariableA(name.c_str(), nullptr);
        variables_.clear();
        foundJavaHome[0] = '\0';
    }

    void setVariable(const std::string& name, const std::string& value) {
        variables_.push_back(name);
        SetEnvironmentVariableA(name.c_str(), value.c_str());
    }

    // The finished option text, or "<failed>".
    static std::string assemble(const char* classPath, const char* options) {
        setText(settings.classPath, classPath);
        setText(settings.jvmOptions, options);
        if (!assembleClassPath()) return "<failed>";
        return settings.jvmOptions;
    }

private:
    std::vector<std::string> variables_;
};

TEST_F(ClassPathTest, FolderEntryIsFollowedByTheArchivesBelowIt) {
    ScratchFolder scratch;
    for (const char* file : {"lib\\a.jar", "lib\\b.ZIP", "lib\\notes.txt", "lib\\x\\c.jar", "lib\\x\\d.Jar",
                             "lib\\x\\readme", "lib\\y\\empty.txt", "app.jar"}) {
        scratch.file(file);
    }
    const std::string options = assemble("lib;app.jar", "-Xss1m");
    const std::string head = "-Xss1m \"-Djava.class.path=";
    ASSERT_EQ(options.substr(0, head.size()), head) << options;
    ASSERT_EQ(options.back(), '"') << options;
    std::vector<std::string> entries;
    std::string inner = options.substr(head.size(), options.size() - head.size() - 1);
    for (std::size_t start = 0, end;; start = end + 1) {
        end = inner.find(';', start);
        entries.push_back(inner.substr(start, end - start));
        if (end == std::string::npos) break;
    }
    ASSERT_EQ(entries.size(), 6u) << options;
    EXPECT_EQ(entries.front(), "lib");
    EXPECT_EQ(entries.back(), "app.jar");
    // Listing order is the file system's; the set and the sub-folder's block are not.
    std::vector<std::string> archives(entries.begin() + 1, entries.end() - 1);
    const auto c = std::find(archives.begin(), archives.end(), "lib\\x\\c.jar");
    const auto d = std::find(archives.begin(), archives.end(), "lib\\x\\d.Jar");
    ASSERT_TRUE(c != archives.end() && d != archives.end()) << options;
    EXPECT_EQ(std::abs(c - d), 1) << "the sub-folder's archives stand together: " << options;
    std::sort(archives.begin(), archives.end());
    EXPECT_EQ(archives, (std::vector<std::string>{"lib\\a.jar", "lib\\b.ZIP", "lib\\x\\c.jar", "lib\\x\\d.Jar"}));
}

TEST_F(ClassPathTest, EdgeCases) {
    // "@" in variables and the expected text stands for the scratch folder.
    struct Row {
        const char* label;
        std::vector<const char*> files;
        std::vector<std::pair<const char*, const char*>> variables;
        const char* javaHome;
        const char* classPath;
        const char* options;
        const char* expected;
    } rows[] = {
        {"trailing backslash", {"lib\\a.jar"}, {}, "", "lib\\", "", " \"-Djava.class.path=lib\\;lib\\a.jar\""},
        {"trailing slash", {"lib\\a.jar"}, {}, "", "lib/", "", " \"-Djava.class.path=lib/;lib\\a.jar\""},
        {"current folder", {"a.jar", "notes.txt"}, {}, "", ".", "", " \"-Djava.class.path=.;.\\a.jar\""},
        {"references are expanded, never listed",
         {"lib\\a.jar", "%APPDIR%\\z.jar"},
         {{"APPDIR", "@\\lib"}},
         "",
         "%APPDIR%",
         "",
         " \"-Djava.class.path=@\\lib\""},
        {"folders named like archives are scanned",
         {"tools.jar\\a.jar", "lib\\tools.zip\\b.jar"},
         {},
         "",
         "tools.jar;lib",
         "",
         " \"-Djava.class.path=tools.jar;tools.jar\\a.jar;lib;lib\\tools.zip\\b.jar\""},
        {"wildcard unchanged", {"lib\\a.jar"}, {}, "", "lib\\*.jar", "-Xmx1g", "-Xmx1g \"-Djava.class.path=lib\\*.jar\""},
        {"files and missing entries unchanged",
         {"app.jar"},
         {},
         "",
         "missing;app.jar;;",
         "-Xmx1g",
         "-Xmx1g \"-Djava.class.path=missing;app.jar\""},
        {"blanks in paths stay in one option",
         {"my lib\\a b.jar"},
         {},
         "",
         "my lib",
         "-Da=1",
         "-Da=1 \"-Djava.class.path=my lib;my lib\\a b.jar\""},
        {"empty class path and options", {}, {}, "", "", "", ""},
        {"separators only", {}, {}, "", ";;", "-Xmx1g", "-Xmx1g"},
        {"unset variable", {}, {}, "", "", "-Xmx%KVJVM_HEAP%", "-Xmx"},
        {"quoted variable", {}, {{"KVJVM_DIR", "\"C:\\Program Files\\x\""}}, "", "", "-Dp=%KVJVM_DIR%", "-Dp=C:\\Program Files\\x"},
        {"JAVA_HOME from discovery, not the environment",
         {},
         {{"JAVA_HOME", "C:\\from-environment"}},
         "C:\\jdk",
         "%JAVA_HOME%\\lib\\tools.jar",
         "-Dh=%JAVA_HOME%",
         "-Dh=C:\\jdk \"-Djava.class.path=C:\\jdk\\lib\\tools.jar\""},
        {"JAVA_HOME without a registry runtime", {}, {{"JAVA_HOME", "C:\\from-environment"}}, "", "", "-Dh=%JAVA_HOME%",
         "-Dh="},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ScratchFolder scratch;
        for (const char* file : row.files) scratch.file(file);
        for (const auto& [name, value] : row.variables) {
            std::string text = value;
            replaceAll(text, "@", scratch.path());
            setVariable(name, text);
        }
        std::strcpy(foundJavaHome, row.javaHome);
        std::string expected = row.expected;
        replaceAll(expected, "@", scratch.path());
        EXPECT_EQ(assemble(row.classPath, row.options), expected);
        TearDown();
    }
}

// A folder tree deeper than MAX_PATH: Wine refuses the ANSI search pattern of the deepest folder
// with an error other than "file not found", as Windows does for paths it cannot list.
TEST_F(ClassPathTest, UnlistableSubFolderFailsTheWholeAssembly) {
    ScratchFolder scratch;
    scratch.file("lib\\a.jar");
    const std::string deep = "lib\\" + std::string(200, 'd') + "\\" + std::string(60, 'e');
    scratch.file(deep + "\\b.jar");
    WIN32_FIND_DATAA found;
    const HANDLE probe = FindFirstFileA((scratch.full(deep) + "\\*.*").c_str(), &found);
    const DWORD error = GetLastError();
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
    std::printf("listing the deep folder fails with error %lu\n", static_cast<unsigned long>(error));
    ASSERT_NE(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_NE(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));

    // In event-log mode a report is an event, which Wine prints on stderr with +eventlog.
    launchState.outputMode = OutputMode::EventLog;
    setText(settings.classPath, "app.jar;lib");
    setText(settings.jvmOptions, "-Xmx1g");
    char* const before = settings.jvmOptions;
    const bool assembled = assembleClassPath();
    launchState.outputMode = OutputMode::Windows;
    EXPECT_FALSE(assembled);
    EXPECT_EQ(settings.jvmOptions, before);
    EXPECT_STREQ(settings.jvmOptions, "-Xmx1g");
}

} // namespace
