#pragma once
// The command line: what to run and with which options.

#include <charconv>
#include <iosfwd>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace tolvane {

enum class RunMode {
    Demo,     // the interactive demo on `worldFile`
    Convert,  // convert `convertFile` and exit
    Render,   // headless frames; the arguments from `firstRenderArgument` on are the renderer's
    Help,     // usage on standard output, status 0
    Version,  // name and version on standard output, status 0
    Error,    // `error` and the usage on standard error, status 2
};

// Highest --max-fps: beyond it a cap would not be felt.
inline constexpr int kMaxFramesPerSecondCap = 1000;

struct CommandLine {
    RunMode mode = RunMode::Demo;
    std::string worldFile = "world.xml";
    std::string convertFile;
    int scale = 0;   // window enlargement; 0: the largest that fits the desktop
    int maxFps = 0;  // frames per second at most; 0: uncapped
    int firstRenderArgument = 0;
    std::string error;  // one line without its end, for RunMode::Error
};

// Reads argv[1..argc-1]. Options come in any order and take their value as
// the next argument. A lone argument that is neither an option nor a ".xml"
// name is a depth file to convert; a name ending in ".xml" is the world;
// other stray arguments are ignored, so two or more file names still run
// the demo. "--" ends the options. "--render" as the first argument hands
// everything after it to the renderer untouched.
CommandLine parseCommandLine(int argc, const char* const* argv);

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
