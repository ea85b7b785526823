// The random-dot stereogram: the transform against its plain form, the
// worked rows, and the pattern's life through renderStereogram.

#include "stereo/stereogram.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/stereo_oracle.hpp"
#include "tests/stereo/echo_free_reference.hpp"
#include "depth/cpu_level_testing.hpp"
#include "stereo/echo_free.hpp"
#include "stereo/random.hpp"
#include "stereo/stereogram_testing.hpp"
#include "tests/stereo/stereo_maps.hpp"

using namespace tolvane;
using namespace tolvane::stereo_test;

namespace {

// Noise of the given range, with broad flat shapes so that long runs of one
// depth (the case the fast path must also get right) are there too.
DepthMapPtr randomDepths(std::int32_t w, std::int32_t h, std::uint32_t seed, std::uint32_t range) {
    std::mt19937 random(seed);
    DepthMapPtr map = createDepthMap(w, h);
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            const bool shape = ((x / 40) + (y / 30)) % 3 == 0;
            *pixelAddress(*map, x, y) = static_cast<std::uint8_t>(shape ? (x / 40) % 32 : random() % range);
        }
    }
    return map;
}

// Every pixel of `map` is the pattern's row y mod Q at x mod P: what an
// all-far depth map turns into.
void expectPatternTiled(const DepthMap& map, const DepthMap& pattern) {
    for (std::int32_t y = 0; y < map.area.h; ++y) {
        for (std::int32_t x = 0; x < map.area.w; ++x) {
            ASSERT_EQ(*pixelAddress(map, x, y), *pixelAddress(pattern, x % pattern.area.w, y % pattern.area.h))
                << x << "," << y;
        }
    }
}

// Each test draws with a pattern and a generator of its own.
class StereogramTest : public ::testing::Test {
protected:
    StereogramState state_;
    RandomGenerator random_;
};

// The transform's own cases, once per kernel level; a level this processor
// lacks is reported as skipped.
class StereoKernelTest : public StereogramTest, public ::testing::WithParamInterface<CpuLevel> {
protected:
    void SetUp() override {
        StereogramTest::SetUp();
        level_.emplace(GetParam());
        if (!level_->active()) {
            GTEST_SKIP() << "this processor cannot run the " << cpuLevelName(GetParam()) << " kernels";
        }
    }
    void TearDown() override {
        level_.reset();
        StereogramTest::TearDown();
    }

private:
    std::optional<ForcedCpuLevel> level_;
};

INSTANTIATE_TEST_SUITE_P(Levels, StereoKernelTest, ::testing::ValuesIn(kCpuLevels),
                         [](const ::testing::TestParamInfo<CpuLevel>& info) { return cpuLevelName(info.param); });

TEST_P(StereoKernelTest, WorkedRows) {
    struct Case {
        std::string depths;
        std::string shown;
    };
    const Case cases[] = {
        {std::string(8, '\0'), "abcabcab"},
        {std::string("\0\0\1\0\0\0\0\0", 8), "abbabcab"},
        // Depths beyond P - 1 count as P - 1 = 2, in the strip and before it.
        {std::string("\0\0\310\0\0\0\0\0", 8), "abaabcab"},
        {std::string("\0\0\0\0\0\0\0\377", 8), "accaccac"},
        {std::string("\2\2\2\2\2\2\2\2", 8), "aaaaaabc"},
    };
    DepthMapPtr pattern = mapOf(3, 1, "abc");
    for (const Case& c : cases) {
        DepthMapPtr map = mapOf(8, 1, c.depths);
        ASSERT_TRUE(transformStereogram(*map, *pattern));
        EXPECT_EQ(bytesOf(*map), c.shown);
    }
}

TEST_P(StereoKernelTest, FarDepthRepeatsPatternFromLeftEdgeAndEveryQRows) {
    DepthMapPtr pattern = randomPattern(128, 60, 7);
    DepthMapPtr map = createDepthMap(640, 480);
    ASSERT_TRUE(transformStereogram(*map, *pattern));
    expectPatternTiled(*map, *pattern);
}

TEST_P(StereoKernelTest, MatchesThePlainTransform) {
    struct Case {
        std::int32_t w, h, p, q;
        std::uint32_t range;  // depths drawn from 0..range-1
    };
    const Case cases[] = {
        {640, 480, 128, 60, 32},
        {128, 3, 128, 5, 32},
        {129, 7, 128, 3, 32},
        {641, 5, 128, 60, 32},
        {333, 9, 97, 7, 32},
        {200, 4, 64, 2, 32},
        {301, 5, 63, 4, 32},
        {150, 3, 47, 3, 32},
        {100, 3, 33, 1, 32},
        {100, 3, 32, 1, 32},
        {99, 3, 31, 2, 32},
        {50, 2, 16, 2, 32},
        {17, 2, 3, 1, 32},
        {5, 3, 1, 1, 32},
        {1, 1, 1, 1, 32},
        {4201, 2, 2100, 3, 32},
        {2048, 2, 2048, 1, 32},
        {640, 20, 128, 60, 256},
        {203, 6, 40, 5, 256},
        {640, 8, 128, 7, 40},
        {640, 8, 70, 3, 40},
        {90, 4, 64, 3, 40},
        // A depth picture's range: up to 256 levels under a wider pattern.
        {1921, 3, 300, 7, 256},
        // A pattern too large to keep doubled copies of: the strip by remainders.
        {2125, 300, 2048, 300, 32},
    };
    std::uint32_t seed = 1;
    for (const Case& c : cases) {
        DepthMapPtr pattern = randomPattern(c.p, c.q, seed++);
        DepthMapPtr depths = randomDepths(c.w, c.h, seed++, c.range);
        DepthMapPtr expected = copyOf(*depths);
        oracleTransform(*expected, *pattern);
        DepthMapPtr map = copyOf(*depths);
        ASSERT_TRUE(transformStereogram(*map, *pattern));
        EXPECT_EQ(bytesOf(*map), bytesOf(*expected)) << "W " << c.w << " H " << c.h << " P " << c.p << " Q " << c.q;
    }
}

// Flat rows put every depth exactly on the bounds where a block may or may not
// go wide, for every pattern width the block sizes care about.
TEST_P(StereoKernelTest, FlatRowsAtEveryPatternWidthAndDepth) {
    for (std::int32_t p = 1; p <= 160; ++p) {
        DepthMapPtr pattern = randomPattern(p, 2, static_cast<std::uint32_t>(p));
        const std::int32_t w = p + 130 + p % 7;
        for (std::int32_t d = 0; d <= 40; ++d) {
            DepthMapPtr depths = createDepthMap(w, 2);
            fillDepthMap(*depths, static_cast<std::uint8_t>(d));
            DepthMapPtr expected = copyOf(*depths);
            oracleTransform(*expected, *pattern);
            DepthMapPtr map = copyOf(*depths);
            ASSERT_TRUE(transformStereogram(*map, *pattern));
            ASSERT_EQ(bytesOf(*map), bytesOf(*expected)) << "P " << p << " depth " << d;
        }
    }
}

// Both transforms share one contract for a pattern that cannot serve the map.
TEST_F(StereogramTest, RefusesPatternsThatCannotServeTheMap) {
    struct Case {
        std::int32_t w, h, p, q;
        bool served;
    };
    const Case cases[] = {
        {8, 2, 0, 1, false}, {8, 2, 3, 0, false}, {8, 2, 9, 1, false},
        {0, 2, 1, 1, false}, {8, 0, 3, 1, true},  {8, 2, 8, 1, true},
    };
    using Transform = bool (*)(DepthMap&, const DepthMap&);
    const Transform plain = &transformStereogram;
    const Transform echoFree = &transformStereogramEchoFree;
    for (const Transform transform : {plain, echoFree}) {
        for (const Case& c : cases) {
            DepthMapPtr pattern = randomPattern(c.p, c.q, 3);
            DepthMapPtr map = randomDepths(c.w, c.h, 4, 256);
            const std::string before = bytesOf(*map);
            EXPECT_EQ(transform(*map, *pattern), c.served) << c.w << " " << c.p << " " << c.q;
            if (!c.served) {
                EXPECT_EQ(bytesOf(*map), before);
            }
        }
        DepthMap bare;  // a pattern with a size but no pixels
        bare.area = Rect{0, 0, 3, 1};
        DepthMapPtr map = mapOf(8, 1, "01234567");
        EXPECT_FALSE(transform(*map, bare));
        EXPECT_EQ(bytesOf(*map), "01234567");
    }
}

TEST_F(StereogramTest, FirstFrameFillsThePatternTwiceWhenRenewing) {
    seedRandom(random_, 1234);
    DepthMapPtr map = createDepthMap(640, 480);
    renderStereogram(state_, random_, *map, PatternSettings{});
    const DepthMap* pattern = currentPattern(state_);
    ASSERT_NE(pattern, nullptr);
    EXPECT_EQ(pattern->area.w, 128);
    EXPECT_EQ(pattern->area.h, 60);

    std::srand(1234);
    std::string second;
    for (int fill = 0; fill < 2; ++fill) {
        second.clear();
        for (int i = 0; i < 128 * 60; ++i) {
            second.push_back(static_cast<char>(std::rand() & 0xFF));
        }
    }
    EXPECT_EQ(bytesOf(*pattern), second);
    expectPatternTiled(*map, *pattern);
}

TEST_F(StereogramTest, FirstFrameFillsOnceWhenNotRenewing) {
    seedRandom(random_, 99);
    DepthMapPtr map = createDepthMap(300, 2);
    renderStereogram(state_, random_, *map, PatternSettings{128, 60, false});
    std::srand(99);
    std::string first;
    for (int i = 0; i < 128 * 60; ++i) {
        first.push_back(static_cast<char>(std::rand() & 0xFF));
    }
    ASSERT_NE(currentPattern(state_), nullptr);
    EXPECT_EQ(bytesOf(*currentPattern(state_)), first);
}

TEST_F(StereogramTest, DotsRenewOnlyWhenAskedTo) {
    for (const bool renew : {true, false}) {
        releasePattern(state_);
        const PatternSettings settings{128, 60, renew};
        DepthMapPtr depths = randomDepths(640, 48, 5, 32);
        DepthMapPtr first = copyOf(*depths);
        DepthMapPtr second = copyOf(*depths);
        renderStereogram(state_, random_, *first, settings);
        renderStereogram(state_, random_, *second, settings);
        EXPECT_EQ(bytesOf(*first) != bytesOf(*second), renew) << renew;
    }
}

// A new size (the eye separation keys) makes the pattern anew, drawing
// exactly as the first frame does; the same size keeps it.
TEST_F(StereogramTest, PatternIsMadeAnewWhenTheSizeChanges) {
    struct Case {
        PatternSettings settings;
        int fills;  // pattern-sized draws on this frame
    };
    const Case frames[] = {
        {{128, 60, true}, 2}, {{128, 60, true}, 1}, {{144, 60, true}, 2},
        {{144, 60, false}, 0}, {{112, 2, false}, 1}, {{112, 2, true}, 1},
    };
    seedRandom(random_, 77);
    std::srand(77);
    for (const Case& c : frames) {
        DepthMapPtr map = createDepthMap(640, 4);
        renderStereogram(state_, random_, *map, c.settings);
        std::string expected = currentPattern(state_) != nullptr ? bytesOf(*currentPattern(state_)) : "";
        if (c.fills > 0) {
            for (int fill = 0; fill < c.fills; ++fill) {
                expected.clear();
                for (int i = 0; i < c.settings.width * c.settings.height; ++i) {
                    expected.push_back(static_cast<char>(std::rand() & 0xFF));
                }
            }
        }
        ASSERT_NE(currentPattern(state_), nullptr);
        EXPECT_EQ(currentPattern(state_)->area.w, c.settings.width);
        EXPECT_EQ(currentPattern(state_)->area.h, c.settings.height);
        EXPECT_EQ(bytesOf(*currentPattern(state_)), expected) << c.settings.width << " x " << c.settings.height;
        expectPatternTiled(*map, *currentPattern(state_));
    }
}

// Cross-eyed: the stereogram of 31 - d; echo-free: the echo-free transform;
// either way with the same pattern.
TEST_F(StereogramTest, CrossEyedAndEchoFreeChooseDepthsAndTransform) {
    struct Case {
        bool crossEyed, echoFree;
    };
    for (const Case c : {Case{true, false}, Case{false, true}, Case{true, true}}) {
        releasePattern(state_);
        DepthMapPtr depths = randomDepths(640, 40, 11, 32);
        depths->pixels[5] = 200;  // beyond the nearest: taken as the nearest
        DepthMapPtr expected = copyOf(*depths);
        if (c.crossEyed) {
            for (std::int32_t i = 0; i < 640 * 40; ++i) {
                expected->pixels[i] = static_cast<std::uint8_t>(31 - std::min<int>(expected->pixels[i], 31));
            }
        }
        PatternSettings settings{128, 60, false};
        settings.crossEyed = c.crossEyed;
        settings.echoFree = c.echoFree;
        renderStereogram(state_, random_, *depths, settings);
        ASSERT_NE(currentPattern(state_), nullptr);
        if (c.echoFree) {
            referenceEchoFree(*expected, *currentPattern(state_));
        } else {
            oracleTransform(*expected, *currentPattern(state_));
        }
        EXPECT_EQ(bytesOf(*depths), bytesOf(*expected)) << c.crossEyed << c.echoFree;
    }

    // A pattern that cannot serve the map leaves it as it was, not mirrored.
    releasePattern(state_);
    DepthMapPtr narrow = mapOf(8, 1, std::string("\x01\x02\x03\x04\x05\x06\x07\x08"));
    renderStereogram(state_, random_, *narrow, PatternSettings{128, 1, true, true});
    EXPECT_EQ(bytesOf(*narrow), "\x01\x02\x03\x04\x05\x06\x07\x08");
}

// Frames passed over and then one drawn leave the same picture, pattern
// and generator as every frame drawn, with the dots renewed or frozen and
// across a change of size.
TEST_F(StereogramTest, SkippedFramesDrawTheSameNextFrame) {
    const PatternSettings renewing{128, 60, true};
    const PatternSettings frozen{128, 60, false};
    const PatternSettings wider{144, 60, true};
    const std::vector<std::vector<PatternSettings>> runs = {
        {renewing, renewing, renewing, renewing},
        {frozen, renewing, renewing, frozen},
        {renewing, renewing, frozen},
        {renewing, wider, wider},
    };
    DepthMapPtr depths = randomDepths(640, 24, 9, 32);
    for (const auto& run : runs) {
        StereogramState drawnState;
        RandomGenerator drawnRandom(5);
        StereogramState skippedState;
        RandomGenerator skippedRandom(5);
        DepthMapPtr drawn = copyOf(*depths);
        DepthMapPtr skipped = copyOf(*depths);
        for (std::size_t frame = 0; frame < run.size(); ++frame) {
            drawn = copyOf(*depths);
            renderStereogram(drawnState, drawnRandom, *drawn, run[frame]);
            if (frame + 1 < run.size()) skipStereogram(skippedState, skippedRandom, run[frame]);
        }
        renderStereogram(skippedState, skippedRandom, *skipped, run.back());
        EXPECT_EQ(bytesOf(*skipped), bytesOf(*drawn)) << run.size();
        EXPECT_EQ(bytesOf(*skippedState.pattern), bytesOf(*drawnState.pattern));
        EXPECT_EQ(nextRandom(skippedRandom), nextRandom(drawnRandom));
    }
}

TEST_F(StereogramTest, ReleaseWithoutPatternDoesNothing) {
    releasePattern(state_);
    releasePattern(state_);
    EXPECT_EQ(currentPattern(state_), nullptr);
}

TEST_F(StereogramTest, UnusablePatternSizesLeaveTheMapAlone) {
    struct Case {
        std::int32_t width, height;
        bool created;
    };
    const Case cases[] = {
        {0, 60, true}, {128, 0, true}, {641, 60, true}, {-1, 60, false}, {128, -5, false}, {65536, 65536, false},
    };
    for (const Case& c : cases) {
        releasePattern(state_);
        DepthMapPtr map = randomDepths(640, 30, 6, 32);
        const std::string before = bytesOf(*map);
        renderStereogram(state_, random_, *map, PatternSettings{c.width, c.height, true});
        EXPECT_EQ(bytesOf(*map), before) << c.width << " x " << c.height;
        EXPECT_EQ(currentPattern(state_) != nullptr, c.created) << c.width << " x " << c.height;
    }
    // An empty frame is no error either.
    releasePattern(state_);
    DepthMapPtr empty = createDepthMap(640, 0);
    renderStereogram(state_, random_, *empty, PatternSettings{});
    EXPECT_NE(currentPattern(state_), nullptr);
}

}  // namespace
