#pragma once
// The headless renderer: frames of a world written as pictures, without a
// window and without SDL video, and the pictures key K saves in the demo.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"
#include "depth/png_file.hpp"

namespace tolvane {

enum class PictureFormat { Png, Bmp };

// Sanity limits for the renderer's numbers: enough for any real use, small
// enough that a typo cannot start an endless run.
inline constexpr int kMaxRenderFrames = 100000;
inline constexpr int kMaxRenderFps = 1000;
inline constexpr double kMaxRenderTime = 1000000.0;      // seconds, some 11 days
inline constexpr std::int64_t kMaxCameraOffset = 1000000000;

struct RenderOptions {
    std::string output;  // OUT: ".png" or ".bmp" picks the format
    PictureFormat format = PictureFormat::Png;
    std::string worldFile = "world.xml";
    bool depthView = false;
    std::int32_t cameraX = 0;  // as a drag by this much would place it
    std::int32_t cameraY = 0;
    double startTime = 0.0;  // seconds every clock runs before frame 0
    int frames = 1;
    int fps = 30;
    bool seeded = false;     // else the clock seeds the generator, as in the demo
    std::uint32_t seed = 0;
    bool crossEyed = false;
    std::int32_t patternWidth = 128;
    bool greyDots = false;
    bool echoFree = false;
    // A depth picture instead of a world (see app/depth_render.hpp): its
    // name, or a numbered pattern such as "d-%04d.png" for a sequence.
    std::string depthFile;
    int depthLevels = kDefaultDepthLevels;  // --depth-levels L
    std::string textureFile;    // --texture: the pattern is this picture
    bool guideDots = false;
    bool patternWidthGiven = false;
};

// Reads the renderer's arguments (those after "--render"): OUT and the
// options in any order. False with a one-line reason for a missing or
// second OUT, an OUT that is neither ".png" nor ".bmp", an unknown option,
// a missing or bad value, or options that do not go together (a world's
// options with --depth, a depth picture's without it).
bool parseRenderArguments(int argc, const char* const* argv, RenderOptions& options, std::string& error);

// The file frame `index` of `frames` goes to: OUT itself for a single
// frame, else OUT's stem, "-" and the index in at least four digits, then
// its extension ("out.png" gives "out-0000.png", "out-0001.png", ...).
std::string renderFileName(const std::string& output, int index, int frames);

// Renders as the arguments ask. 0 when every file was written; 2 after the
// usage (bad arguments) or one line naming the file and the reason (a
// failed write) on `err`.
int runRenderer(int argc, const char* const* argv, std::ostream& err);

// The palette the display holds now, as the picture encoders take it.
RgbPalette currentPalette();

// Writes `image` with `palette` in `format` to `fileName` through the safe
// writer: when it fails nothing is left behind and an existing file is
// untouched.
DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName);
// The same, encoding into `buffer`, which keeps its capacity for the next.
DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName, std::vector<std::uint8_t>& buffer);

// Saves `image` as PNG under `name`, "stereogram-NNNN.png" in the working
// folder with the first number from 0001 whose name is free, never
// replacing a file: the complete picture takes the name in one step, so no
// empty file ever holds it. On failure `name` is the name tried, or empty
// when every number is taken.
DepthOutcome saveNumberedPicture(const DepthMap& image, const RgbPalette& palette, std::string& name);

}  // namespace tolvane
