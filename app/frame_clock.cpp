// placeholder until the frame loop lands
#include "app/frame_clock.hpp"
std::uint32_t lastTicks = 0xFFFFFFFFu;
float frameDt = 0.0f;
float timeScale = 1.0f;
bool screenshotRequested = false;
void updateFrameTime() {}
