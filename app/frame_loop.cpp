#include "app/frame_loop.hpp"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/frame_clock.hpp"
#include "app/render.hpp"
#include "display/display.hpp"

namespace tolvane {

namespace {

constexpr int kMaxCountDigits = 18;  // fits in int64 without overflow checks

// Key K in the stereogram view: the picture as shown, under a new name.
void savePresentedPicture(const PresentedPicture& shown, const RgbPalette& palette) {
    std::string name;
    const DepthOutcome saved = shown.picture ? saveNumberedPicture(*shown.picture, palette, name)
                                             : failedOutcome(DepthStatus::OutOfMemory, "out of memory");
    if (!saved) {
        std::fprintf(stderr, "%s: could not be written: %s\n", name.empty() ? "stereogram picture" : name.c_str(),
                     saved.detail.c_str());
        return;
    }
    std::printf("Saved %s\n", name.c_str());
    std::fflush(stdout);
}

// B, X, Q, [ and ] change what shows only in the dots, so the console
// says what is set now.
void printSettings(const std::vector<std::string>& settings) {
    if (settings.empty()) return;
    for (const std::string& line : settings) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

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

bool rebuildCaption(TextBuffer& caption, double framesPerSecond) {
    // formatFloat writes an infinite rate as 0.0000; a zero rate takes that
    // form so the caption keeps its four digits while paused.
    const double shown = framesPerSecond == 0.0 ? std::numeric_limits<double>::infinity() : framesPerSecond;
    std::string text = kCaptionPrefix + formatFloat(shown, FloatFormat{4});
    if (caption.equals(text.c_str())) return false;
    caption.adopt(std::move(text));
    return true;
}

std::int64_t nextFrameDue(std::int64_t due, std::int64_t now, int maxFps) {
    if (maxFps <= 0) return now;
    const std::int64_t next = due + 1'000'000'000 / maxFps;
    return next < now ? now : next;
}

void runFrame(FrameLoop& loop) { runFrameAfterLock(loop, lockDisplay() == 0); }

void runFrameAfterLock(FrameLoop& loop, bool locked) {
    Engine& engine = loop.engine;
    const std::int64_t now = steadyNanoseconds();
    // The count starts with the clock's priming, so the first frame already
    // shows a rate: that of the time since start-up.
    if (loop.rate.windowStart == kNoPreviousFrame) loop.rate.windowStart = engine.clock.lastFrameNanoseconds;
    if (locked) {
        DepthMap screen = screenDepthMap();
        const FrameOutcome outcome = stepEngine(engine, loop.command, &screen, FrameTime::at(now));
        // The world step saved the depth map; the picture shown is there
        // now that the step has made it.
        // Copied while the surface is still locked.
        const bool savePicture = outcome.screenshot && outcome.stereogram;
        PresentedPicture shown;
        if (savePicture) copyPicture(screen, true, shown);
        showScreen();
        if (savePicture) savePresentedPicture(shown, currentPalette(engine.display));
        printSettings(outcome.settings);
    } else {
        printSettings(applyCommand(engine, loop.command));
        updateFrameTimeAt(engine.clock, now);
    }
    loop.command.clear();
    countFrame(loop.rate, now);
    if (rebuildCaption(loop.caption, engine.clock.timeScale == 0.0f ? 0.0 : loop.rate.perSecond)) {
        SDL_WM_SetCaption(loop.caption.data(), "");
    }
    drainEvents(loop.input, loop.command);
    ++loop.framesRun;
    if (loop.exitAfterFrames >= 0 && loop.framesRun >= loop.exitAfterFrames) {
        loop.input.quitRequested = true;
    }
}

void runFrameLoop(FrameLoop& loop) {
    std::int64_t due = steadyNanoseconds();
    do {
        runFrame(loop);
        if (loop.maxFps > 0 && !loop.input.quitRequested) {
            const std::int64_t now = steadyNanoseconds();
            due = nextFrameDue(due, now, loop.maxFps);
            std::this_thread::sleep_for(std::chrono::nanoseconds(due - now));
        }
    } while (!loop.input.quitRequested);
}

}  // namespace tolvane
