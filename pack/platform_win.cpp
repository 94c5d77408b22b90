#include "pack/platform.h"

#include <windows.h>

namespace korvane::pack {

std::filesystem::path ownFolder() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768) return std::filesystem::current_path();
    return std::filesystem::path(path).parent_path();
}

bool lastWriteFileTime(const std::filesystem::path& file, std::uint64_t* fileTime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return false;
    *fileTime = static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

} // namespace korvane::pack
