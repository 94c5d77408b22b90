/* The machine-dependent part of jni.h for Windows targets (the JDK on this build machine ships
 * only its own platform's). Windows is LLP64: jint is a long, jlong a 64-bit integer, and JNI
 * functions use the stdcall convention (which x86_64 ignores). */
#ifndef KORVANE_JNI_MD_H
#define KORVANE_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
