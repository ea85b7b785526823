#pragma once
// Depth maps from and to Windows bitmaps, through SDL. Needs no SDL_Init and
// no display: SDL only decodes and encodes in memory here.
//
// Reading: pixel (x, y) is the first byte of the surface pixel >> 3, for any
// bit depth SDL decodes: the palette index of an 8-bit bitmap, the blue
// component of a 24- or 32-bit one. Rows are read at the surface's pitch.
// Writing: a 32-bit grey surface with depth << 3 (wrapping) in every byte.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"

DepthMapPtr loadBitmapDepthMap(const char* fileName, std::string* why = nullptr);
DepthMapPtr decodeBitmapDepthMap(std::span<const std::uint8_t> bytes, std::string* why = nullptr);

// Writes a 32-bit grey bitmap (depth << 3 in every byte) through a temporary
// file renamed over the target; false when anything failed, and then any
// earlier file of that name is untouched.
bool saveDepthMapBitmap(const DepthMap& map, const char* fileName, std::string* why = nullptr);
// The bitmap file's bytes, as SDL writes them.
bool encodeDepthMapBitmap(const DepthMap& map, std::vector<std::uint8_t>& bytes,
                          std::string* why = nullptr);
