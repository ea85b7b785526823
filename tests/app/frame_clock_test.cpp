// The frame clock's rule (priming, elapsed time in seconds scaled by
// timeScale) and the caption's rate averaged over half a second.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/frame_clock.hpp"

using namespace tolvane;

namespace {

constexpr std::int64_t kMs = 1'000'000;  // nanoseconds

TEST(FrameClock, ElapsedTimeScaledToSeconds) {
    struct Case {
        const char* name;
        std::int64_t last;  // lastFrameNanoseconds before the call
        std::int64_t now;
        float scale;
        float expectedDt;
    };
    const Case cases[] = {
        {"priming call gives 0", kNoPreviousFrame, 1234 * kMs, 1.0f, 0.0f},
        {"priming ignores the scale", kNoPreviousFrame, 0, 0.0f, 0.0f},
        {"16 ms", 1234 * kMs, 1250 * kMs, 1.0f, 0.016f},
        {"a quarter of a millisecond is seen", 500 * kMs, 500 * kMs + 250'000, 1.0f, 0.00025f},
        {"one microsecond", 7, 1007, 1.0f, 0.000001f},
        {"same instant", 500, 500, 1.0f, 0.0f},
        {"paused", 1000 * kMs, 1250 * kMs, 0.0f, 0.0f},
        {"clock from zero", 0, 1000 * kMs, 1.0f, 1.0f},
        {"half speed", 0, 40 * kMs, 0.5f, 0.020f},
        {"after a year of uptime", 365LL * 24 * 3600 * 1000 * kMs, 365LL * 24 * 3600 * 1000 * kMs + 5 * kMs, 1.0f,
         0.005f},
    };
    for (const Case& c : cases) {
        FrameClock clock{c.last, 99.0f, c.scale};
        updateFrameTimeAt(clock, c.now);
        EXPECT_FLOAT_EQ(clock.frameDt, c.expectedDt) << c.name;
        EXPECT_EQ(clock.lastFrameNanoseconds, c.now) << c.name;
    }
}

TEST(FrameClock, RealClockIsMonotonicAndFinerThanAMillisecond) {
    FrameClock clock;
    updateFrameTime(clock);
    EXPECT_EQ(clock.frameDt, 0.0f);
    // Two readings in a row: never backwards, and apart by far less than
    // the millisecond a tick counter would round them to.
    std::int64_t previous = steadyNanoseconds();
    std::int64_t smallestStep = INT64_MAX;
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = steadyNanoseconds();
        ASSERT_GE(now, previous);
        if (now > previous && now - previous < smallestStep) smallestStep = now - previous;
        previous = now;
    }
    EXPECT_LT(smallestStep, 100'000) << "the clock cannot tell 100 us apart";
    updateFrameTime(clock);
    EXPECT_GE(clock.frameDt, 0.0f);
}

TEST(FrameRate, FramesCountedOverHalfASecond) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> frameTimes;  // the first one starts the count
        bool lastTakesReading;
        double perSecond;  // after the last frame
    };
    const Case cases[] = {
        {"the first call only starts the count", {0}, false, 0.0},
        {"the first frame after it gives a reading at once", {0, 20 * kMs}, true, 50.0},
        {"then no reading before half a second", {0, 20 * kMs, 40 * kMs, 60 * kMs}, false, 50.0},
        {"then frames over elapsed time",
         {0, 10 * kMs, 110 * kMs, 210 * kMs, 310 * kMs, 410 * kMs, 510 * kMs},
         true,
         5 / 0.5},
        {"uneven frames average out",
         {0, 1 * kMs, 401 * kMs, 402 * kMs, 403 * kMs, 501 * kMs},
         true,
         4 / 0.5},
        {"a long frame is one frame over its time", {0, 1 * kMs, 2001 * kMs}, true, 0.5},
        {"no time passed: no reading", {5, 5}, false, 0.0},
    };
    for (const Case& c : cases) {
        FrameRate rate;
        bool took = false;
        for (const std::int64_t t : c.frameTimes) took = countFrame(rate, t);
        EXPECT_EQ(took, c.lastTakesReading) << c.name;
        EXPECT_DOUBLE_EQ(rate.perSecond, c.perSecond) << c.name;
    }
}

}  // namespace
