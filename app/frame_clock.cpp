#include "app/frame_clock.hpp"

#include <chrono>

namespace tolvane {

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void updateFrameTime(FrameClock& clock) { updateFrameTimeAt(clock, steadyNanoseconds()); }

void updateFrameTimeAt(FrameClock& clock, std::int64_t nowNanoseconds) {
    if (clock.lastFrameNanoseconds == kNoPreviousFrame) {
        clock.lastFrameNanoseconds = nowNanoseconds;
        clock.frameDt = 0.0f;
        return;
    }
    const std::int64_t elapsed = nowNanoseconds - clock.lastFrameNanoseconds;
    clock.lastFrameNanoseconds = nowNanoseconds;
    clock.frameDt = static_cast<float>(static_cast<double>(elapsed) * 1e-9 * clock.timeScale);
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
