// The little the packaging tool needs from the operating system.
#pragma once

#include <cstdint>
#include <filesystem>

namespace korvane::pack {

// The folder that holds the running korvane-pack executable.
std::filesystem::path ownFolder();

// A file's last-write time as a Windows FILETIME (100 ns intervals since 1601-01-01 UTC);
// false when the file cannot be examined.
bool lastWriteFileTime(const std::filesystem::path& file, std::uint64_t* fileTime);

} // namespace korvane::pack
