// Writes a configured launcher from a launcher template, and reads back what a launcher carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/config.h"
#include "pack/pe_image.h"

namespace korvane::pack {

struct PackageOptions {
    bool dropSignature = false;
};

// Builds the launcher bytes; reads the jars, bitmap and icon the config names.
std::optional<pe::Bytes> packageLauncher(const Config& config, const pe::Bytes& templateFile,
                                         const PackageOptions& options, std::string* error);

struct ArchiveInfo {
    std::string name;
    std::uint32_t size = 0;
    std::uint64_t time = 0; // FILETIME
};

struct LauncherContents {
    std::string machine; // "x64", "x86" or the number
    bool signature = false;
    std::vector<std::pair<unsigned, std::string>> settings; // string ID → text (mainClass unscrambled)
    std::vector<ArchiveInfo> archives;
    std::string archiveProblem; // set when the archive resource is damaged
    std::optional<std::pair<int, int>> splashSize;
    bool icon = false;
    std::vector<std::pair<std::string, std::string>> version; // empty when there is no version block
};

// Fails for a file that is not a launcher (no error dialog and message table of ours).
std::optional<LauncherContents> inspectLauncher(const pe::Bytes& file, std::string* error);

std::string renderText(const LauncherContents& contents);
std::string renderJson(const LauncherContents& contents);

} // namespace korvane::pack
