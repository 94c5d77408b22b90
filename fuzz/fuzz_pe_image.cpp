#include "pack/pe_image.h"
#include "pack/pe_testing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>

using namespace korvane::pe;

namespace {

[[noreturn]] void crash(const char* what, const std::string& error) {
    std::fprintf(stderr, "%s: %s\n", what, error.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file(data, data + size);
    std::string error;
    // The same bytes also go through the icon and string-table readers, which take untrusted input too.
    (void)buildIconResources(file, 1, 1, 0, &error);
    const std::optional<Image> image = parseImage(file, &error);
    if (!image) return 0;
    for (int id : {0, 1, 15, 16, 255}) (void)readString(image->resources, static_cast<std::uint16_t>(id));
    const std::optional<Bytes> out = writeImage(*image, image->resources, true, &error);
    if (!out) return 0;
    const std::optional<Image> again = parseImage(*out, &error);
    if (!again) crash("a written image does not parse", error);
    if (canonical(again->resources) != canonical(image->resources)) crash("resources changed in a round trip", "");
    const std::optional<Bytes> twice = writeImage(*again, again->resources, true, &error);
    if (!twice) crash("a written image cannot be written again", error);
    if (*twice != *out) crash("rewriting a written image changed it", "");
    return 0;
}
