#pragma once
// The one loop of the demo: lock, clock, caption, world step, present, input.

#include <cstdint>
#include <string>

#include "app/engine.hpp"
#include "app/events.hpp"
#include "app/frame_clock.hpp"
#include "markup/text.hpp"

namespace tolvane {

inline constexpr char kCaptionPrefix[] = "Tolvane Engine Demo - By Harwick - FPS: ";

// The window's front end: an engine, the command being gathered for its
// next frame, and what the loop itself counts and shows.
struct FrameLoop {
    Engine engine;
    FrameCommand command;  // filled by the events of one frame, applied by the next
    InputState input;
    TextBuffer caption;
    // Test hook for headless leak checks and soak runs: the loop asks to
    // quit once this many frames have run (a frame always runs, so 0 acts
    // as 1). Negative: run until the user quits.
    std::int64_t exitAfterFrames = -1;
    std::int64_t framesRun = 0;
    FrameRate rate;
    // Frames per second at most; 0 runs frames back to back.
    int maxFps = 0;
};

// The value of TOLVANE_EXIT_AFTER_FRAMES: a plain decimal count, else -1.
std::int64_t exitAfterFramesFrom(const char* text);

// Makes `caption` the prefix followed by `framesPerSecond` with at most four
// fraction digits as formatFloat writes it; a rate of 0 (paused, or no
// reading yet) reads 0.0000. True when the text changed: only then is it
// worth handing to the window system.
bool rebuildCaption(TextBuffer& caption, double framesPerSecond);

// When the next frame may start under a cap of `maxFps` frames a second,
// given when this one was due and the time now (nanoseconds). A frame that
// ran late moves the schedule on rather than letting frames bunch up to
// catch up.
std::int64_t nextFrameDue(std::int64_t due, std::int64_t now, int maxFps);

// One frame, locking the screen first.
void runFrame(FrameLoop& loop);
// The rest of a frame once the lock has been tried: the engine's step on the
// screen with the command gathered since the last frame, the picture shown,
// the caption, then the events that make the next command. A surface that
// could not be locked is neither drawn nor presented, but the command, the
// clock, the caption and the input still run, so the user can always quit.
// Paused, the caption reads 0.0000.
void runFrameAfterLock(FrameLoop& loop, bool locked);
// Frames until a quit is requested: back to back, or no faster than
// loop.maxFps, sleeping in between.
void runFrameLoop(FrameLoop& loop);

}  // namespace tolvane
