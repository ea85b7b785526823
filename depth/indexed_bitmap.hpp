#pragma once
// Pictures as Windows bitmaps: the twin of the PNG encoder beside it, for the
// same 8-bit indexed images and palettes. Encoding only, in plain memory
// (the depth-map bitmaps of bitmap_file go through SDL instead).

#include <cstdint>
#include <vector>

#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"
#include "depth/png_file.hpp"

namespace tolvane {

// A 256-colour bottom-up Windows bitmap of `image`, each byte a palette
// index: exact colours, rows padded to four bytes. BadSize for an empty
// image, TooLargeToWrite beyond the format's 4 GiB.
DepthOutcome encodeIndexedBitmap(const DepthMap& image, const RgbPalette& palette, std::vector<std::uint8_t>& bytes);

}  // namespace tolvane
