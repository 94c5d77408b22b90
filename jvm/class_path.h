// The parts of class path assembly that need no file system.
#pragma once

#include "launcher/text.h"

namespace korvane {

// A name ending in ".jar" or ".zip", in any case.
bool isArchiveName(const char* name);

// Cuts one trailing "\" or, failing that, one trailing "/" off a folder path, in place.
void trimFolderSeparator(char* folder);

// The FindFirstFileA pattern for a trimmed folder: "*.*" for ".", otherwise folder + "\*.*".
void appendSearchPattern(TextBuffer* pattern, const char* folder);

// classPath holds entries each followed by ";". Unless it is empty, drops the last ";" and
// appends ` "-Djava.class.path=<entries>"` to options; the quotes keep paths with blanks in one
// option when the option text is split.
void appendClassPathOption(TextBuffer* options, TextBuffer* classPath);

} // namespace korvane
