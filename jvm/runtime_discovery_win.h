// Finding the JVM library: the jvmPathList entries and the registry entries of installed
// runtimes and development kits, in the order jreSearchOrder gives.
#pragma once

#include <windows.h>

namespace korvane {

// Key paths under HKEY_LOCAL_MACHINE, addressed by index from the search strategies.
inline constexpr int runtimeRegistryKeyCount = 6;
extern const char* const runtimeRegistryKeys[runtimeRegistryKeyCount];

// The JavaHome of the last registry version that passed the version test during discovery;
// empty when none did (also after a success through jvmPathList alone).
extern char foundJavaHome[MAX_PATH];

// 0: the text is in buffer (REG_SZ or REG_EXPAND_SZ, not expanded). 1: the key opened but the
// value is missing, too long or of another type. -1: the key could not be opened. The buffer
// holds an empty text unless the result is 0.
int readRegistryText(HKEY root, const char* subkey, const char* valueName, char* buffer, DWORD bufferSize);

// Whether path can be opened for reading as a file; a folder never counts.
bool runtimeFileExists(const char* path);

// Runs the strategies of jreSearchOrder until one yields an existing library and puts its path
// in result. Reports nothing: the caller knows what to tell the user.
bool findRuntimeLibrary(char (&result)[MAX_PATH]);

} // namespace korvane
