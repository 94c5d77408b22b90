#include "jvm/runtime_discovery_win.h"

#include <cstdlib>
#include <cstring>

#include "jvm/java_version.h"
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
    if (joinPath(result, foundJavaHome, relativePath) && runtimeFileExists(result)) return true;
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
    if (!versionQualifies(version, settings.minJavaVersionNumber)) return false;
    foundJavaHome[0] = '\0';
    result[0] = '\0';
    char versionKey[registryNameSize];
    if (!joinPath(versionKey, keyPath, version)) return false;
    readRegistryText(HKEY_LOCAL_MACHINE, versionKey, "JavaHome", foundJavaHome, sizeof foundJavaHome);
    if (readRegistryText(HKEY_LOCAL_MACHINE, versionKey, "RuntimeLib", result, sizeof result) == 0 &&
        runtimeFileExists(result)) {
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
        if (!runtimeFileExists(entry)) return false;
        // The full path, so that loading it later does not depend on the current folder.
        const DWORD length = GetFullPathNameA(entry, MAX_PATH, result, nullptr);
        if (length > 0 && length < MAX_PATH) return true;
        result[0] = '\0';
        return false;
    });
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
        return false;
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

bool findRuntimeLibrary(char (&result)[MAX_PATH]) {
    result[0] = '\0';
    foundJavaHome[0] = '\0';
    for (const char* p = settings.jreSearchOrder ? settings.jreSearchOrder : ""; *p; ++p) {
        if (*p < '0' || *p > '4') continue;
        if (runStrategy(*p - '0', result)) return true;
    }
    result[0] = '\0';
    return false;
}

} // namespace korvane
