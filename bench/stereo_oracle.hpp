#pragma once
// The stereogram transform written plainly, one pixel at a time, as the
// reference the fast transform is checked against and timed beside.
//
// Same contract as transformStereogram: nothing happens unless
// 1 <= P <= W and Q >= 1, and depths above P - 1 count as P - 1.

#include <algorithm>
#include <cstdint>

#include "depth/depth_map.hpp"

using namespace tolvane;

inline void oracleTransform(DepthMap& map, const DepthMap& pattern) {
    const std::int32_t w = map.area.w;
    const std::int32_t h = map.area.h;
    const std::int32_t p = pattern.area.w;
    const std::int32_t q = pattern.area.h;
    if (p < 1 || q < 1 || p > w || h <= 0 || map.pixels == nullptr || pattern.pixels == nullptr) {
        return;
    }
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint8_t* row = pixelAddress(map, 0, y);
        const std::uint8_t* patternRow = pixelAddress(pattern, 0, y % q);
        for (std::int32_t x = w - 1; x >= w - p; --x) {
            const std::int32_t d = std::min<std::int32_t>(row[x], p - 1);
            row[x] = patternRow[(x - d + p) % p];
        }
        for (std::int32_t x = w - p - 1; x >= 0; --x) {
            const std::int32_t d = std::min<std::int32_t>(row[x], p - 1);
            row[x] = row[x + p - d];
        }
    }
}
