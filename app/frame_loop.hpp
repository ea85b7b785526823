#pragma once
// The one loop of the demo: lock, clock, caption, world step, present, input.

#include <cstdint>

#include "app/events.hpp"
#include "markup/text.hpp"

inline constexpr char kCaptionPrefix[] = "Tolvane Engine Demo - By Harwick - FPS: ";

struct FrameLoop {
    InputState input;
    TextBuffer caption;
    // Test hook for headless leak checks and soak runs: the loop asks to
    // quit once this many frames have run (a frame always runs, so 0 acts
    // as 1). Negative: run until the user quits.
    std::int64_t exitAfterFrames = -1;
    std::int64_t framesRun = 0;
};

// The value of TOLVANE_EXIT_AFTER_FRAMES: a plain decimal count, else -1.
std::int64_t exitAfterFramesFrom(const char* text);

// The caption prefix followed by the rate 1 / dt with at most four fraction
// digits as formatFloat writes it; a dt of 0 (paused, or two frames in one
// millisecond) reads 0.0000.
void rebuildCaption(TextBuffer& caption, float dt);

// One frame, locking the screen first.
void runFrame(FrameLoop& loop);
// The rest of a frame once the lock has been tried. A surface that could not
// be locked is neither drawn nor presented, but the clock, the caption and
// the input still run, so the user can always quit.
void runFrameAfterLock(FrameLoop& loop, bool locked);
// Frames back to back, without cap or sleep, until a quit is requested.
void runFrameLoop(FrameLoop& loop);
