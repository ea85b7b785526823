#pragma once
// PNG files, through libpng (the one file that includes it).
//
// Writing: 8-bit indexed images with a 256-entry palette, the form of the
// screen itself, so a saved frame holds exactly the colours shown; and RGB
// pictures made of three planes (a textured stereogram).
//
// Reading: any PNG libpng reads (grey of 1 to 16 bits, grey with alpha,
// palette, RGB, RGBA, interlaced or not) as a depth map or as an RGB
// picture. Colour becomes grey by libpng's own conversion and alpha is
// ignored. Pixels are decoded row by row straight into the map, so a 16-bit
// picture never exists whole in memory (an interlaced one does: its passes
// need every row). Sizes are checked from the header before anything is
// allocated: at most kMaxDepthFilePixels pixels, as for every depth file.

#include <array>
#include <cstdint>
#include <span>
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

// Lets an encoder start before its picture is complete, the rows coming
// from another thread in order.
class PngRowGate {
public:
    virtual ~PngRowGate() = default;
    // Waits until rows [0, rows) of the picture are final; false when they
    // never will be, which ends the encoding as a failure.
    virtual bool waitForRows(std::int32_t rows) = 0;
};

// Follows a depth picture while it is decoded, on the decoding thread.
class PngRowListener {
public:
    virtual ~PngRowListener() = default;
    // The map exists, all 0, at the picture's size, before any row is
    // decoded. False stops the decoding: a failure the listener knows the
    // reason for.
    virtual bool begin(DepthMap& map) = 0;
    // Rows [0, rows) hold their depths: after every row, or only once at
    // the end for an interlaced picture. The file may still fail after the
    // last rows, in its end chunks.
    virtual void rowsDecoded(std::int32_t rows) = 0;
    // The decoding failed after begin: called before the map is freed,
    // which happens as soon as this returns.
    virtual void failing() {}
};

// The PNG file's bytes for `image`, whose bytes are palette indexes: colour
// type 3 (indexed), bit depth 8, a full 256-entry PLTE, no other chunks.
// BadSize for an image without pixels, OutOfMemory, or CannotWrite with
// the encoder's complaint; `bytes` is then empty.
// With a `gate`, each row is written once the gate has it.
DepthOutcome encodeIndexedPng(const DepthMap& image, const RgbPalette& palette, std::vector<std::uint8_t>& bytes,
                              const PngSettings& settings = {}, PngRowGate* gate = nullptr);

// An RGB picture (colour type 2, 8 bits a sample) whose red, green and blue
// come from three maps of one size. BadSize when they are empty or differ.
DepthOutcome encodeRgbPng(const DepthMap& red, const DepthMap& green, const DepthMap& blue,
                          std::vector<std::uint8_t>& bytes, const PngSettings& settings = {});

// Depth levels a picture's range is divided into by default: 32, so that an
// 8-bit grey level v gives v >> 3 and a 16-bit one v >> 11, as a bitmap's
// byte does.
inline constexpr int kDefaultDepthLevels = 32;
inline constexpr int kMinDepthLevels = 2;
inline constexpr int kMaxDepthLevels = 256;

// The picture as depths: a grey level v of an image with b bits a sample
// (8 for 1-, 2- and 4-bit grey, which are widened to 8 first, and for
// palettes) gives floor(v x levels / 2^b), 0 to levels - 1. `levels` must lie
// in kMinDepthLevels..kMaxDepthLevels. Undecodable with libpng's reason for
// a malformed or truncated file, BadSize beyond the pixel limit.
DepthResult decodePngDepthMap(std::span<const std::uint8_t> bytes, int levels = kDefaultDepthLevels);
DepthResult loadPngDepthMap(const char* fileName, int levels = kDefaultDepthLevels,
                            PngRowListener* listener = nullptr);

// Width and height from a PNG's first 24 bytes; BadHeader when they are not
// a PNG signature and its IHDR chunk.
DepthResult peekPngSize(std::span<const std::uint8_t> header, std::int64_t& width, std::int64_t& height);

// A picture as three 8-bit planes (16-bit samples keep their high byte,
// grey is copied to all three, alpha is dropped).
struct RgbPlanes {
    std::array<DepthMapPtr, 3> planes;  // red, green, blue; null unless status is Ok
    DepthStatus status = DepthStatus::Ok;
    std::string detail;
    explicit operator bool() const { return status == DepthStatus::Ok; }
};
RgbPlanes decodePngPicture(std::span<const std::uint8_t> bytes);
RgbPlanes loadPngPicture(const char* fileName);

}  // namespace tolvane
