// Expands arbitrary option texts and reads arbitrary version names, checking both against an
// independent reading of the rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jvm/java_version.h"
#include "jvm/percent_expansion.h"

namespace {

// A made-up environment: names of even length are set, to their own name in quotes.
bool isSet(const std::string& name) { return name.size() % 2 == 0; }

const char* lookUp(const char* name, void* context) {
    auto* value = static_cast<std::string*>(context);
    if (!isSet(name)) return nullptr;
    *value = "\"" + std::string(name) + "\"";
    return value->c_str();
}

std::string expected(const std::string& text, const std::string& javaHome) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        if (open == std::string::npos) return out + text.substr(at);
        out += text.substr(at, open - at);
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string::npos) return out + text.substr(open + 1);
        const std::string name = text.substr(open + 1, close - open - 1);
        if (name == "JAVA_HOME") {
            out += javaHome;
        } else if (!name.empty() && isSet(name)) {
            out += name;
        }
        at = close + 1;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    std::string value;
    const std::string javaHome = "\"C:\\jdk\"";
    char* expanded = korvane::expandPercentReferences(text.c_str(), javaHome.c_str(), lookUp, &value);
    if (expected(text, javaHome) != expanded) std::abort();
    std::free(expanded);

    korvane::VersionName version;
    const bool readable = korvane::readVersionName(text.c_str(), &version);
    if (readable != (!text.empty() && text[0] >= '0' && text[0] <= '9')) std::abort();
    // A higher minimum never accepts what a lower one refuses.
    std::uint32_t minimum = 0;
    if (size >= 4) std::memcpy(&minimum, data + size - 4, 4);
    const bool atMinimum = korvane::versionQualifies(text.c_str(), minimum);
    if (korvane::versionQualifies(text.c_str(), 0) != readable) std::abort();
    if (atMinimum && !readable) std::abort();
    if (atMinimum && korvane::featureRelease(version) < korvane::requiredRelease(minimum)) std::abort();
    return 0;
}
