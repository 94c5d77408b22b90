// What the JNI call sequences need from the operating system. The launcher implements these
// with Win32; the native tests against a real JVM implement them for Linux.
#pragma once

#include <cstddef>

#include <jni.h>

namespace korvane::host {

// Enters the folder the application runs in (see enterWorkingDirectory); false after reporting.
bool enterWorkingDirectory(bool beforeJvm);
// Keeps the process alive through a log-off while it runs as a service or on Windows 9x.
void addConsoleControlHandler();

// The capture channel: a pipe the Java streams write to, and the thread that reads it.
bool openCapturePipe();
const char* capturePipeName();
void closeCapturePipe();
bool startCaptureReader();
// The console the Java streams are pointed at on Windows 9x.
const char* consoleStreamName();

bool currentFolder(char* out, std::size_t size);
bool executablePath(char* out, std::size_t size);
// CSIDL_APPDATA (0x1A) or CSIDL_LOCAL_APPDATA (0x1C); false when the system has none.
bool specialFolder(int csidl, char* out, std::size_t size);

// A Java string of a text in the process's ANSI code page (NewString over UTF-16: the JVM
// would read NewStringUTF's bytes as modified UTF-8 and corrupt anything beyond ASCII).
jstring newJavaString(JNIEnv* env, const char* text);

} // namespace korvane::host
