// Turning jvmOptions and classPath into the one option text the JVM is created from.
#pragma once

#include "launcher/text.h"

namespace korvane {

// Appends to jvmOptions the class path option, with every folder entry followed by the archives
// below it, then expands the %NAME% references of the whole text; jvmOptions is replaced by the
// result. Cuts classPath in place. False after a folder scan failed (reported; jvmOptions is
// left as it was).
bool assembleClassPath();

// Appends folder + "\" + name + ";" to classPath for every .jar or .zip file below folder, at
// any depth, in the order the file system lists them. False after a listing error, reported as
// "Internal error RC000001" (first call of a listing) or "Internal error RC000002" (later calls).
bool scanArchiveFolder(TextBuffer* classPath, const char* folder);

// expandPercentReferences with foundJavaHome and the process environment.
char* expandPercentReferences(const char* text);

} // namespace korvane
