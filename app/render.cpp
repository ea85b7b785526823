#include "app/render.hpp"

#include <SDL.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ostream>
#include <string_view>
#include <system_error>

#include "app/command_line.hpp"
#include "app/depth_render.hpp"
#include "depth/file_io.hpp"
#include "depth/indexed_bitmap.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"
#include "stereo/random.hpp"
#include "stereo/stereogram.hpp"
#include "world/world.hpp"
#include "world/world_file.hpp"
#include "world/world_step.hpp"

namespace tolvane {

namespace {

constexpr std::int32_t kFrameWidth = 640;
constexpr std::int32_t kFrameHeight = 480;
constexpr int kRenderFailed = 2;
constexpr int kMaxPictureNumber = 9999;

// "out.PNG" is as much a PNG as "out.png": cameras and other programs
// write extensions in capitals.
bool endsWithAnyCase(std::string_view text, std::string_view end) {
    if (text.size() < end.size()) return false;
    text.remove_prefix(text.size() - end.size());
    for (std::size_t i = 0; i < end.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != end[i]) return false;
    }
    return true;
}

// Plain decimals such as 2.5, .5 or 2.: digits with at most one point, no
// sign, no exponent, no infinity. Checked by hand and then read by strtod,
// correctly rounded in every C library we build with (WebAssembly's has no
// floating-point from_chars).
bool readSeconds(std::string_view text, double& value) {
    bool digits = false;
    bool point = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    const std::string copy(text);
    const double result = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(result) || result > kMaxRenderTime) return false;
    value = result;
    return true;
}

DepthOutcome encodePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                           std::vector<std::uint8_t>& bytes) {
    return format == PictureFormat::Bmp ? encodeIndexedBitmap(image, palette, bytes)
                                        : encodeIndexedPng(image, palette, bytes);
}

// The one place pictures reach the disk.
DepthOutcome writePictureFile(const char* fileName, const std::vector<std::uint8_t>& bytes) {
    return writeFileSafely(fileName, bytes);
}

// The options of a depth picture (--depth and what goes with it): true
// when argv[i] is one of them, `i` then on its last value; `failed` is set
// with `error` when its value is missing or bad.
bool readDepthOption(int argc, const char* const* argv, int& i, RenderOptions& options, std::string& error,
                     bool& failed) {
    const std::string_view argument = argv[i];
    const bool takesValue = argument == "--depth" || argument == "--depth-levels" || argument == "--texture";
    if (!takesValue && argument != "--guide-dots") return false;
    if (takesValue && i + 1 >= argc) {
        error = std::string(argument) + " needs a value";
        failed = true;
        return true;
    }
    if (argument == "--guide-dots") {
        options.guideDots = true;
    } else if (argument == "--depth-levels") {
        if (!readWholeNumber(std::string_view(argv[++i]), kMinDepthLevels, kMaxDepthLevels, options.depthLevels)) {
            error = "--depth-levels needs a whole number from " + std::to_string(kMinDepthLevels) + " to " +
                    std::to_string(kMaxDepthLevels) + ", not \"" + argv[i] + "\"";
            failed = true;
        }
    } else {
        std::string& file = argument == "--depth" ? options.depthFile : options.textureFile;
        file = argv[++i];
        if (file.empty()) {
            error = std::string(argument) + " needs a file name, not \"\"";
            failed = true;
        }
    }
    return true;
}

// Which options go together: a world's with a world, a depth picture's with
// --depth. `given` lists the options met, in order.
bool checkDepthOptions(const RenderOptions& options, const std::vector<std::string_view>& given,
                       std::string& error) {
    const bool depth = !options.depthFile.empty();
    for (const std::string_view option : given) {
        const bool worldOnly = option == "--world" || option == "--view" || option == "--camera" ||
                               option == "--time" || option == "--fps";
        const bool depthOnly = option == "--depth-levels" || option == "--texture" || option == "--guide-dots";
        if (depth && worldOnly) {
            error = std::string(option) + " belongs to a world; --depth draws a picture without one";
            return false;
        }
        if (!depth && depthOnly) {
            error = std::string(option) + " needs --depth";
            return false;
        }
    }
    if (!options.textureFile.empty() && options.patternWidthGiven) {
        error = "--pattern-width cannot go with --texture: the texture's width is the pattern width";
        return false;
    }
    if (!options.textureFile.empty() && options.format != PictureFormat::Png) {
        error = "--texture makes an RGB picture: the output must end in .png, not \"" + options.output + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool parseRenderArguments(int argc, const char* const* argv, RenderOptions& options, std::string& error) {
    options = RenderOptions{};
    bool outputGiven = false;
    // A depth picture may be narrower or wider than the screen: its pattern
    // width is checked against the picture once it is read.
    bool depthPicture = false;
    for (int i = 0; i < argc; ++i) depthPicture = depthPicture || std::string_view(argv[i]) == "--depth";
    std::vector<std::string_view> given;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!argument.empty() && argument[0] == '-') given.push_back(argument);
        if (bool failed = false; readDepthOption(argc, argv, i, options, error, failed)) {
            if (failed) return false;
            continue;
        }
        // The values an option takes: all must be there.
        auto values = [&](int count) {
            if (i + count < argc) return true;
            error = std::string(argument) + " needs " + (count == 1 ? "a value" : "two values");
            return false;
        };
        auto bad = [&](std::string_view value, const std::string& wanted) {
            error = std::string(argument) + " needs " + wanted + ", not \"" + std::string(value) + "\"";
            return false;
        };
        if (argument == "--world") {
            if (!values(1)) return false;
            options.worldFile = argv[++i];
            if (options.worldFile.empty()) return bad("", "a file name");
        } else if (argument == "--view") {
            if (!values(1)) return false;
            const std::string_view view = argv[++i];
            if (view != "stereo" && view != "depth") return bad(view, "stereo or depth");
            options.depthView = view == "depth";
        } else if (argument == "--camera") {
            if (!values(2)) return false;
            const std::string wanted = "two whole numbers from -" + std::to_string(kMaxCameraOffset) + " to " +
                                       std::to_string(kMaxCameraOffset);
            std::int64_t x = 0;
            std::int64_t y = 0;
            if (!readWholeNumber<std::int64_t>(argv[i + 1], -kMaxCameraOffset, kMaxCameraOffset, x)) {
                return bad(argv[i + 1], wanted);
            }
            if (!readWholeNumber<std::int64_t>(argv[i + 2], -kMaxCameraOffset, kMaxCameraOffset, y)) {
                return bad(argv[i + 2], wanted);
            }
            options.cameraX = static_cast<std::int32_t>(x);
            options.cameraY = static_cast<std::int32_t>(y);
            i += 2;
        } else if (argument == "--time") {
            if (!values(1)) return false;
            if (!readSeconds(argv[++i], options.startTime)) {
                return bad(argv[i], "seconds from 0 to " + std::to_string(static_cast<int>(kMaxRenderTime)) +
                                        " as a plain decimal");
            }
        } else if (argument == "--frames" || argument == "--fps" || argument == "--pattern-width") {
            if (!values(1)) return false;
            int low = 1;
            int high = kMaxRenderFrames;
            int* value = &options.frames;
            if (argument == "--fps") {
                high = kMaxRenderFps;
                value = &options.fps;
            } else if (argument == "--pattern-width") {
                low = depthPicture ? kMinDepthPatternWidth : kMinPatternWidth;
                high = depthPicture ? kMaxDepthPatternWidth : kMaxPatternWidth;
                value = &options.patternWidth;
                options.patternWidthGiven = true;
            }
            if (!readWholeNumber(std::string_view(argv[++i]), low, high, *value)) {
                return bad(argv[i], "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
            }
        } else if (argument == "--seed") {
            if (!values(1)) return false;
            if (!readWholeNumber<std::uint32_t>(argv[++i], 0, UINT32_MAX, options.seed)) {
                return bad(argv[i], "a whole number from 0 to " + std::to_string(UINT32_MAX));
            }
            options.seeded = true;
        } else if (argument == "--cross-eyed") {
            options.crossEyed = true;
        } else if (argument == "--grey-dots") {
            options.greyDots = true;
        } else if (argument == "--echo-free") {
            options.echoFree = true;
        } else if (!argument.empty() && argument[0] == '-') {
            error = "unknown renderer option " + std::string(argument);
            return false;
        } else if (outputGiven) {
            error = "two output files given: " + options.output + " and " + std::string(argument);
            return false;
        } else {
            if (endsWithAnyCase(argument, ".png") && argument.size() > 4) {
                options.format = PictureFormat::Png;
            } else if (endsWithAnyCase(argument, ".bmp") && argument.size() > 4) {
                options.format = PictureFormat::Bmp;
            } else {
                error = "--render needs an output file ending in .png or .bmp, not \"" + std::string(argument) + "\"";
                return false;
            }
            options.output = argument;
            outputGiven = true;
        }
    }
    if (!outputGiven) {
        error = "--render needs an output file ending in .png or .bmp";
        return false;
    }
    return checkDepthOptions(options, given, error);
}

std::string renderFileName(const std::string& output, int index, int frames) {
    if (frames <= 1) return output;
    // The extension is one of the two four-byte ones parseRenderArguments
    // accepts.
    const std::size_t stem = output.size() >= 4 ? output.size() - 4 : output.size();
    char number[16];
    std::snprintf(number, sizeof number, "-%04d", index);
    return output.substr(0, stem) + number + output.substr(stem);
}

RgbPalette currentPalette() {
    RgbPalette palette;
    const SDL_Color* table = paletteTable();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = RgbColor{table[i].r, table[i].g, table[i].b};
    }
    return palette;
}

DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName) {
    std::vector<std::uint8_t> bytes;
    return savePicture(image, palette, format, fileName, bytes);
}

DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName, std::vector<std::uint8_t>& buffer) {
    if (DepthOutcome encoded = encodePicture(image, palette, format, buffer); !encoded) return encoded;
    return writePictureFile(fileName, buffer);
}

DepthOutcome saveNumberedPicture(const DepthMap& image, const RgbPalette& palette, std::string& name) {
    name.clear();
    std::vector<std::uint8_t> bytes;
    if (DepthOutcome encoded = encodePicture(image, palette, PictureFormat::Png, bytes); !encoded) return encoded;
    // The complete picture waits under a temporary name and then takes the
    // first free number in one step, never replacing a file: an interrupted
    // save leaves no empty picture behind to hold a number for good.
    StagedFile file;
    DepthOutcome staged = file.openNew("stereogram-0001.png");
    if (staged) staged = file.write(bytes);
    if (staged) staged = file.finish();
    if (!staged) {
        name = "stereogram-0001.png";
        return staged;
    }
    for (int number = 1; number <= kMaxPictureNumber; ++number) {
        char candidate[32];
        std::snprintf(candidate, sizeof candidate, "stereogram-%04d.png", number);
        name = candidate;
        bool taken = false;
        DepthOutcome written = file.commitNew(candidate, taken);
        if (!taken) return written;
    }
    name.clear();
    return failedOutcome(DepthStatus::CannotWrite, "stereogram-0001.png to stereogram-9999.png all exist");
}

bool prepareRender(const RenderOptions& options, std::ostream& err) {
    // The demo's draws in the demo's order: the start-up palette with the
    // default flags, then the one the demo selects, then the pattern on the
    // first stereogram frame. A seeded render is thus the demo's picture.
    seedRandom(options.seeded ? options.seed : static_cast<std::uint32_t>(std::time(nullptr)));
    buildPalette(getOption(OptionSlot::PaletteFlags));
    setOption(OptionSlot::PaletteFlags,
              options.greyDots ? paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots)
                               : paletteBits(PaletteFlag::GreyRamp));
    setOption(OptionSlot::DepthView, options.depthView ? 1 : 0);
    setOption(OptionSlot::CrossEyed, options.crossEyed ? 1 : 0);
    setOption(OptionSlot::EchoFree, options.echoFree ? 1 : 0);
    setOption(OptionSlot::PatternWidth, options.patternWidth);

    // Loaded here rather than by the first step, because building the world
    // puts the camera back to (0, 0).
    WorldProblems problems;
    const bool worldRead = loadWorld(theWorld, options.worldFile.c_str(), problems, installedSampleWorld().c_str());
    worldLoaded = true;
    if (!worldRead) {
        // Nothing to draw: a picture of an empty world would only hide the
        // mistake in a script. The last line says why.
        err << escapeForDisplay(options.worldFile) << ": " << problemLine(problems.back()) << '\n';
        return false;
    }
    for (const WorldProblem& problem : problems) {
        err << escapeForDisplay(options.worldFile) << ": " << problemLine(problem) << '\n';
    }
    theWorld.cameraX = moveBy(theWorld.cameraX, options.cameraX);
    theWorld.cameraY = moveBy(theWorld.cameraY, options.cameraY);
    return true;
}

int runRenderer(int argc, const char* const* argv, std::ostream& err) {
    RenderOptions options;
    std::string error;
    if (!parseRenderArguments(argc, argv, options, error)) {
        printCommandLineError(err, error);
        return kRenderFailed;
    }
    if (!options.depthFile.empty()) return runDepthRenderer(options, err);
    floatMaxFractionDigits = 4;
    if (!prepareRender(options, err)) return kRenderFailed;
    const RgbPalette palette = currentPalette();

    DepthMapPtr frame = createDepthMap(kFrameWidth, kFrameHeight);
    int status = frame ? 0 : kRenderFailed;
    if (!frame) err << escapeForDisplay(options.output) << ": cannot render: out of memory\n";
    // One buffer for every frame's file: a fresh one each time would cost
    // more in page faults than the world and the stereogram together.
    std::vector<std::uint8_t> bytes;
    for (int index = 0; frame && index < options.frames; ++index) {
        // From the frame's number each time: a sum of float steps drifts off
        // the frames of the animations and, late in a long run, stops moving.
        theWorld.setElapsed(options.startTime + static_cast<double>(index) / options.fps);
        stepWorld(*frame, 0.0f, false, options.worldFile.c_str());
        composeFrame(*frame);
        const std::string name = renderFileName(options.output, index, options.frames);
        if (const DepthOutcome saved = savePicture(*frame, palette, options.format, name.c_str(), bytes); !saved) {
            // The writer's own details already say what failed.
            const bool said = saved.detail.starts_with("cannot ");
            err << escapeForDisplay(name) << (said ? ": " : ": cannot write: ") << escapeForDisplay(saved.detail)
                << '\n';
            status = kRenderFailed;
            break;
        }
    }
    releasePattern();
    return status;
}

}  // namespace tolvane
