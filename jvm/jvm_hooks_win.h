// The hooks the JVM calls when the application ends the process.
#pragma once

#include <windows.h>

#include <jni.h>

namespace korvane {

void JNICALL jvmExitHook(jint code);
void JNICALL jvmAbortHook();
// Windows 9x: frees the hidden console when a WM_QUIT is taken from a queue.
void installConsoleQuitHook();

} // namespace korvane
