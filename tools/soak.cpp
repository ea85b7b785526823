// Runs the demo's own frame loop for a long time without a person at the
// keys, and reports whether its memory stays put.
//
//   soak [FRAMES [EVERY]]        defaults: 100000 frames, a key every 250
//
// Start-up is the demo's (display, grey palette, depth view, clock), the
// world comes from "world.xml" in the working folder, and every frame is
// the frame loop's runFrame. Every EVERY frames one key press from a fixed
// cycle is queued with SDL_PushEvent, so the frame's own event drain handles
// it: S (view), C and G (palettes), P (pause), R (dot renewal), K
// (screenshot) and a mouse drag that moves the camera. Resident memory is
// read after the first 1000 frames and at the end; the exit status is 1 when
// it grew by more than 1 MiB, 0 otherwise. SDL_VIDEODRIVER=dummy runs it
// without a window.

#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "app/frame_clock.hpp"
#include "app/frame_loop.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"
#include "stereo/stereogram.hpp"

using namespace tolvane;

namespace {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;
constexpr std::int64_t kWarmUpFrames = 1000;
constexpr long kAllowedGrowthKiB = 1024;

// Resident set size from /proc, in KiB; -1 where there is none.
long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

bool pushKey(SDLKey sym) {
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = sym;
    return SDL_PushEvent(&event) == 0;
}

bool pushButton(Uint8 type, int x, int y) {
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = type;
    event.button.button = SDL_BUTTON_LEFT;
    event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.button.x = static_cast<Uint16>(x);
    event.button.y = static_cast<Uint16>(y);
    return SDL_PushEvent(&event) == 0;
}

bool pushMotion(int x, int y) {
    SDL_Event event;
    std::memset(&event, 0, sizeof event);
    event.type = SDL_MOUSEMOTION;
    event.motion.x = static_cast<Uint16>(x);
    event.motion.y = static_cast<Uint16>(y);
    return SDL_PushEvent(&event) == 0;
}

// A drag of (dx, dy) from the middle of the screen, all in one frame's queue.
bool pushDrag(int dx, int dy) {
    const int x = kScreenWidth / 2;
    const int y = kScreenHeight / 2;
    return pushButton(SDL_MOUSEBUTTONDOWN, x, y) && pushMotion(x + dx / 2, y + dy / 2) &&
           pushMotion(x + dx, y + dy) && pushButton(SDL_MOUSEBUTTONUP, x + dx, y + dy);
}

// The n-th input of the cycle. Over two cycles every toggle returns to where
// it started, and the drags go out and come back.
bool pushInput(std::int64_t n) {
    switch (n % 10) {
        case 0: return pushKey(SDLK_s);  // to the stereogram, then back
        case 1: return pushKey(SDLK_c);
        case 2: return pushDrag(120, -40);
        case 3: return pushKey(SDLK_p);  // pause, resumed at 6
        case 4: return pushKey(SDLK_g);
        case 5: return pushKey(SDLK_r);  // still dots, renewed again next cycle
        case 6: return pushKey(SDLK_p);
        case 7: return pushKey(SDLK_k);
        case 8: return pushDrag(-120, 40);
        default: return pushKey(SDLK_c);
    }
}

std::int64_t argumentOr(int argc, char** argv, int index, std::int64_t fallback) {
    if (argc <= index) return fallback;
    char* end = nullptr;
    const long long value = std::strtoll(argv[index], &end, 10);
    if (end == argv[index] || *end != '\0' || value < 1) {
        std::fprintf(stderr, "soak: \"%s\" is not a positive count\n", argv[index]);
        std::exit(2);
    }
    return value;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::int64_t frames = argumentOr(argc, argv, 1, 100000);
    const std::int64_t every = argumentOr(argc, argv, 2, 250);

    auto owned = std::make_unique<FrameLoop>();
    FrameLoop& loop = *owned;
    Engine& engine = loop.engine;
    initDisplay(engine.display, kScreenWidth, kScreenHeight);
    setOption(engine.display, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
    setOption(engine.display, OptionSlot::DepthView, 1);
    updateFrameTime(engine.clock);

    long warmKiB = -1;
    std::int64_t inputs = 0;
    std::int64_t stereogramFrames = 0;
    std::int64_t pausedFrames = 0;
    while (!loop.input.quitRequested && loop.framesRun < frames) {
        if (loop.framesRun > 0 && loop.framesRun % every == 0) {
            if (!pushInput(inputs++)) {
                std::fprintf(stderr, "soak: SDL_PushEvent failed: %s\n", SDL_GetError());
                return 2;
            }
        }
        runFrame(loop);
        // Counted once the frame has applied the events before it.
        stereogramFrames += getOption(engine.display, OptionSlot::DepthView) == 0 ? 1 : 0;
        pausedFrames += engine.clock.timeScale == 0.0f ? 1 : 0;
        if (loop.framesRun == kWarmUpFrames) warmKiB = residentKiB();
    }
    const long endKiB = residentKiB();

    SDL_Quit();

    std::printf("frames: %lld, inputs: %lld, in the stereogram view: %lld, paused: %lld\n",
                static_cast<long long>(loop.framesRun), static_cast<long long>(inputs),
                static_cast<long long>(stereogramFrames), static_cast<long long>(pausedFrames));
    if (warmKiB < 0) {
        std::printf("resident memory at the end: %ld KiB (no reading after %lld frames)\n", endKiB,
                    static_cast<long long>(kWarmUpFrames));
        return 0;
    }
    const long growth = endKiB - warmKiB;
    std::printf("resident memory after %lld frames: %ld KiB\n", static_cast<long long>(kWarmUpFrames), warmKiB);
    std::printf("resident memory after %lld frames: %ld KiB\n", static_cast<long long>(loop.framesRun), endKiB);
    std::printf("growth: %ld KiB (allowed %ld KiB)\n", growth, kAllowedGrowthKiB);
    return growth > kAllowedGrowthKiB ? 1 : 0;
}
