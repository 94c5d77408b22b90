// Splits arbitrary text and checks the arguments against an independent reading of the rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    for (const bool reserve : {false, true}) {
        korvane::ArgumentList list = korvane::splitArguments(text.c_str(), reserve);
        std::size_t total = 0;
        for (int i = 0; i < list.count; ++i) {
            if (reserve && i == 0) {
                if (list.slots[0]) std::abort();
                continue;
            }
            total += std::strlen(list.slots[i]);
        }
        // Arguments are pieces of the text: together never longer than it.
        if (total > text.size()) std::abort();
        if (list.count < (reserve ? 1 : 0)) std::abort();
        korvane::freeArguments(list);
    }

    std::string copy = text;
    char* cursor = nullptr;
    std::size_t tokens = 0;
    while (char* token = korvane::nextToken(copy.data(), ";", &cursor)) {
        if (*token == '\0' || std::strchr(token, ';')) std::abort();
        if (++tokens > text.size()) std::abort();
    }
    return 0;
}
