// The option list a JVM is created with: the three hooks, then every non-empty word of the
// assembled option text. Portable, so that the same list is tried against a real JVM natively.
#pragma once

#include <jni.h>

#include "launcher/text.h"

namespace korvane {

struct JvmHooks {
    void* vfprintfHook;
    void* abortHook;
    void* exitHook;
};

// Fills args (version 1.2, ignoreUnrecognized false) with an option array that stays allocated
// for the life of the process.
void buildJvmInitArgs(const ArgumentList& words, const JvmHooks& hooks, JavaVMInitArgs& args);

} // namespace korvane
