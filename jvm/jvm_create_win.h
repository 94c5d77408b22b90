// Loading the runtime library and creating the JVM in this process; its end.
#pragma once

#include <windows.h>

namespace korvane {

struct JvmLibrary {
    char libraryPath[MAX_PATH] = {};
    HMODULE libraryHandle = nullptr;
};

extern JvmLibrary jvmLibrary;

// True when the JVM runs and the calling thread is attached; false after reporting why.
bool createJvm();
// On the thread that created the JVM: returns when the application's last non-daemon thread ends.
void releaseJvm();

} // namespace korvane
