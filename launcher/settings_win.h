#pragma once

#include <windows.h>

#include "launcher/settings.h"

namespace korvane {

// One string-table text of any length from `module`, as a new heap text; empty when missing.
char* loadStringSetting(HMODULE module, UINT id);

// Fills `settings` from the string table of `module`, applies the process priority, and lets
// the INI file (relative to the current folder) replace the two option texts.
void loadSettings(HMODULE module);

} // namespace korvane
