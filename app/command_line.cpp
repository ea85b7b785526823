#include "app/command_line.hpp"

#include <unistd.h>

#include <ostream>
#include <string_view>
#include <utility>

#include "display/display.hpp"
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

}  // namespace

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine command;
    if (argc >= 2 && std::string_view(argv[1]) == "--render") {
        command.mode = RunMode::Render;
        command.firstRenderArgument = 2;
        return command;
    }
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
           "[--fps F] [--seed S] [--cross-eyed] [--pattern-width P] [--grey-dots] [--echo-free]\n"
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
