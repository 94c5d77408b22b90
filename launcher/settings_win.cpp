#include "launcher/settings_win.h"

#include <cstdlib>
#include <cstring>

#include "launcher/settings_codec.h"
#include "launcher/text.h"

namespace korvane {

LauncherSettings settings;

char* loadStringSetting(HMODULE module, UINT id) {
    int size = 1024;
    for (;;) {
        char* buffer = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)));
        const int loaded = LoadStringA(module, id, buffer, size);
        if (loaded < size - 1) {
            buffer[loaded > 0 ? loaded : 0] = '\0';
            char* text = copyText(buffer);
            std::free(buffer);
            return text;
        }
        std::free(buffer);
        size += 1024;
    }
}

namespace {

bool isAbsolutePath(const char* path) {
    return (path[0] == '\\' && path[1] == '\\') ||
           (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && (path[2] == '\\' || path[2] == '/'));
}

void replaceFromIni(const char* iniPath, const char* key, char*& field) {
    char value[1024];
    GetPrivateProfileStringA("Application Configuration", key, "", value, sizeof value, iniPath);
    if (value[0] != '\0') {
        std::free(field);
        field = copyText(value);
    }
}

void applyIniFile() {
    const char* name = settings.iniFileName;
    if (name[0] == '\0') return;
    // A named INI file that cannot be read is treated as absent: it is optional by nature, and
    // start-up goes on with the settings carried in the executable.
    HANDLE probe = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return;
    CloseHandle(probe);

    // GetPrivateProfileString looks for a bare file name in the Windows folder, so the path is
    // made full; an absolute name is taken as it stands.
    char path[MAX_PATH * 2];
    if (isAbsolutePath(name)) {
        if (std::strlen(name) >= sizeof path) return;
        std::strcpy(path, name);
    } else {
        const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
        if (length == 0 || length >= MAX_PATH || length + 1 + std::strlen(name) >= sizeof path) return;
        std::strcat(path, "\\");
        std::strcat(path, name);
    }
    replaceFromIni(path, "JvmOptions", settings.jvmOptions);
    replaceFromIni(path, "AppOptions", settings.appOptions);
}

} // namespace

void loadSettings(HMODULE module) {
    settings.mainClassStored = loadStringSetting(module, id_mainClass);
    char plain[unscrambleResultSize];
    unscrambleText(settings.mainClassStored, plain);
    settings.mainClass = copyText(plain);

#define KORVANE_LOAD_Text(field) settings.field = loadStringSetting(module, id_##field);
#define KORVANE_LOAD_Message(field) KORVANE_LOAD_Text(field)
#define KORVANE_LOAD_MessageArg(field) KORVANE_LOAD_Text(field)
#define KORVANE_LOAD_Flag(field) KORVANE_LOAD_NUMBER(field, readFlag)
#define KORVANE_LOAD_Integer(field) KORVANE_LOAD_NUMBER(field, readInteger)
#define KORVANE_LOAD_NUMBER(field, read)                        \
    {                                                           \
        char* text = loadStringSetting(module, id_##field);     \
        settings.field = read(text);                            \
        std::free(text);                                        \
    }
#define KORVANE_LOAD_Hex(field)                                 \
    settings.field = loadStringSetting(module, id_##field);     \
    settings.field##Number = readHex(settings.field);
#define KORVANE_LOAD_Scrambled(field)
#define KORVANE_LOAD_SETTING(id, field, type, def) KORVANE_LOAD_##type(field)
    KORVANE_SETTINGS(KORVANE_LOAD_SETTING)
#undef KORVANE_LOAD_SETTING

    if (settings.priorityIndex >= 0 && settings.priorityIndex <= 5) {
        SetPriorityClass(GetCurrentProcess(), priorityClassTable[settings.priorityIndex]);
    }
    for (char* p = settings.mainClass; *p; ++p) {
        if (*p == '.') *p = '/';
    }
    applyIniFile();
}

} // namespace korvane
