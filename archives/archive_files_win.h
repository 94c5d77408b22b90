// What extraction and clean-up share: the archive resource of a module and the folder the
// archives go to.
#pragma once

#include <windows.h>

#include <cstddef>

#include "launcher/settings_table.h"
#include "launcher/text.h"

namespace korvane {


// The archive resource of `module`, used in place. False when there is none: missing, smaller
// than 2 bytes, or not loadable.
bool findArchiveResource(HMODULE module, const void** data, std::size_t* size);

// Appends the extraction folder of `mode` to `folder`: `base` for mode 0, `base`\<stored main
// class> for mode 1, the temporary folder followed by the stored main class otherwise. False
// only when the temporary folder is unavailable (not reported here).
bool appendExtractionFolder(TextBuffer* folder, int mode, const char* storedMainClass, const char* base);

} // namespace korvane
