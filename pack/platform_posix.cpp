#include "pack/platform.h"

#include <sys/stat.h>
#include <unistd.h>

namespace korvane::pack {

std::filesystem::path ownFolder() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

bool lastWriteFileTime(const std::filesystem::path& file, std::uint64_t* fileTime) {
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) return false;
    constexpr std::int64_t secondsFrom1601To1970 = 11644473600LL;
    const std::int64_t seconds = static_cast<std::int64_t>(info.st_mtim.tv_sec) + secondsFrom1601To1970;
    if (seconds < 0) return false;
    *fileTime = static_cast<std::uint64_t>(seconds) * 10000000u + static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100u;
    return true;
}

} // namespace korvane::pack
