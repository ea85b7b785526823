#pragma once
// Pictures as PNG files: 8-bit indexed images with a 256-entry palette, the
// form of the screen itself, so a saved frame holds exactly the colours
// shown. Encoding only; nothing here reads PNG.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"

namespace tolvane {

struct RgbColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

using RgbPalette = std::array<RgbColor, 256>;

// How hard to compress. Random dots are noise that no setting shrinks by
// much, so the defaults favour speed: zlib level 1 and no row filter.
struct PngSettings {
    int level = 1;             // zlib level, 0 (store) to 9; others are taken as the nearest
    bool filterRows = false;   // let the encoder choose a filter per row
};

// The PNG file's bytes for `image`, whose bytes are palette indexes: colour
// type 3 (indexed), bit depth 8, a full 256-entry PLTE, no other chunks.
// BadSize for an image without pixels, OutOfMemory, or CannotWrite with
// the encoder's complaint; `bytes` is then empty.
DepthOutcome encodeIndexedPng(const DepthMap& image, const RgbPalette& palette, std::vector<std::uint8_t>& bytes,
                              const PngSettings& settings = {});

}  // namespace tolvane
