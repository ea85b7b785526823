#pragma once
// The command line of every mode: what to run and with which options.

#include <charconv>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "depth/png_file.hpp"

namespace tolvane {

enum class RunMode {
    Demo,     // the interactive demo on `worldFile`
    Convert,  // convert `convertFile` and exit
    Render,   // headless frames as `render` asks
    Help,     // usage on standard output, status 0
    Version,  // name and version on standard output, status 0
    Error,    // `error` and the usage on standard error, status 2
};

// Highest --max-fps: beyond it a cap would not be felt.
inline constexpr int kMaxFramesPerSecondCap = 1000;

enum class PictureFormat { Png, Bmp };

// Sanity limits for the renderer's numbers: enough for any real use, small
// enough that a typo cannot start an endless run.
inline constexpr int kMaxRenderFrames = 100000;
inline constexpr int kMaxRenderFps = 1000;
inline constexpr double kMaxRenderTime = 1000000.0;      // seconds, some 11 days
inline constexpr std::int64_t kMaxCameraOffset = 1000000000;
inline constexpr int kMaxFirstFrame = 100000000;
inline constexpr int kMaxRenderJobs = 256;

// What `--render` asks for.
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
    int firstFrame = 0;          // the sequence's frame the first file shows
    bool firstFrameGiven = false;
    int jobs = 0;                // frames drawn at once; 0: one per core
    // A depth picture instead of a world (see app/depth_render.hpp): its
    // name, or a numbered pattern such as "d-%04d.png" for a sequence.
    std::string depthFile;
    int depthLevels = kDefaultDepthLevels;  // --depth-levels L
    std::string textureFile;    // --texture: the pattern is this picture
    bool guideDots = false;
    bool patternWidthGiven = false;
};

struct CommandLine {
    RunMode mode = RunMode::Demo;
    std::string worldFile = "world.xml";
    std::string convertFile;
    int scale = 0;   // window enlargement; 0: the largest that fits the desktop
    int maxFps = 0;  // frames per second at most; 0: uncapped
    RenderOptions render;
    std::string error;  // one line without its end, for RunMode::Error
};

// Reads argv[1..argc-1]. Options come in any order and take their value as
// the next argument(s).
//
// The demo's: a lone argument that is neither an option nor a ".xml" name
// is a depth file to convert; a name ending in ".xml" is the world; other
// stray arguments are ignored, so two or more file names still run the
// demo. "--" ends the options.
//
// "--render" as the first argument reads the renderer's: OUT and its
// options. An error for a missing or second OUT, an OUT that is neither
// ".png" nor ".bmp", an unknown option, a missing or bad value, or options
// that do not go together (a world's options with --depth, a depth
// picture's without it).
CommandLine parseCommandLine(int argc, const char* const* argv);

// The renderer's arguments alone (those after "--render"), read as
// parseCommandLine reads them, for front ends that take render options from
// elsewhere (a page's address): false with the one-line reason in `error`.
bool parseRenderArguments(int argc, const char* const* argv, RenderOptions& options, std::string& error);

// A whole number from `low` to `high` in plain decimal digits: a minus sign
// only where the range goes below 0; no plus, no spaces, no fraction, so a
// typo is told rather than half-read. `value` is set only on success.
template <typename T>
bool readWholeNumber(std::string_view text, T low, T high, T& value) {
    if (text.empty()) return false;
    if constexpr (std::is_signed_v<T>) {
        if (text[0] == '-' && low >= 0) return false;
    }
    T result{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (error != std::errc() || end != text.data() + text.size() || result < low || result > high) return false;
    value = result;
    return true;
}

// Whether `text` ends with `end`.
bool endsWith(std::string_view text, std::string_view end);

// The sample world where the install put it (the data folder of the install
// prefix: "/usr/share/tolvane/world.xml" for the package), or empty when no
// readable file is there, as when running from the build folder.
std::string installedSampleWorld();

// Modes, options and keys, for -h.
void printUsage(std::ostream& out);

// "Tolvane" and the version the build was configured with.
void printVersion(std::ostream& out);

// A bad command line, for the demo's options and the renderer's alike: the
// one-line reason and where to read more, so the reason does not scroll
// away behind the whole usage.
void printCommandLineError(std::ostream& err, const std::string& reason);

}  // namespace tolvane
