// The ".scmhm" reader and writer. The input is read twice: as a file, which
// must load exactly as a plain model of the format says (or be refused where
// the model runs out of groups or overfills the map), and as a raw map
// (first byte the width, the rest pixels of any value), which must be
// written as the model writes it and read back unchanged up to the clamp
// to 31.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "depth/compressed_file.hpp"
#include "fuzz/fuzz_support.hpp"

using namespace tolvane;

namespace {

struct ModelMap {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// Header width, height, then groups of four run bytes and an extension byte
// holding bits 3 and 4 of each run's length - 1. Read until the map is
// full; refused when the groups end first or a run overfills the map.
std::optional<ModelMap> modelDecode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8) return std::nullopt;
    ModelMap map;
    map.width = std::int32_t(readLe32(bytes.data()));
    map.height = std::int32_t(readLe32(bytes.data() + 4));
    if (!fuzz::sidesValid(map.width, map.height)) return std::nullopt;
    const std::size_t n = std::size_t(map.width * map.height);
    std::size_t group = 8;
    while (map.pixels.size() < n) {
        if (group + 5 > bytes.size()) return std::nullopt;
        const std::uint8_t extension = bytes[group + 4];
        for (int k = 0; k < 4 && map.pixels.size() < n; ++k) {
            const std::uint8_t run = bytes[group + std::size_t(k)];
            const std::size_t length = (((extension >> (2 * k)) & 3u) << 3 | (run >> 5)) + 1u;
            if (map.pixels.size() + length > n) return std::nullopt;
            map.pixels.insert(map.pixels.end(), length, std::uint8_t(run & 31));
        }
        group += 5;
    }
    return map;
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(std::uint8_t(v >> shift));
}

// Greedy runs of at most 32 over the pixels clamped to 31, four to a group;
// a short last group is padded with zero run bytes.
std::vector<std::uint8_t> modelEncode(std::int32_t width, std::int32_t height,
                                      const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> out;
    putLe32(out, std::uint32_t(width));
    putLe32(out, std::uint32_t(height));
    std::uint8_t group[5] = {};
    int held = 0;
    for (std::size_t i = 0; i < pixels.size();) {
        const std::uint8_t value = std::min<std::uint8_t>(pixels[i], 31);
        std::size_t length = 1;
        while (length < 32 && i + length < pixels.size() && std::min<std::uint8_t>(pixels[i + length], 31) == value) {
            ++length;
        }
        group[held] = std::uint8_t(value | ((length - 1) & 7) << 5);
        group[4] = std::uint8_t(group[4] | ((length - 1) >> 3) << (2 * held));
        if (++held == 4) {
            out.insert(out.end(), group, group + 5);
            std::fill(group, group + 5, 0);
            held = 0;
        }
        i += length;
    }
    if (held > 0) out.insert(out.end(), group, group + 5);
    return out;
}

void checkAsFile(std::span<const std::uint8_t> bytes) {
    const DepthResult result = decodeScmhm(bytes);
    const DepthMapPtr& map = result.map;
    const std::optional<ModelMap> expected = modelDecode(bytes);
    FUZZ_CHECK(bool(map) == expected.has_value());
    if (!map) {
        FUZZ_CHECK(!result && !result.detail.empty());
        return;
    }
    fuzz::checkWellFormed(*map);
    fuzz::checkDepthsInRange(*map);
    FUZZ_CHECK(fuzz::samePixels(*map, expected->width, expected->height, expected->pixels));

    // What loads saves back to the same pixels, never longer than it was
    // read, in both formats.
    const std::vector<std::uint8_t> saved = encodeScmhm(*map);
    const std::vector<std::uint8_t> pixels(fuzz::pixelsOf(*map).begin(), fuzz::pixelsOf(*map).end());
    FUZZ_CHECK(saved == modelEncode(map->area.w, map->area.h, pixels));
    FUZZ_CHECK(saved.size() <= bytes.size());
    const DepthMapPtr again = decodeScmhm(saved).map;
    FUZZ_CHECK(again && fuzz::samePixels(*again, *map));
    const DepthMapPtr other = decodeSchm(encodeSchm(*map)).map;
    FUZZ_CHECK(other && fuzz::samePixels(*other, *map));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    checkAsFile(bytes);
    fuzz::checkRawMapRoundTrip(
        bytes, [](const DepthMap& map) { return encodeScmhm(map); },
        [](const std::vector<std::uint8_t>& saved) { return decodeScmhm(saved); }, modelEncode);
    return 0;
}
