#include "app/frame_loop.hpp"

#include <SDL.h>

#include <cmath>
#include <limits>

#include "app/frame_clock.hpp"
#include "display/display.hpp"
#include "world/world_step.hpp"

namespace {

constexpr int kMaxCountDigits = 18;  // fits in int64 without overflow checks

}  // namespace

std::int64_t exitAfterFramesFrom(const char* text) {
    if (text == nullptr || *text == '\0') {
        return -1;
    }
    std::int64_t count = 0;
    int digits = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || ++digits > kMaxCountDigits) {
            return -1;
        }
        count = count * 10 + (*c - '0');
    }
    return count;
}

void rebuildCaption(TextBuffer& caption, float dt) {
    // The infinite rate of a zero frame time is what formatFloat writes as
    // 0.0000; it is chosen here rather than divided out, so no build that
    // traps on division by zero trips over it. It keeps the sign of the
    // zero, as the division would: a paused clock that ran backwards gives
    // -0.0 and reads -0.0000.
    const double inf = std::numeric_limits<double>::infinity();
    const double rate = dt == 0.0f ? std::copysign(inf, static_cast<double>(dt)) : 1.0 / static_cast<double>(dt);
    caption.adopt(formatFloat(rate));
    caption.prepend(kCaptionPrefix);
}

void runFrame(FrameLoop& loop) { runFrameAfterLock(loop, lockDisplay() == 0); }

void runFrameAfterLock(FrameLoop& loop, bool locked) {
    updateFrameTime();
    rebuildCaption(loop.caption, frameDt);
    SDL_WM_SetCaption(loop.caption.data(), "");
    if (locked) {
        // The world gets the frame's time and the request as values; one
        // drawn frame answers every K pressed since the last one.
        stepWorld(screenDepthMap(), frameDt, screenshotRequested);
        screenshotRequested = false;
        presentFrame();
    }
    drainEvents(loop.input);
    ++loop.framesRun;
    if (loop.exitAfterFrames >= 0 && loop.framesRun >= loop.exitAfterFrames) {
        loop.input.quitRequested = true;
    }
}

void runFrameLoop(FrameLoop& loop) {
    do {
        runFrame(loop);
    } while (!loop.input.quitRequested);
}
