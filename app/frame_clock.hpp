#pragma once
// The frame clock, shared by the frame loop and the world step.

#include <cstdint>

extern std::uint32_t lastTicks;  // all bits set: no previous call
extern float frameDt;            // seconds, already scaled by timeScale
extern float timeScale;          // 1 running, 0 paused
extern bool screenshotRequested;

void updateFrameTime();
void updateFrameTimeAt(std::uint32_t now);  // the clock's rule for a given tick count
