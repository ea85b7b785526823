#pragma once
// The echo-free transform written plainly from its rule, as the reference the
// fast one is checked against: the hidden test by its double loop, the
// requirements merged by union-find, and each pixel given the pattern byte of
// the rightmost pixel it must equal (the one pixel of its chain that links to
// nothing on its right).
//
// Same contract as transformStereogramEchoFree: nothing happens unless
// 1 <= P <= W and Q >= 1, and depths above P - 1 count as P - 1.

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "depth/depth_map.hpp"

using namespace tolvane;

// The pairs (l, r) of one row whose pixels must be equal: one per visible
// point whose images both lie in the row.
inline std::vector<std::pair<std::int32_t, std::int32_t>> echoFreeRequirements(const std::uint8_t* row,
                                                                               std::int32_t w, std::int32_t p) {
    std::vector<std::int32_t> depth(static_cast<std::size_t>(w));
    for (std::int32_t x = 0; x < w; ++x) {
        depth[static_cast<std::size_t>(x)] = std::min<std::int32_t>(row[x], p - 1);
    }
    auto at = [&](std::int32_t x) { return depth[static_cast<std::size_t>(x)]; };
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
    for (std::int32_t x = 0; x < w; ++x) {
        const std::int32_t d = at(x);
        bool hidden = false;
        for (std::int32_t t = 1; d + 2 * t <= 31; ++t) {
            if ((x - t >= 0 && at(x - t) >= d + 2 * t) || (x + t < w && at(x + t) >= d + 2 * t)) {
                hidden = true;
            }
        }
        const std::int32_t s = p - d;
        const std::int32_t l = x - s / 2;
        const std::int32_t r = l + s;
        if (!hidden && l >= 0 && r < w) {
            pairs.emplace_back(l, r);
        }
    }
    return pairs;
}

inline void referenceEchoFree(DepthMap& map, const DepthMap& pattern) {
    const std::int32_t w = map.area.w;
    const std::int32_t p = pattern.area.w;
    const std::int32_t q = pattern.area.h;
    if (p < 1 || q < 1 || p > w || map.area.h <= 0) {
        return;
    }
    for (std::int32_t y = 0; y < map.area.h; ++y) {
        std::uint8_t* row = pixelAddress(map, 0, y);
        // Every set is named by its rightmost pixel.
        std::vector<std::int32_t> parent(static_cast<std::size_t>(w));
        std::iota(parent.begin(), parent.end(), 0);
        auto find = [&](std::int32_t x) {
            while (parent[static_cast<std::size_t>(x)] != x) {
                x = parent[static_cast<std::size_t>(x)];
            }
            return x;
        };
        for (const auto& [l, r] : echoFreeRequirements(row, w, p)) {
            const std::int32_t a = find(l);
            const std::int32_t b = find(r);
            parent[static_cast<std::size_t>(std::min(a, b))] = std::max(a, b);
        }
        const std::uint8_t* patternRow = pixelAddress(pattern, 0, y % q);
        for (std::int32_t x = 0; x < w; ++x) {
            row[x] = patternRow[find(x) % p];
        }
    }
}
