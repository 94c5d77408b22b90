// Installing, removing and running the launcher as a Windows service.
#pragma once

#include <windows.h>

namespace korvane {

// True when the command line was one of the three service switches and has been handled,
// whatever the outcome; false for a normal launch. `count` includes the program-name slot.
bool dispatchServiceSwitch(int count, char** arguments);

// 1: the service exists; 0: the control manager says it does not; -1: no answer. Reports nothing.
int queryServiceInstalled(const char* name);
// 0 on success; -1 after reporting the failure.
int installService(const char* name, const char* description);
int uninstallService(const char* name);

// 0 on success, -1 when the key cannot be created or opened, 1 when the value cannot be written.
// On failure the registry's own status is left as the thread's last error.
int createRegistryKey(HKEY root, const char* subkey);
int writeRegistryExpandString(HKEY root, const char* subkey, const char* valueName, const char* text);
int writeRegistryDword(HKEY root, const char* subkey, const char* valueName, DWORD number);

// Hands the calling thread to the service control dispatcher; returns when the service has ended.
void runAsService();

} // namespace korvane
