// Finding the JVM library, in the order jreSearchOrder gives:
//   0  the jvmPathList entries
//   1  JavaSoft/IBM/JRockit runtime keys          2, 3, 4  development-kit keys (client, server, classic)
//   5  the Java 9+ keys JavaSoft\JRE and JavaSoft\JDK
//   6  the keys of vendors' MSI installers (runtime_sources.cpp)
//   7  the runtime named by the JAVA_HOME environment variable
//   8  the vendors' install folders below %ProgramFiles%
// Strategies 1 to 4 take the first qualifying version in registry order; 5 to 8 take the newest
// qualifying runtime of their source. Every strategy passes over a library built for another
// machine type than this launcher's.
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

// Whether path can be opened as a file and is not a PE image of another machine type than this
// process (a file that is no PE image at all counts, so that loading it reports the failure).
bool runtimeLibraryUsable(const char* path);

// Runs the strategies of jreSearchOrder until one yields an existing library and puts its path
// in result. Reports nothing: the caller knows what to tell the user.
bool findRuntimeLibrary(char (&result)[MAX_PATH]);

} // namespace korvane
