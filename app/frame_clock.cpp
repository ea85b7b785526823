#include "app/frame_clock.hpp"

#include <chrono>

namespace tolvane {

std::int64_t lastFrameNanoseconds = kNoPreviousFrame;
float frameDt = 0.0f;
float timeScale = 1.0f;
bool screenshotRequested = false;

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void updateFrameTime() { updateFrameTimeAt(steadyNanoseconds()); }

void updateFrameTimeAt(std::int64_t nowNanoseconds) {
    if (lastFrameNanoseconds == kNoPreviousFrame) {
        lastFrameNanoseconds = nowNanoseconds;
        frameDt = 0.0f;
        return;
    }
    const std::int64_t elapsed = nowNanoseconds - lastFrameNanoseconds;
    lastFrameNanoseconds = nowNanoseconds;
    frameDt = static_cast<float>(static_cast<double>(elapsed) * 1e-9 * timeScale);
}

bool countFrame(FrameRate& rate, std::int64_t nowNanoseconds) {
    if (rate.windowStart == kNoPreviousFrame) {
        rate.windowStart = nowNanoseconds;
        rate.frames = 0;
        return false;
    }
    ++rate.frames;
    const std::int64_t elapsed = nowNanoseconds - rate.windowStart;
    if (elapsed <= 0 || (rate.hasReading && elapsed < kFrameRateWindowNanoseconds)) {
        return false;
    }
    rate.perSecond = static_cast<double>(rate.frames) * 1e9 / static_cast<double>(elapsed);
    rate.hasReading = true;
    rate.windowStart = nowNanoseconds;
    rate.frames = 0;
    return true;
}

}  // namespace tolvane
