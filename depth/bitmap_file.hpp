#pragma once
// Depth maps from and to Windows bitmaps, through SDL. Needs no SDL_Init and
// no display: SDL only decodes and encodes in memory here.
//
// Reading: pixel (x, y) is the first byte of the surface pixel >> 3, for any
// bit depth SDL decodes: the palette index of an 8-bit bitmap, the blue
// component of a 24- or 32-bit one. Rows are read at the surface's pitch.
// A warning comes with a palette that is not a grey ramp in index order
// (the depths then follow the indices, not the brightness), or else with a
// picture of more than one pixel whose depths are all equal.
// Writing: a 24-bit grey bitmap with depth << 3 (wrapping) in every byte.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"
#include "depth/file_io.hpp"

namespace tolvane {

DepthResult loadBitmapDepthMap(const char* fileName);
DepthResult decodeBitmapDepthMap(std::span<const std::uint8_t> bytes);
// Width and height from the first bytes of a bitmap file, checked as the
// reader checks them.
DepthResult peekBitmapSize(std::span<const std::uint8_t> header, std::int64_t& width,
                           std::int64_t& height);

// Largest sides of a map a bitmap can be written from: SDL makes no
// surface wider or taller.
inline constexpr std::int32_t kWidestBitmapMap = 16383;
inline constexpr std::int32_t kTallestBitmapMap = 65535;

// Writes a 24-bit grey bitmap (depth << 3 in every byte) through a temporary
// file renamed over the target; on failure any earlier file of that name is
// untouched. SDL writes straight into the temporary, so nothing beyond the
// map and SDL's surface is held in memory.
DepthOutcome saveDepthMapBitmap(const DepthMap& map, const char* fileName);
// Writes the bitmap into `file`, opened but not yet finished; the caller
// finishes and commits it.
DepthOutcome writeDepthMapBitmap(const DepthMap& map, StagedFile& file);
// The bitmap file's bytes, as SDL writes them.
DepthOutcome encodeDepthMapBitmap(const DepthMap& map, std::vector<std::uint8_t>& bytes);

}  // namespace tolvane
