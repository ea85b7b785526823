#pragma once
// The frame clock, shared by the frame loop and the world step.

#include <cstdint>

extern std::uint32_t lastTicks;  // all bits set: no previous call
extern float frameDt;            // seconds, already scaled by timeScale
extern float timeScale;          // 1 running, 0 paused
extern bool screenshotRequested; // key K; cleared once a drawn frame has saved it

// Measures the time since the previous call with SDL's millisecond clock.
void updateFrameTime();

// The clock's rule for a given tick count: the first call primes the clock
// (frameDt 0); later calls set frameDt to the ticks elapsed, taken modulo
// 2^32 as a signed difference so the counter's wrap after 49 days is one
// ordinary frame, in seconds, times timeScale.
void updateFrameTimeAt(std::uint32_t now);
