// For tests and fuzz targets: a resource list in a form that compares whole, whatever its order.
#pragma once

#include <algorithm>
#include <tuple>
#include <vector>

#include "pack/pe_image.h"

namespace korvane::pe {

using ResourceKey = std::tuple<std::u16string, int, std::u16string, int, int, std::uint32_t, Bytes>;

inline std::vector<ResourceKey> canonical(const std::vector<Resource>& list) {
    std::vector<ResourceKey> keys;
    for (const Resource& r : list)
        keys.emplace_back(r.type.name, r.type.id, r.name.name, r.name.id, r.language, r.codePage, r.data);
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace korvane::pe
