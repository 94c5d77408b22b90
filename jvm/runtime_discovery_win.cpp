#include "jvm/runtime_discovery_win.h"

#include <cstdlib>
#include <cstring>

#include "jvm/java_version.h"
#include "jvm/pe_machine.h"
#include "jvm/runtime_sources.h"
#include "launcher/settings.h"
#include "launcher/text.h"
#include "launcher/win_handles.h"

namespace korvane {

const char* const runtimeRegistryKeys[runtimeRegistryKeyCount] = {
    "Software\\JavaSoft\\Java Runtime Environment",
    "Software\\IBM\\Java2 Runtime Environment",
    "Software\\JRockit\\Java Runtime Environment",
    "Software\\JavaSoft\\Java Development Kit",
    "Software\\IBM\\Java Development Kit",
    "Software\\JRockit\\Java Development Kit",
};

char foundJavaHome[MAX_PATH];

namespace {

constexpr DWORD registryNameSize = 256; // key paths and version names: at most 255 characters

struct RegistrySearch {
    int firstKey;
    int keyCount;
    const char* libraryBelowHome; // null: only RuntimeLib and the first jvmPathList entry
};

// first + separator + second into out, unless that would not fit.
template <std::size_t Size>
bool joinPath(char (&out)[Size], const char* first, const char* second) {
    const std::size_t firstLength = std::strlen(first);
    const std::size_t secondLength = std::strlen(second);
    if (firstLength + 1 + secondLength >= Size) return false;
    std::memcpy(out, first, firstLength);
    out[firstLength] = '\\';
    std::memcpy(out + firstLength + 1, second, secondLength + 1);
    return true;
}

bool tryBelowHome(char (&result)[MAX_PATH], const char* relativePath) {
    if (joinPath(result, foundJavaHome, relativePath) && runtimeLibraryUsable(result)) return true;
    result[0] = '\0';
    return false;
}

// jvmPathList is cut into entries on a copy: the setting itself is needed again by later
// strategies and version tests.
template <typename Visit>
bool forEachPathListEntry(Visit visit) {
    if (!settings.jvmPathList || !*settings.jvmPathList) return false;
    char* list = copyText(settings.jvmPathList);
    char* cursor = nullptr;
    bool done = false;
    for (char* entry = nextToken(list, ";", &cursor); entry && !done; entry = nextToken(list, ";", &cursor)) {
        done = visit(entry);
    }
    std::free(list);
    return done;
}

bool tryFirstPathListEntry(char (&result)[MAX_PATH]) {
    bool found = false;
    forEachPathListEntry([&](const char* first) {
        found = tryBelowHome(result, first);
        return true;
    });
    return found;
}

bool versionYieldsLibrary(const char* keyPath, const char* version, const RegistrySearch& search,
                          char (&result)[MAX_PATH]) {
    if (!versionInRange(version, settings.minJavaVersionNumber, settings.maxJavaVersionNumber)) return false;
    foundJavaHome[0] = '\0';
    result[0] = '\0';
    char versionKey[registryNameSize];
    if (!joinPath(versionKey, keyPath, version)) return false;
    readRegistryText(HKEY_LOCAL_MACHINE, versionKey, "JavaHome", foundJavaHome, sizeof foundJavaHome);
    if (readRegistryText(HKEY_LOCAL_MACHINE, versionKey, "RuntimeLib", result, sizeof result) == 0 &&
        runtimeLibraryUsable(result)) {
        return true;
    }
    result[0] = '\0';
    if (!foundJavaHome[0]) return false;
    if (tryFirstPathListEntry(result)) return true;
    return search.libraryBelowHome && tryBelowHome(result, search.libraryBelowHome);
}

bool searchRegistry(const RegistrySearch& search, char (&result)[MAX_PATH]) {
    for (int index = search.firstKey; index < search.firstKey + search.keyCount; ++index) {
        const char* keyPath = runtimeRegistryKeys[index];
        char version[registryNameSize];
        if (readRegistryText(HKEY_LOCAL_MACHINE, keyPath, "CurrentVersion", version, sizeof version) == 0 &&
            versionYieldsLibrary(keyPath, version, search, result)) {
            return true;
        }
        RegistryKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.out()) != ERROR_SUCCESS) continue;
        for (DWORD i = 0;; ++i) {
            DWORD length = sizeof version;
            if (RegEnumKeyExA(key.get(), i, version, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            if (versionYieldsLibrary(keyPath, version, search, result)) return true;
        }
    }
    return false;
}

bool searchPathList(char (&result)[MAX_PATH]) {
    return forEachPathListEntry([&](const char* entry) {
        if (!runtimeLibraryUsable(entry)) return false;
        // The full path, so that loading it later does not depend on the current folder.
        const DWORD length = GetFullPathNameA(entry, MAX_PATH, result, nullptr);
        if (length > 0 && length < MAX_PATH) return true;
        result[0] = '\0';
        return false;
    });
}


// ---------------------------------------------------------------------------------------------
// Strategies 5 to 8: every qualifying runtime of one source is looked at, and the newest whose
// library this process can load wins.

struct Candidate {
    bool found = false;
    char version[registryNameSize] = {};
    char home[MAX_PATH] = {};
    char library[MAX_PATH] = {};
};

void copyBounded(char* out, std::size_t size, const char* text) {
    const std::size_t length = std::strlen(text);
    if (length >= size) {
        out[0] = '\0';
        return;
    }
    std::memcpy(out, text, length + 1);
}

// Installers write homes with and without a final backslash.
void trimHome(char* home) {
    std::size_t length = std::strlen(home);
    while (length > 3 && (home[length - 1] == '\\' || home[length - 1] == '/')) home[--length] = '\0';
}

// runtimeLib (may be empty) first, then the usual places below home.
void offerRuntime(Candidate& best, const char* version, char* home, const char* runtimeLib) {
    if (!versionInRange(version, settings.minJavaVersionNumber, settings.maxJavaVersionNumber)) return;
    if (best.found && compareVersionNames(version, best.version) <= 0) return;
    trimHome(home);
    char library[MAX_PATH];
    bool usable = runtimeLib && runtimeLib[0] && runtimeLibraryUsable(runtimeLib);
    if (usable) {
        copyBounded(library, sizeof library, runtimeLib);
    } else if (home[0]) {
        for (const char* below : libraryBelowHome) {
            if (joinPath(library, home, below) && runtimeLibraryUsable(library)) {
                usable = true;
                break;
            }
        }
    }
    if (!usable) return;
    best.found = true;
    copyBounded(best.version, sizeof best.version, version);
    copyBounded(best.home, sizeof best.home, home);
    copyBounded(best.library, sizeof best.library, library);
}

// The version of the runtime in home: JAVA_VERSION of its release file, else the digits of name.
void homeVersion(const char* home, const char* name, char (&version)[registryNameSize]) {
    version[0] = '\0';
    char releasePath[MAX_PATH];
    if (joinPath(releasePath, home, "release")) {
        FileHandle file(CreateFileA(releasePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        char text[2048];
        DWORD read = 0;
        if (file && ReadFile(file.get(), text, sizeof text - 1, &read, nullptr)) {
            text[read] = '\0';
            if (readReleaseVersion(text, version, sizeof version)) return;
        }
    }
    const char* digits = versionInName(name);
    if (digits) copyBounded(version, sizeof version, digits);
}

template <typename Visit>
void forEachSubkey(const char* keyPath, Visit visit) {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return;
    char name[registryNameSize];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        char subkey[registryNameSize];
        if (joinPath(subkey, keyPath, name)) visit(name, subkey);
    }
}

void searchModernJavaSoft(Candidate& best) {
    for (const char* keyPath : modernJavaSoftKeys) {
        forEachSubkey(keyPath, [&](const char* version, const char* versionKey) {
            char home[MAX_PATH];
            char runtimeLib[MAX_PATH];
            readRegistryText(HKEY_LOCAL_MACHINE, versionKey, "JavaHome", home, sizeof home);
            readRegistryText(HKEY_LOCAL_MACHINE, versionKey, "RuntimeLib", runtimeLib, sizeof runtimeLib);
            offerRuntime(best, version, home, runtimeLib);
        });
    }
}

void searchVendorKeys(Candidate& best) {
    for (const VendorKey& vendor : vendorKeys) {
        forEachSubkey(vendor.key, [&](const char* name, const char* subkey) {
            char home[MAX_PATH];
            if (vendor.layout == VendorLayout::NamedInstall) {
                if (readRegistryText(HKEY_LOCAL_MACHINE, subkey, vendor.homeValue, home, sizeof home) != 0) return;
                char version[registryNameSize];
                homeVersion(home, name, version);
                offerRuntime(best, version, home, nullptr);
                return;
            }
            forEachSubkey(subkey, [&](const char*, const char* jvmKey) {
                char msiKey[registryNameSize];
                if (joinPath(msiKey, jvmKey, "MSI") &&
                    readRegistryText(HKEY_LOCAL_MACHINE, msiKey, vendor.homeValue, home, sizeof home) == 0) {
                    offerRuntime(best, name, home, nullptr);
                }
            });
        });
    }
}

void searchJavaHomeVariable(Candidate& best) {
    char home[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("JAVA_HOME", home, sizeof home);
    if (length == 0 || length >= sizeof home) return;
    trimHome(home);
    const char* name = std::strrchr(home, '\\');
    char version[registryNameSize];
    homeVersion(home, name ? name + 1 : home, version);
    offerRuntime(best, version, home, nullptr);
}

void searchInstallFolders(Candidate& best) {
    char programFiles[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("ProgramFiles", programFiles, sizeof programFiles);
    if (length == 0 || length >= sizeof programFiles) return;
    for (const char* vendor : vendorFolders) {
        char folder[MAX_PATH];
        char pattern[MAX_PATH];
        if (!joinPath(folder, programFiles, vendor) || !joinPath(pattern, folder, "*")) continue;
        WIN32_FIND_DATAA entry;
        FindHandle search(FindFirstFileA(pattern, &entry));
        if (!search) continue;
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || entry.cFileName[0] == '.') continue;
            char home[MAX_PATH];
            if (!joinPath(home, folder, entry.cFileName)) continue;
            char version[registryNameSize];
            homeVersion(home, entry.cFileName, version);
            offerRuntime(best, version, home, nullptr);
        } while (FindNextFileA(search.get(), &entry));
    }
}

bool takeCandidate(const Candidate& best, char (&result)[MAX_PATH]) {
    if (!best.found) return false;
    std::strcpy(result, best.library);
    std::strcpy(foundJavaHome, best.home);
    return true;
}

bool runNewerStrategy(int strategy, char (&result)[MAX_PATH]) {
    Candidate best;
    switch (strategy) {
    case 5: searchModernJavaSoft(best); break;
    case 6: searchVendorKeys(best); break;
    case 7: searchJavaHomeVariable(best); break;
    case 8: searchInstallFolders(best); break;
    default: return false;
    }
    return takeCandidate(best, result);
}

bool runStrategy(int strategy, char (&result)[MAX_PATH]) {
    switch (strategy) {
    case 0:
        return searchPathList(result);
    case 1:
        return searchRegistry({0, 3, nullptr}, result);
    case 2:
        return searchRegistry({3, 1, "jre\\bin\\client\\jvm.dll"}, result) ||
               searchRegistry({5, 1, "jre\\bin\\jrockit\\jvm.dll"}, result);
    case 3:
        return searchRegistry({3, 1, "jre\\bin\\server\\jvm.dll"}, result);
    case 4:
        return searchRegistry({3, 2, "jre\\bin\\classic\\jvm.dll"}, result);
    default:
        return runNewerStrategy(strategy, result);
    }
}

} // namespace

int readRegistryText(HKEY root, const char* subkey, const char* valueName, char* buffer, DWORD bufferSize) {
    buffer[0] = '\0';
    RegistryKey key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return -1;
    DWORD type = 0;
    DWORD size = bufferSize;
    const LONG status = RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        buffer[0] = '\0';
        return 1;
    }
    // A stored text need not end in a NUL; one that fills the buffer without one is too long.
    if (size < bufferSize) {
        buffer[size] = '\0';
    } else if (buffer[bufferSize - 1] != '\0') {
        buffer[0] = '\0';
        return 1;
    }
    return 0;
}

bool runtimeFileExists(const char* path) {
    // Without FILE_FLAG_BACKUP_SEMANTICS, CreateFileA refuses to open a folder.
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

bool runtimeLibraryUsable(const char* path) {
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    unsigned char header[peMachineProbeSize];
    DWORD read = 0;
    if (!ReadFile(file.get(), header, sizeof header, &read, nullptr)) read = 0;
    const std::uint16_t machine = peMachine(header, read);
#ifdef _WIN64
    constexpr std::uint16_t ownMachine = peMachineAmd64;
#else
    constexpr std::uint16_t ownMachine = peMachineI386;
#endif
    // A file that is not a PE image is left for LoadLibrary to refuse, as it always was.
    return machine == 0 || machine == ownMachine;
}

bool findRuntimeLibrary(char (&result)[MAX_PATH]) {
    result[0] = '\0';
    foundJavaHome[0] = '\0';
    for (const char* p = settings.jreSearchOrder ? settings.jreSearchOrder : ""; *p; ++p) {
        if (*p < '0' || *p > '8') continue;
        if (runStrategy(*p - '0', result)) return true;
    }
    result[0] = '\0';
    return false;
}

} // namespace korvane
