#include "app/entry.hpp"

#include <SDL.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "app/frame_clock.hpp"
#include "app/frame_loop.hpp"
#include "depth/depth_file.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"
#include "stereo/stereogram.hpp"

namespace {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;
constexpr int kConversionFailed = 2;
constexpr int kBannerLSize = 15;

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

int convertArgument(const char* fileName, std::ostream& out, std::ostream& err) {
    const DepthOutcome converted = convertDepthFile(fileName);
    if (converted) return 0;
    if (converted.status != DepthStatus::UnknownExtension) {
        err << converted.detail << '\n';
        return kConversionFailed;
    }
    out << "Done" << std::endl;
    err << converted.detail << '\n';
    return 0;
}

int runEntry(int argc, char** argv) {
    FrameLoop loop;
    // Test hook, read once: see FrameLoop::exitAfterFrames.
    loop.exitAfterFrames = exitAfterFramesFrom(std::getenv("TOLVANE_EXIT_AFTER_FRAMES"));
    floatMaxFractionDigits = 4;

    // The argument is looked at before the display opens, so converting a
    // file needs no screen and shows no window.
    if (argc == 2) {
        return convertArgument(argv[1], std::cout, std::cerr);
    }

    initDisplay(kScreenWidth, kScreenHeight);
    printBanner(std::cout);
    setOption(PaletteFlags, PaletteGreyRamp);
    setOption(DepthView, 1);
    updateFrameTime();

    runFrameLoop(loop);

    releasePattern();
    SDL_Quit();
    return 0;
}
