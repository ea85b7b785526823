// The bitmap reader, from memory. Whatever SDL accepts must come out as a
// map of the header's size with depths 0..31 that saves and loads back
// unchanged; for the plain uncompressed 8-, 24- and 32-bit layouts the
// pixels are also checked against the file's bytes, row padding and row
// order included.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "depth/bitmap_file.hpp"
#include "fuzz/fuzz_support.hpp"

using namespace tolvane;

namespace {

constexpr std::int64_t kLargestRoundTripPixels = std::int64_t(1) << 20;

std::uint16_t readLe16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

// For an uncompressed bitmap with a full info header whose pixel data is all
// there, the depth every pixel must get: the first byte of the pixel in the
// file (palette index or blue) >> 3, rows bottom up unless the height is
// negative, each row padded to four bytes. False for any other layout.
bool expectedFromFile(std::span<const std::uint8_t> bytes, std::int64_t width, std::int64_t height,
                      std::vector<std::uint8_t>& expected) {
    if (bytes.size() < 54) return false;
    const std::uint32_t infoSize = readLe32(bytes.data() + 14);
    const std::uint16_t bitCount = readLe16(bytes.data() + 28);
    const std::uint32_t compression = readLe32(bytes.data() + 30);
    if (infoSize < 40 || compression != 0 || (bitCount != 8 && bitCount != 24 && bitCount != 32)) {
        return false;
    }
    const bool topDown = std::int32_t(readLe32(bytes.data() + 22)) < 0;
    const std::uint64_t offset = readLe32(bytes.data() + 10);
    const std::uint64_t bytesPerPixel = bitCount / 8u;
    const std::uint64_t stride = (std::uint64_t(width) * bitCount + 31) / 32 * 4;
    if (offset + stride * std::uint64_t(height) > bytes.size()) return false;
    expected.clear();
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint64_t fileRow = std::uint64_t(topDown ? y : height - 1 - y);
        const std::uint8_t* row = bytes.data() + offset + fileRow * stride;
        for (std::int64_t x = 0; x < width; ++x) {
            expected.push_back(std::uint8_t(row[std::uint64_t(x) * bytesPerPixel] >> 3));
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::int64_t width = -1;
    std::int64_t height = -1;
    const bool isBitmap = fuzz::peekBitmapSize(bytes, width, height);
    if (isBitmap && fuzz::tooCostly(width, height)) return 0;

    const DepthResult result = decodeBitmapDepthMap(bytes);
    if (!result) {
        FUZZ_CHECK(!result.map && !result.detail.empty());
        return 0;
    }
    const DepthMapPtr& map = result.map;
    FUZZ_CHECK(isBitmap);
    fuzz::checkWellFormed(*map);
    fuzz::checkDepthsInRange(*map);
    FUZZ_CHECK(map->area.w == width && map->area.h == height);

    std::vector<std::uint8_t> expected;
    if (expectedFromFile(bytes, width, height, expected)) {
        FUZZ_CHECK(fuzz::samePixels(*map, width, height, expected));
    }

    // A map may be wider than SDL can write as a bitmap; the writer then
    // refuses it by that status and no other.
    const bool writable = map->area.w <= kWidestBitmapMap && map->area.h <= kTallestBitmapMap;
    if (std::int64_t(pixelCount(*map)) <= kLargestRoundTripPixels) {
        std::vector<std::uint8_t> saved;
        const DepthOutcome encoded = encodeDepthMapBitmap(*map, saved);
        if (!writable) {
            FUZZ_CHECK(encoded.status == DepthStatus::TooLargeToWrite);
            return 0;
        }
        FUZZ_CHECK(bool(encoded));
        const DepthMapPtr again = decodeBitmapDepthMap(saved).map;
        FUZZ_CHECK(again && fuzz::samePixels(*again, *map));
    }
    return 0;
}
