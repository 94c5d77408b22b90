// %NAME% references in the JVM option text, replaced by environment values.
#pragma once

namespace korvane {

// The value of an environment variable, or null when it is unset. The returned text need only
// stay valid until the next call.
using EnvironmentLookup = const char* (*)(const char* name, void* context);

// A new heap text (the caller frees it) with every %NAME% of text replaced: "JAVA_HOME" by
// javaHome as it stands, any other name by its environment value without one leading and one
// trailing double quote. Unset names, "%%" and the "%" of an unclosed reference yield nothing.
char* expandPercentReferences(const char* text, const char* javaHome, EnvironmentLookup lookup, void* context);

} // namespace korvane
