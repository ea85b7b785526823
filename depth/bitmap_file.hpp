#pragma once
// Depth maps from and to Windows bitmaps, through SDL.

#include <string>

#include "depth/depth_map.hpp"

DepthMapPtr loadBitmapDepthMap(const char* fileName, std::string* why = nullptr);
// Writes a 32-bit grey bitmap (depth << 3 in every byte) through a temporary
// file renamed over the target; false when anything failed, and then any
// earlier file of that name is untouched.
bool saveDepthMapBitmap(const DepthMap& map, const char* fileName);
