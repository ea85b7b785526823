// The ".schm" reader and writer. The input is read twice: as a file, which
// must load exactly as a plain model of the format says (or be refused where
// the model finds it incomplete or inconsistent), and as a raw map (first
// byte the width, the rest pixels of any value), which must be written as
// the model writes it and read back unchanged up to the clamp to 31.

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

// Header width, height, run count N, then N run bytes of value and
// length - 1. Refused: a short header or run data, a negative size or
// more than 2^28 pixels, runs past the map or runs that leave it short.
std::optional<ModelMap> modelDecode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12) return std::nullopt;
    ModelMap map;
    map.width = std::int32_t(readLe32(bytes.data()));
    map.height = std::int32_t(readLe32(bytes.data() + 4));
    const std::uint64_t runs = readLe32(bytes.data() + 8);
    if (!fuzz::sidesValid(map.width, map.height) || runs > bytes.size() - 12) return std::nullopt;
    const std::size_t n = std::size_t(map.width * map.height);
    for (std::size_t k = 0; k < runs; ++k) {
        const std::uint8_t run = bytes[12 + k];
        const std::size_t length = (run >> 5) + 1u;
        if (map.pixels.size() + length > n) return std::nullopt;
        map.pixels.insert(map.pixels.end(), length, std::uint8_t(run & 31));
    }
    if (map.pixels.size() != n) return std::nullopt;
    return map;
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(std::uint8_t(v >> shift));
}

// Greedy runs of at most 8 over the pixels clamped to 31.
std::vector<std::uint8_t> modelEncode(std::int32_t width, std::int32_t height,
                                      const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> out;
    putLe32(out, std::uint32_t(width));
    putLe32(out, std::uint32_t(height));
    std::vector<std::uint8_t> runs;
    for (std::size_t i = 0; i < pixels.size();) {
        const std::uint8_t value = std::min<std::uint8_t>(pixels[i], 31);
        std::size_t length = 1;
        while (length < 8 && i + length < pixels.size() && std::min<std::uint8_t>(pixels[i + length], 31) == value) {
            ++length;
        }
        runs.push_back(std::uint8_t(value | (length - 1) << 5));
        i += length;
    }
    putLe32(out, std::uint32_t(runs.size()));
    out.insert(out.end(), runs.begin(), runs.end());
    return out;
}

void checkAsFile(std::span<const std::uint8_t> bytes) {
    const DepthResult result = decodeSchm(bytes);
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

    // What loads saves back to the same pixels, in the fewest runs, in both
    // formats.
    const std::vector<std::uint8_t> saved = encodeSchm(*map);
    const std::vector<std::uint8_t> pixels(fuzz::pixelsOf(*map).begin(), fuzz::pixelsOf(*map).end());
    FUZZ_CHECK(saved == modelEncode(map->area.w, map->area.h, pixels));
    FUZZ_CHECK(readLe32(saved.data() + 8) <= readLe32(bytes.data() + 8));
    const DepthMapPtr again = decodeSchm(saved).map;
    FUZZ_CHECK(again && fuzz::samePixels(*again, *map));
    const DepthMapPtr other = decodeScmhm(encodeScmhm(*map)).map;
    FUZZ_CHECK(other && fuzz::samePixels(*other, *map));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    checkAsFile(bytes);
    fuzz::checkRawMapRoundTrip(
        bytes, [](const DepthMap& map) { return encodeSchm(map); },
        [](const std::vector<std::uint8_t>& saved) { return decodeSchm(saved); }, modelEncode);
    return 0;
}
