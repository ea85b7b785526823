#pragma once
// The 8-bit depth raster every part of the engine exchanges, and the
// operations that composite depth images into the frame's depth map.
//
// Depth values run from 0 (far) to 31 (near); in sprites 0 is also
// transparent. Compositing arithmetic is 8-bit and wraps on purpose: the
// slope taken out of a scene image at load comes back when the band of the
// screen row is added at draw time.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tolvane {

struct Rect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t w = 0;
    std::int32_t h = 0;
};

// Row-major, stride equal to the width, origin of `area` always (0, 0).
// A map made by createDepthMap owns its bytes through `storage`; the frame's
// map borrows the screen surface's pixels and leaves `storage` empty.
// Gives back the bytes createDepthMap took: from calloc, or for a large map
// a mapping of `mappedBytes` bytes of its own.
struct FreeDepthBytes {
    std::size_t mappedBytes = 0;
    void operator()(std::uint8_t* bytes) const;
};

struct DepthMap {
    std::uint8_t* pixels = nullptr;
    Rect area;
    std::unique_ptr<std::uint8_t[], FreeDepthBytes> storage;
};

using DepthMapPtr = std::unique_ptr<DepthMap>;

// Largest number of pixels a map may hold: pixel addresses are computed in
// 32-bit signed arithmetic.
inline constexpr std::int64_t kMaxDepthMapPixels = INT32_MAX;

// A new map of width x height pixels, all 0; null when a side is negative,
// the pixel count exceeds kMaxDepthMapPixels, or memory cannot be had.
DepthMapPtr createDepthMap(std::int32_t width, std::int32_t height);
void freeDepthMap(DepthMapPtr map);
// Pixels the map holds: 0 without pixels or with a side of 0 or less.
inline std::size_t pixelCount(const DepthMap& map) {
    if (map.pixels == nullptr || map.area.w <= 0 || map.area.h <= 0) return 0;
    return static_cast<std::size_t>(map.area.w) * static_cast<std::size_t>(map.area.h);
}
void fillDepthMap(DepthMap& map, std::uint8_t value);
std::uint8_t* pixelAddress(const DepthMap& map, std::int32_t column, std::int32_t row);

// Clips `source`'s size placed at (x, y) against `target`'s size (origins
// ignored). False when nothing of it can show. A rectangle that only touches
// the left or top edge is accepted with a width or height of 0; one that
// reaches the right or bottom edge stops one short of it, so the last column
// and row of the target are never part of the result. The output size is
// never negative.
bool clipRect(const Rect& target, const Rect& source, std::int32_t x, std::int32_t y, Rect& out);

// Shift of the 15-row depth bands, -14..0, following the camera's y: the
// `rowPhase` the blits take.
std::int32_t computeRowPhase(std::int32_t cameraY);

// Both blits put `sourceRect` of `source` with its top-left corner at (x, y)
// of `target`, clipped by clipRect. A source rectangle reaching outside its
// map is first cut to the map, so no blit ever reads or writes out of bounds.
//
// Opaque: every pixel becomes source + band of its target row, capped at 31.
void blitScene(const DepthMap& source, const Rect& sourceRect, DepthMap& target,
               std::int32_t x, std::int32_t y, std::int32_t rowPhase = 0);
// Opaque without the slope: every pixel becomes its source value, capped at
// 31 (values from 128 up count as below 0 and show as 0, as in blitScene).
void blitSceneFlat(const DepthMap& source, const Rect& sourceRect, DepthMap& target,
                   std::int32_t x, std::int32_t y);
// Transparent where the source is 0; elsewhere source + (band of the last
// drawn row - 2), capped at 31, wherever that is nearer than the target.
void blitSprite(const DepthMap& source, const Rect& sourceRect, DepthMap& target,
                std::int32_t x, std::int32_t y, std::int32_t rowPhase = 0);
// Takes row / 15 off every byte of each row, wrapping, so that blitScene can
// put the slope of whatever screen row the image lands on back in.
void removeDepthSlope(DepthMap& map);

}  // namespace tolvane
