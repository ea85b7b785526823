// The frame clock's rule: priming, elapsed ticks as a signed 32-bit
// difference, seconds scaled by timeScale.

#include <gtest/gtest.h>

#include <cstdint>

#include "app/frame_clock.hpp"

namespace {

struct Case {
    const char* name;
    std::uint32_t last;  // lastTicks before the call
    std::uint32_t now;
    float scale;
    float expectedDt;
};

TEST(FrameClock, ElapsedTicksScaledToSeconds) {
    const Case cases[] = {
        {"priming call gives 0", 0xFFFFFFFFu, 1234, 1.0f, 0.0f},
        {"priming ignores the scale", 0xFFFFFFFFu, 0, 0.0f, 0.0f},
        {"16 ms", 1234, 1250, 1.0f, 0.016f},
        {"same millisecond", 500, 500, 1.0f, 0.0f},
        {"paused", 1000, 1250, 0.0f, 0.0f},
        {"tick counter wraps", 0xFFFFFFF0u, 0x10, 1.0f, 0.032f},
        {"clock from zero", 0, 1000, 1.0f, 1.0f},
        {"running backwards is negative", 100, 90, 1.0f, -0.010f},
        {"half speed", 0, 40, 0.5f, 0.020f},
    };
    for (const Case& c : cases) {
        lastTicks = c.last;
        timeScale = c.scale;
        frameDt = 99.0f;
        updateFrameTimeAt(c.now);
        EXPECT_FLOAT_EQ(frameDt, c.expectedDt) << c.name;
        EXPECT_EQ(lastTicks, c.now) << c.name;
    }
    lastTicks = 0xFFFFFFFFu;
    timeScale = 1.0f;
}

TEST(FrameClock, FirstFrameMeasuresFromThePrimingCall) {
    lastTicks = 0xFFFFFFFFu;
    timeScale = 1.0f;
    updateFrameTimeAt(70000);
    EXPECT_EQ(frameDt, 0.0f);
    updateFrameTimeAt(70003);
    EXPECT_FLOAT_EQ(frameDt, 0.003f);
    updateFrameTimeAt(70003);
    EXPECT_EQ(frameDt, 0.0f);
    lastTicks = 0xFFFFFFFFu;
}

}  // namespace
