#include "app/frame_clock.hpp"

#include <SDL.h>

namespace {

constexpr std::uint32_t kNoPreviousCall = 0xFFFFFFFFu;

}  // namespace

std::uint32_t lastTicks = kNoPreviousCall;
float frameDt = 0.0f;
float timeScale = 1.0f;
bool screenshotRequested = false;

void updateFrameTime() { updateFrameTimeAt(SDL_GetTicks()); }

void updateFrameTimeAt(std::uint32_t now) {
    if (lastTicks == kNoPreviousCall) {
        lastTicks = now;
        frameDt = 0.0f;
        return;
    }
    const auto elapsed = static_cast<std::int32_t>(now - lastTicks);
    lastTicks = now;
    frameDt = static_cast<float>(elapsed * 0.001 * timeScale);
}
