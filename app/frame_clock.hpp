#pragma once
// The frame clock: the time each frame advances the world by.

#include <cstdint>

namespace tolvane {

// Sentinel of lastFrameNanoseconds: no previous call.
inline constexpr std::int64_t kNoPreviousFrame = INT64_MIN;

struct FrameClock {
    std::int64_t lastFrameNanoseconds = kNoPreviousFrame;  // until primed
    float frameDt = 0.0f;                                  // seconds, already scaled by timeScale
    float timeScale = 1.0f;                                // 1 running, 0 paused
};

// A monotonic clock in nanoseconds from an arbitrary start: it never jumps
// with the wall clock, and animation sees time finer than a millisecond.
std::int64_t steadyNanoseconds();

// Measures the time since the previous call with steadyNanoseconds.
void updateFrameTime(FrameClock& clock);

// The clock's rule for a given reading: the first call primes the clock
// (frameDt 0); later calls set frameDt to the time elapsed since the previous
// call, in seconds, times timeScale.
void updateFrameTimeAt(FrameClock& clock, std::int64_t nowNanoseconds);

// The frame rate shown in the caption: frames counted over about half a
// second of real time, so the number can be read and does not flicker with
// every frame's jitter. Pausing does not stop it counting.
struct FrameRate {
    std::int64_t windowStart = kNoPreviousFrame;  // nanoseconds
    std::int64_t frames = 0;                      // counted since windowStart
    double perSecond = 0.0;                       // at the last reading
    bool hasReading = false;
};

inline constexpr std::int64_t kFrameRateWindowNanoseconds = 500'000'000;

// Counts one frame finished at `now`. The first call only starts the count.
// A reading is taken (and true returned) at the first frame after that and
// then whenever half a second has passed since the last reading.
bool countFrame(FrameRate& rate, std::int64_t nowNanoseconds);

}  // namespace tolvane
