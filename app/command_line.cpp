#include "app/command_line.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <unistd.h>

#include <ostream>
#include <system_error>
#include <vector>
#include <string_view>
#include <utility>

#include "display/display.hpp"
#include "app/depth_render.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "unknown"
#endif
#ifndef TOLVANE_SAMPLE_WORLD
#define TOLVANE_SAMPLE_WORLD ""
#endif

namespace tolvane {

namespace {

CommandLine failure(std::string why) {
    CommandLine command;
    command.mode = RunMode::Error;
    command.error = std::move(why);
    return command;
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

std::string wholeRange(std::int64_t low, std::int64_t high) {
    return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

// A renderer option's reader: takes its values into the options, or names
// the first bad value (its index) and says what was wanted.
using RenderReader = int (*)(RenderOptions& options, const char* const* values, std::string& wanted);
constexpr int kValuesRead = -1;

template <int RenderOptions::*field, int low, int high>
int readNumber(RenderOptions& options, const char* const* values, std::string& wanted) {
    if (readWholeNumber(std::string_view(values[0]), low, high, options.*field)) return kValuesRead;
    wanted = wholeRange(low, high);
    return 0;
}

template <bool RenderOptions::*field>
int readSwitch(RenderOptions& options, const char* const*, std::string&) {
    options.*field = true;
    return kValuesRead;
}

int readView(RenderOptions& options, const char* const* values, std::string& wanted) {
    const std::string_view view = values[0];
    options.depthView = view == "depth";
    if (view == "stereo" || view == "depth") return kValuesRead;
    wanted = "stereo or depth";
    return 0;
}

int readCamera(RenderOptions& options, const char* const* values, std::string& wanted) {
    std::int64_t offsets[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (!readWholeNumber<std::int64_t>(values[i], -kMaxCameraOffset, kMaxCameraOffset, offsets[i])) {
            wanted = "two whole numbers from -" + std::to_string(kMaxCameraOffset) + " to " +
                     std::to_string(kMaxCameraOffset);
            return i;
        }
    }
    options.cameraX = static_cast<std::int32_t>(offsets[0]);
    options.cameraY = static_cast<std::int32_t>(offsets[1]);
    return kValuesRead;
}

int readTime(RenderOptions& options, const char* const* values, std::string& wanted) {
    if (readSeconds(values[0], options.startTime)) return kValuesRead;
    wanted = "seconds from 0 to " + std::to_string(static_cast<int>(kMaxRenderTime)) + " as a plain decimal";
    return 0;
}

int readSeed(RenderOptions& options, const char* const* values, std::string& wanted) {
    options.seeded = true;
    if (readWholeNumber<std::uint32_t>(values[0], 0, UINT32_MAX, options.seed)) return kValuesRead;
    wanted = wholeRange(0, UINT32_MAX);
    return 0;
}

int readFirstFrame(RenderOptions& options, const char* const* values, std::string& wanted) {
    options.firstFrameGiven = true;
    return readNumber<&RenderOptions::firstFrame, 0, kMaxFirstFrame>(options, values, wanted);
}

// A depth picture may be narrower or wider than the screen: its pattern
// width is checked against the picture once it is read.
int readPatternWidth(RenderOptions& options, const char* const* values, std::string& wanted) {
    options.patternWidthGiven = true;
    if (!options.depthFile.empty()) {
        return readNumber<&RenderOptions::patternWidth, kMinDepthPatternWidth, kMaxDepthPatternWidth>(options, values,
                                                                                                      wanted);
    }
    return readNumber<&RenderOptions::patternWidth, kMinPatternWidth, kMaxPatternWidth>(options, values, wanted);
}

template <std::string RenderOptions::*field>
int readFileName(RenderOptions& options, const char* const* values, std::string& wanted) {
    options.*field = values[0];
    if (!(options.*field).empty()) return kValuesRead;
    wanted = "a file name";
    return 0;
}

// Which renders an option belongs to.
enum class RenderKind { Any, World, Depth };

struct RenderRule {
    std::string_view name;
    int values;
    RenderReader read;
    RenderKind kind;
};

constexpr RenderRule kRenderRules[] = {
    {"--world", 1, readFileName<&RenderOptions::worldFile>, RenderKind::World},
    {"--view", 1, readView, RenderKind::World},
    {"--camera", 2, readCamera, RenderKind::World},
    {"--time", 1, readTime, RenderKind::World},
    {"--frames", 1, readNumber<&RenderOptions::frames, 1, kMaxRenderFrames>, RenderKind::Any},
    {"--fps", 1, readNumber<&RenderOptions::fps, 1, kMaxRenderFps>, RenderKind::World},
    {"--seed", 1, readSeed, RenderKind::Any},
    {"--cross-eyed", 0, readSwitch<&RenderOptions::crossEyed>, RenderKind::Any},
    {"--pattern-width", 1, readPatternWidth, RenderKind::Any},
    {"--grey-dots", 0, readSwitch<&RenderOptions::greyDots>, RenderKind::Any},
    {"--echo-free", 0, readSwitch<&RenderOptions::echoFree>, RenderKind::Any},
    {"--first-frame", 1, readFirstFrame, RenderKind::World},
    {"--jobs", 1, readNumber<&RenderOptions::jobs, 1, kMaxRenderJobs>, RenderKind::World},
    {"--depth", 1, readFileName<&RenderOptions::depthFile>, RenderKind::Any},
    {"--depth-levels", 1, readNumber<&RenderOptions::depthLevels, kMinDepthLevels, kMaxDepthLevels>,
     RenderKind::Depth},
    {"--texture", 1, readFileName<&RenderOptions::textureFile>, RenderKind::Depth},
    {"--guide-dots", 0, readSwitch<&RenderOptions::guideDots>, RenderKind::Depth},
};

// Options that do not go together, once all are read.
bool checkRenderKinds(const RenderOptions& options, const std::vector<const RenderRule*>& given, std::string& error) {
    const bool depth = !options.depthFile.empty();
    for (const RenderRule* rule : given) {
        if (depth && rule->kind == RenderKind::World) {
            error = std::string(rule->name) + " belongs to a world; --depth draws a picture without one";
            return false;
        }
        if (!depth && rule->kind == RenderKind::Depth) {
            error = std::string(rule->name) + " needs --depth";
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

// OUT: the one argument of the renderer that is not an option.
bool readOutput(std::string_view argument, RenderOptions& options, bool& given, std::string& error) {
    if (given) {
        error = "two output files given: " + options.output + " and " + std::string(argument);
        return false;
    }
    if (endsWithAnyCase(argument, ".png") && argument.size() > 4) {
        options.format = PictureFormat::Png;
    } else if (endsWithAnyCase(argument, ".bmp") && argument.size() > 4) {
        options.format = PictureFormat::Bmp;
    } else {
        error = "--render needs an output file ending in .png or .bmp, not \"" + std::string(argument) + "\"";
        return false;
    }
    options.output = argument;
    given = true;
    return true;
}

// The renderer's arguments, argv[first..argc-1].
CommandLine readRenderArguments(int argc, const char* const* argv, int first) {
    CommandLine command;
    command.mode = RunMode::Render;
    RenderOptions& options = command.render;
    bool outputGiven = false;
    std::string error;
    // A depth picture's pattern widths are its own, wherever --depth stands.
    for (int i = first; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--depth" && i + 1 < argc) options.depthFile = argv[i + 1];
    }
    std::vector<const RenderRule*> given;
    for (int i = first; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const RenderRule* rule = nullptr;
        for (const RenderRule& candidate : kRenderRules) {
            if (argument == candidate.name) rule = &candidate;
        }
        if (rule != nullptr) given.push_back(rule);
        if (rule == nullptr) {
            if (!argument.empty() && argument[0] == '-') return failure("unknown renderer option " + std::string(argument));
            if (!readOutput(argument, options, outputGiven, error)) return failure(error);
            continue;
        }
        if (i + rule->values >= argc) {
            return failure(std::string(argument) + " needs " + (rule->values == 1 ? "a value" : "two values"));
        }
        std::string wanted;
        const int bad = rule->read(options, argv + i + 1, wanted);
        if (bad != kValuesRead) {
            return failure(std::string(argument) + " needs " + wanted + ", not \"" + argv[i + 1 + bad] + "\"");
        }
        i += rule->values;
    }
    if (!outputGiven) return failure("--render needs an output file ending in .png or .bmp");
    if (!checkRenderKinds(options, given, error)) return failure(error);
    return command;
}

}  // namespace

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "--render") {
        return readRenderArguments(argc, argv, 2);
    }
    CommandLine command;
    struct NumberOption {
        std::string_view name;
        int low;
        int high;
        int* value;
    };
    const NumberOption numberOptions[] = {
        {"--scale", 1, kMaxWindowScale, &command.scale},
        {"--max-fps", 1, kMaxFramesPerSecondCap, &command.maxFps},
    };
    int files = 0;
    bool worldGiven = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!optionsEnded && !argument.empty() && argument[0] == '-') {
            if (argument == "--") {
                optionsEnded = true;
                continue;
            }
            if (argument == "-h" || argument == "--help") {
                command.mode = RunMode::Help;
                return command;
            }
            if (argument == "--version") {
                command.mode = RunMode::Version;
                return command;
            }
            if (argument == "--render") {
                return failure("--render must be the first argument");
            }
            const NumberOption* option = nullptr;
            for (const NumberOption& candidate : numberOptions) {
                if (argument == candidate.name) option = &candidate;
            }
            if (option == nullptr) {
                // Most likely a renderer option written before --render.
                for (int j = i + 1; j < argc && std::string_view(argv[j]) != "--"; ++j) {
                    if (std::string_view(argv[j]) == "--render") {
                        return failure("--render must be the first argument, before " + std::string(argument));
                    }
                }
                return failure("unknown option " + std::string(argument));
            }
            const std::string range =
                "a whole number from " + std::to_string(option->low) + " to " + std::to_string(option->high);
            if (i + 1 >= argc) {
                return failure(std::string(argument) + " needs " + range);
            }
            ++i;
            if (!readWholeNumber(argv[i], option->low, option->high, *option->value)) {
                return failure(std::string(argument) + " needs " + range + ", not \"" + argv[i] + "\"");
            }
            continue;
        }
        if (endsWith(argument, ".xml")) {
            if (worldGiven) return failure("two worlds given: " + command.worldFile + " and " + std::string(argument));
            command.worldFile = argument;
            worldGiven = true;
            continue;
        }
        ++files;
        command.convertFile = argument;
    }
    // Exactly one file, and nothing else but options, converts; the demo
    // does not show with a conversion.
    if (files == 1 && !worldGiven) {
        command.mode = RunMode::Convert;
    } else {
        command.convertFile.clear();
    }
    return command;
}

bool parseRenderArguments(int argc, const char* const* argv, RenderOptions& options, std::string& error) {
    CommandLine command = readRenderArguments(argc, argv, 0);
    if (command.mode == RunMode::Error) {
        error = std::move(command.error);
        return false;
    }
    options = std::move(command.render);
    return true;
}

std::string installedSampleWorld() {
    const char* path = TOLVANE_SAMPLE_WORLD;
    return *path != '\0' && ::access(path, R_OK) == 0 ? path : "";
}

void printUsage(std::ostream& out) {
    out << "Usage:\n"
           "  tolvane [--scale K] [--max-fps N] [WORLD.xml]\n"
           "      run the demo on WORLD.xml (default: world.xml in the working folder);\n"
           "      its images are read from the world file's folder\n"
           "  tolvane FILE\n"
           "      convert a depth file beside itself: .bmp or .png to .schm and .scmhm,\n"
           "      .txt to .schm, .schm or .scmhm to .bmp\n"
           "  tolvane --render OUT [--world FILE] [--view stereo|depth] [--camera X Y] [--time T] [--frames N] "
           "[--fps F] [--seed S] [--cross-eyed] [--pattern-width P] [--grey-dots] [--echo-free] "
           "[--first-frame K] [--jobs J]\n"
           "      render frames to PNG or BMP files without a window\n"
           "  tolvane --render OUT --depth FILE [--pattern-width P | --texture PICTURE.png] [--depth-levels L] "
           "[--frames N] [--seed S] [--cross-eyed] [--grey-dots] [--echo-free] [--guide-dots]\n"
           "      the stereogram of a depth picture (.png, .bmp, .schm, .scmhm or .txt; light is near)\n"
           "      at its own size: P from 16 to its width (default 128), its range in L depths,\n"
           "      2 to 256 and below P (default 32); a texture is the pattern, its width P, and\n"
           "      makes an RGB PNG; --guide-dots draws two marks P apart near the top of the\n"
           "      middle; FILE as frames/d-%04d.png reads frame k (from 0) of N\n"
           "  tolvane -h | --help      show this help\n"
           "  tolvane --version        show the version\n"
           "\n"
           "Options:\n"
           "  --scale K      enlarge the window K times, 1 to 8 (1 is 640 x 480;\n"
           "                 default: the largest that fits the desktop)\n"
           "  --max-fps N    draw at most N frames a second, 1 to 1000 (default: no cap)\n"
           "  --             end of options: the next arguments are file names\n"
           "\n"
           "Keys:\n"
           "  S      depth view / stereogram\n"
           "  R      freeze / renew the random dots every frame\n"
           "  C      random colours (new ones on every press)\n"
           "  G      grey ramp\n"
           "  P      pause / resume time\n"
           "  K      save the depth map as screenshot.bmp in the working folder; in the\n"
           "         stereogram view also the picture as stereogram-NNNN.png\n"
           "  Q      echo-free stereogram on / off\n"
           "  X      cross-eyed viewing on / off\n"
           "  [ ]    narrower / wider pattern\n"
           "  B      grey dots on / off\n"
           "  Esc    quit\n"
           "  Drag with any mouse button, or press the arrow keys (16 pixels a press),\n"
           "  to scroll the world. B, X, Q, [ and ] print what they have set.\n"
           "\n"
           "Environment: SDL_VIDEODRIVER=dummy runs without a window.\n";
}

void printVersion(std::ostream& out) { out << "Tolvane " << TOLVANE_VERSION << "\n"; }

void printCommandLineError(std::ostream& err, const std::string& reason) {
    err << "tolvane: " << escapeForDisplay(reason) << "\ntry tolvane --help\n";
}

}  // namespace tolvane
