// A launcher's configuration as the packaging tool reads it: every setting as the text the
// launcher will load, plus the files to embed.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane::pack {

struct VersionFields {
    std::string fileVersion, productVersion, productName, fileDescription, companyName, copyright;
    bool any() const {
        return !(fileVersion.empty() && productVersion.empty() && productName.empty() && fileDescription.empty() &&
                 companyName.empty() && copyright.empty());
    }
};

struct Config {
    std::map<unsigned, std::string> settings; // string ID → stored text (UTF-8), every setting present
    std::vector<std::filesystem::path> archives;
    std::optional<std::filesystem::path> splashBitmap;
    std::optional<std::filesystem::path> icon;
    VersionFields version;
};

// Reads a TOML config file; relative paths are resolved against its folder. On failure
// returns nothing and sets *error to one line naming the problem.
std::optional<Config> readConfigFile(const std::filesystem::path& file, std::string* error);

// Starts from the typical values of every setting.
Config defaultConfig();

// Validates and stores one setting given as text (used for command-line flags too).
bool setSettingText(Config& config, const std::string& field, const std::string& value, std::string* error);

// "1.8", "11", "17" or the stored hexadecimal form → the stored form, or nothing.
std::optional<std::string> javaVersionToStored(const std::string& text);
// The stored form → a name for people: 0x00010008 → "1.8", 0x00110000 → "17".
std::string storedToJavaVersionName(const std::string& stored);

bool isJavaClassName(const std::string& name);
// Checks a message text: only "%%", and at most one "%s" where the message takes an argument.
bool isSafeMessage(const std::string& text, bool takesArgument, std::string* problem);

// The known config key closest to an unknown one, for "did you mean".
std::string nearestKey(const std::string& unknown);

} // namespace korvane::pack
