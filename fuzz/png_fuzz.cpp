// The PNG reader, from memory, as depths and as a picture. libpng may refuse
// anything, but never by a crash, a leak or a jump past our destructors;
// whatever it accepts must come out as a map of the header's size whose
// depths lie below the levels asked for, the same at every level count up
// to rounding (256 levels >> 3 are the 32-level depths), and the RGB reader
// must take exactly the files the depth reader takes.

#include <cstddef>
#include <cstdint>

#include "depth/png_file.hpp"
#include "fuzz/fuzz_support.hpp"

using namespace tolvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::int64_t width = -1;
    std::int64_t height = -1;
    const bool sized = bool(peekPngSize(bytes, width, height));
    // Sizes past the pixel limit are refused from the header, cheaply; only
    // large sizes within it are left out, as costly and nothing new.
    if (sized && fuzz::tooCostly(width, height)) return 0;

    const DepthResult depths = decodePngDepthMap(bytes);
    if (!depths) {
        FUZZ_CHECK(!depths.map && !depths.detail.empty());
        FUZZ_CHECK(!decodePngPicture(bytes));
        return 0;
    }
    FUZZ_CHECK(sized);
    const DepthMap& map = *depths.map;
    fuzz::checkWellFormed(map);
    fuzz::checkDepthsInRange(map);
    FUZZ_CHECK(map.area.w == width && map.area.h == height);

    const DepthResult fine = decodePngDepthMap(bytes, 256);
    FUZZ_CHECK(bool(fine) && fine.map->area.w == width && fine.map->area.h == height);
    const auto coarse = fuzz::pixelsOf(map);
    const auto detailed = fuzz::pixelsOf(*fine.map);
    for (std::size_t i = 0; i < coarse.size(); ++i) FUZZ_CHECK(detailed[i] >> 3 == coarse[i]);

    // Two levels: near or far, split at the middle of the range.
    const DepthResult two = decodePngDepthMap(bytes, 2);
    FUZZ_CHECK(bool(two));
    const auto halves = fuzz::pixelsOf(*two.map);
    for (std::size_t i = 0; i < halves.size(); ++i) FUZZ_CHECK(halves[i] == detailed[i] >> 7);

    const RgbPlanes picture = decodePngPicture(bytes);
    FUZZ_CHECK(bool(picture));
    for (const DepthMapPtr& plane : picture.planes) {
        FUZZ_CHECK(plane != nullptr && plane->area.w == width && plane->area.h == height);
    }
    return 0;
}
