// korvane-pack: makes a launcher for a Java application, and shows what a launcher carries.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "pack/config.h"
#include "pack/packager.h"
#include "launcher/settings_table.h"
#include "pack/platform.h"

namespace fs = std::filesystem;
using namespace korvane::pack;

namespace {

const char usage[] =
    "usage:\n"
    "  korvane-pack build CONFIG.toml -o OUT.exe [--arch x64|x86] [--template FILE] [--drop-signature]\n"
    "  korvane-pack build --main-class NAME --jar FILE [--jar FILE ...] -o OUT.exe [--arch x64|x86]\n"
    "  korvane-pack inspect EXE [--json]\n";

int fail(const std::string& message) {
    std::cerr << "korvane-pack: " << message << "\n";
    return 1;
}

bool readWhole(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Writes beside the target and renames, so that a failure never leaves a half-written file.
bool writeAtomically(const fs::path& target, const std::vector<std::uint8_t>& bytes, std::string* error) {
    const fs::path temporary = target.string() + ".korvane-pack.tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            *error = "cannot write \"" + target.u8string() + "\"";
            return false;
        }
    }
    std::error_code code;
    fs::permissions(temporary, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec, code);
    fs::rename(temporary, target, code);
    if (code) {
        fs::remove(temporary, code);
        *error = "cannot write \"" + target.u8string() + "\": " + code.message();
        return false;
    }
    return true;
}

int build(const std::vector<std::string>& args) {
    std::string configFile, output, arch = "x64", templateFile, mainClass, error;
    std::vector<std::string> jars;
    PackageOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        std::string jar;
        if (arg == "-o" || arg == "--output") {
            if (!value(output)) return fail(arg + " needs a file name");
        } else if (arg == "--arch") {
            if (!value(arch) || (arch != "x64" && arch != "x86")) return fail("--arch takes x64 or x86");
        } else if (arg == "--template") {
            if (!value(templateFile)) return fail("--template needs a file name");
        } else if (arg == "--main-class") {
            if (!value(mainClass)) return fail("--main-class needs a class name");
        } else if (arg == "--jar") {
            if (!value(jar)) return fail("--jar needs a file name");
            jars.push_back(jar);
        } else if (arg == "--drop-signature") {
            options.dropSignature = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return fail("unknown option " + arg + "\n" + usage);
        } else if (configFile.empty()) {
            configFile = arg;
        } else {
            return fail("more than one config file given\n" + std::string(usage));
        }
    }
    if (output.empty()) return fail("no output file given (-o OUT.exe)");
    if (configFile.empty() && mainClass.empty()) return fail("give a config file, or --main-class and --jar\n" + std::string(usage));

    Config config;
    if (!configFile.empty()) {
        auto read = readConfigFile(fs::u8path(configFile), &error);
        if (!read) return fail(error);
        config = std::move(*read);
    } else {
        config = defaultConfig();
    }
    if (!mainClass.empty() && !setSettingText(config, "mainClass", mainClass, &error)) return fail(error);
    for (const std::string& jar : jars) config.archives.push_back(fs::u8path(jar));
    if (config.settings[korvane::id_mainClass].empty()) return fail("no main class given (mainClass in the config, or --main-class)");

    const fs::path templatePath =
        templateFile.empty() ? ownFolder() / "templates" / ("launcher-" + arch + ".exe") : fs::u8path(templateFile);
    std::vector<std::uint8_t> templateBytes;
    if (!readWhole(templatePath, templateBytes)) return fail("cannot read the launcher template \"" + templatePath.u8string() + "\"");

    auto launcher = packageLauncher(config, templateBytes, options, &error);
    if (!launcher) return fail(error);
    if (!writeAtomically(fs::u8path(output), *launcher, &error)) return fail(error);
    return 0;
}

int inspect(const std::vector<std::string>& args) {
    std::string file;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return fail("unknown option " + arg + "\n" + usage);
        } else if (file.empty()) {
            file = arg;
        } else {
            return fail("inspect takes one file");
        }
    }
    if (file.empty()) return fail("inspect needs a launcher file\n" + std::string(usage));
    std::vector<std::uint8_t> bytes;
    if (!readWhole(fs::u8path(file), bytes)) return fail("cannot read \"" + file + "\"");
    std::string error;
    auto contents = inspectLauncher(bytes, &error);
    if (!contents) return fail("\"" + file + "\" is " + error);
    std::cout << (json ? renderJson(*contents) : renderText(*contents));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << usage;
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "build") return build(args);
    if (command == "inspect") return inspect(args);
    return fail("unknown command \"" + command + "\"\n" + usage);
}
