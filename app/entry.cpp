#include "app/entry.hpp"

#include <SDL.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "app/command_line.hpp"
#include "app/frame_loop.hpp"
#include "app/render.hpp"
#include "depth/depth_file.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"

namespace tolvane {

namespace {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;
constexpr int kConversionFailed = 2;
constexpr int kBadCommandLine = 2;
constexpr int kBannerLSize = 15;
constexpr int kOutputFailed = 2;

// Output that never arrived is a failure like any other: "--help >
// /dev/full" must not end with status 0. Flushes what is still buffered;
// 0 when everything printed has arrived, else the system's reason, or -1
// when it is not known. A write that failed at an earlier flush (std::endl)
// shows only in the error flags: its reason is the errno it left, so the
// caller clears errno before printing.
int standardOutputFailure(std::ostream& out) {
    out.flush();
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && out.good()) return 0;
    return errno != 0 ? errno : -1;
}

int reportStandardOutput(int failure, int status, std::ostream& err) {
    if (failure == 0) return status;
    err << "tolvane: cannot write to standard output";
    if (failure > 0) err << ": " << std::strerror(failure);
    err << '\n';
    return status != 0 ? status : kOutputFailed;
}

}  // namespace

void printBanner(std::ostream& out) {
    out << "Tolvane Engine Demo - By Harwick\n"
           "\n"
           "Keys:\n"
           "S - toggle SIRD mode\n"
           "R - toggle constant random frames\n"
           "C - turn on multi colours (looks bad in nonSIRD mode)\n"
           "G - turn to grey scale (turn on when not in SIRD mode to see depthmap\n"
           "P - pause time\n"
           "K - kapture screen shot (sorry 'C' was taken)\n"
           "I - switch between logo rendering styles\n"
           "Esc - exit\n";
    out << "LSize = " << kBannerLSize << std::endl;
}

std::string windowScaleWarning(int scale, DesktopSize desktop, int width, int height) {
    if (scale <= 0 || desktop.width <= 0 || desktop.height <= 0) return {};
    const int windowWidth = width * scale;
    const int windowHeight = height * scale;
    if (windowWidth <= desktop.width && windowHeight <= desktop.height) return {};
    std::string warning = "tolvane: warning: --scale " + std::to_string(scale) + " makes a " +
                          std::to_string(windowWidth) + " x " + std::to_string(windowHeight) +
                          " window, larger than the " + std::to_string(desktop.width) + " x " +
                          std::to_string(desktop.height) + " desktop";
    if (width <= desktop.width && height <= desktop.height) {
        warning += "; --scale " + std::to_string(chooseWindowScale(desktop.width, desktop.height, width, height)) +
                   " is the largest that fits";
    }
    return warning;
}

// Warnings about the input come first, one line each ("<file>: warning:
// ..."), then the outcome.
int convertArgument(const char* fileName, std::ostream& out, std::ostream& err) {
    const DepthOutcome converted = convertDepthFile(fileName);
    // What follows is the output whose failure standardOutputFailure reports.
    errno = 0;
    // Escaped again as they are printed: escaping is idempotent, and no line
    // may reach the terminal raw, whatever a reader or SDL put in it.
    for (const std::string& warning : converted.warnings) {
        err << escapeForDisplay(fileName) << ": warning: " << escapeForDisplay(warning) << '\n';
    }
    if (converted) return 0;
    if (converted.status != DepthStatus::UnknownExtension) {
        err << escapeForDisplay(converted.detail) << '\n';
        return kConversionFailed;
    }
    out << "Done" << std::endl;
    err << escapeForDisplay(converted.detail) << '\n';
    return 0;
}

int runEntry(int argc, char** argv, std::ostream& out, std::ostream& err) {
    const CommandLine command = parseCommandLine(argc, argv);
    errno = 0;
    switch (command.mode) {
        case RunMode::Help:
            printUsage(out);
            return reportStandardOutput(standardOutputFailure(out), 0, err);
        case RunMode::Version:
            printVersion(out);
            return reportStandardOutput(standardOutputFailure(out), 0, err);
        case RunMode::Error:
            printCommandLineError(err, command.error);
            return kBadCommandLine;
        case RunMode::Render: {
            // No display is opened: the renderer draws into plain memory.
            const int status = runRenderer(command.render, err);
            errno = 0;
            return reportStandardOutput(standardOutputFailure(out), status, err);
        }
        case RunMode::Convert: {
            // Looked at before the display opens, so converting a file
            // needs no screen and shows no window.
            const int status = convertArgument(command.convertFile.c_str(), out, err);
            return reportStandardOutput(standardOutputFailure(out), status, err);
        }
        case RunMode::Demo:
            break;
    }

    // The loop holds the engine, which the window shows: it lives until
    // SDL has closed.
    auto loop = std::make_unique<FrameLoop>();
    // Test hook, read once: see FrameLoop::exitAfterFrames.
    loop->exitAfterFrames = exitAfterFramesFrom(std::getenv("TOLVANE_EXIT_AFTER_FRAMES"));
    loop->engine.worldFile = command.worldFile;
    loop->engine.world.sampleWorld = installedSampleWorld();
    loop->maxFps = command.maxFps;

    Engine& engine = loop->engine;
    initDisplay(engine.display, kScreenWidth, kScreenHeight, command.scale);
    if (const std::string warning = windowScaleWarning(command.scale, desktopSize(), kScreenWidth, kScreenHeight);
        !warning.empty()) {
        err << warning << '\n';
    }
    errno = 0;
    printBanner(out);
    // Said at once, though the demo runs on: its window is its output.
    const int bannerFailure = reportStandardOutput(standardOutputFailure(out), 0, err);
    setOption(engine.display, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
    setOption(engine.display, OptionSlot::DepthView, 1);
    updateFrameTime(engine.clock);

    runFrameLoop(*loop);

    SDL_Quit();
    // A later failure ("Saved ..." after K) is known by its flags alone.
    if (bannerFailure != 0) return bannerFailure;
    errno = 0;
    return reportStandardOutput(standardOutputFailure(out), 0, err);
}

}  // namespace tolvane
