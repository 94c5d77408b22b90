// Output capture on Windows: the JVM's messages through the vfprintf hook and the Java streams
// through a named pipe, kept for the report that ends a launch.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include <jni.h>

namespace korvane {

void initializeCaptureLock();
jint JNICALL jvmVfprintfHook(FILE* stream, const char* format, va_list arguments);
// Thread-safe; callers pass at most 8,190 characters.
void appendCapturedText(const char* text, std::size_t length);
void stopCapture();

} // namespace korvane
