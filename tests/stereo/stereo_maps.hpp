#pragma once
// Small maps for the stereogram tests: built from bytes, read back as bytes,
// and random patterns, shared by the tests of both transforms.

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "depth/depth_map.hpp"

namespace tolvane::stereo_test {

inline DepthMapPtr mapOf(std::int32_t w, std::int32_t h, const std::string& bytes) {
    DepthMapPtr map = createDepthMap(w, h);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        map->pixels[i] = static_cast<std::uint8_t>(bytes[i]);
    }
    return map;
}

inline std::string bytesOf(const DepthMap& map) {
    return std::string(reinterpret_cast<const char*>(map.pixels),
                       static_cast<std::size_t>(map.area.w) * static_cast<std::size_t>(map.area.h));
}

inline DepthMapPtr copyOf(const DepthMap& map) { return mapOf(map.area.w, map.area.h, bytesOf(map)); }

inline DepthMapPtr randomPattern(std::int32_t p, std::int32_t q, std::uint32_t seed) {
    std::mt19937 random(seed);
    DepthMapPtr map = createDepthMap(p, q);
    for (std::int32_t i = 0; i < p * q; ++i) {
        map->pixels[i] = static_cast<std::uint8_t>(random());
    }
    return map;
}

}  // namespace tolvane::stereo_test
