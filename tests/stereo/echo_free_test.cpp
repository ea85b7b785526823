// The echo-free stereogram: worked rows, whole frames against the plain
// form of its rule, the far plane against the ordinary transform, and the
// inputs it refuses.

#include "stereo/echo_free.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "depth/cpu_level_testing.hpp"
#include "stereo/stereogram.hpp"
#include "tests/stereo/echo_free_reference.hpp"
#include "tests/stereo/stereo_maps.hpp"

using namespace tolvane;
using namespace tolvane::stereo_test;

namespace {

// Boxes of one depth over a noisy floor: steps of every height, so that
// points are hidden beside them and chains meet. With a range above 32 the
// floor is noise of that range too, so separations vary from pixel to pixel
// and chains cross.
DepthMapPtr boxesOverFloor(std::int32_t w, std::int32_t h, std::uint32_t seed, std::uint32_t range) {
    const std::uint32_t floorRange = range > 32 ? range : 4;
    std::mt19937 random(seed);
    DepthMapPtr map = createDepthMap(w, h);
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint32_t box = random() % range;
        for (std::int32_t x = 0; x < w; ++x) {
            if (random() % 23 == 0) {
                box = random() % range;
            }
            const bool inBox = ((x / 17) + y) % 3 == 0;
            *pixelAddress(*map, x, y) = static_cast<std::uint8_t>(inBox ? box : random() % floorRange);
        }
    }
    return map;
}

TEST(EchoFreeTest, WorkedRows) {
    struct Case {
        const char* what;
        std::string pattern;
        std::string depths;
        std::string shown;
    };
    const std::string floor12(12, '\0');
    const Case cases[] = {
        // Links (x - 1, x + 2) tile the pattern from the left edge, as the
        // ordinary transform does.
        {"far plane", "abc", std::string(8, '\0'), "abcabcab"},
        // Floor points link 5 to each side, box points (depth 6) 2. The
        // floor points 9-11 and 18-20 are hidden by the box: their links
        // (4, 14) ... (15, 25) would join pixels that differ here.
        {"near box", "ABCDEFGHIJ", floor12 + std::string(6, '\6') + floor12,
         "IJGHEFGHIJ"
         "IJGHIJGHIJ"
         "ABCDEFGHIJ"},
        // Depth 1 links (x - 4, x + 5), depth 0 (x - 5, x + 5): pixel 5 must
        // equal both 14 and 15, so the two chains merge.
        {"one step farther", "ABCDEFGHIJ", std::string(10, '\1') + std::string(10, '\0'), "JABCDFGHIJABCDFFGHIJ"},
        // Beyond P - 1 = 2 every depth counts as 2: links (x, x + 1).
        {"depth 2 of 3", "abc", std::string(8, '\2'), "bbbbbbbb"},
        {"depth 200 of 3", "abc", std::string(8, '\310'), "bbbbbbbb"},
        // A row as wide as the pattern links nothing.
        {"no room", "abc", std::string(3, '\0'), "abc"},
    };
    for (const Case& c : cases) {
        const auto w = static_cast<std::int32_t>(c.depths.size());
        DepthMapPtr pattern = mapOf(static_cast<std::int32_t>(c.pattern.size()), 1, c.pattern);
        DepthMapPtr map = mapOf(w, 1, c.depths);
        ASSERT_TRUE(transformStereogramEchoFree(*map, *pattern)) << c.what;
        EXPECT_EQ(bytesOf(*map), c.shown) << c.what;
        DepthMapPtr reference = mapOf(w, 1, c.depths);
        referenceEchoFree(*reference, *pattern);
        EXPECT_EQ(bytesOf(*reference), c.shown) << c.what << " (reference)";
    }
}

// The frames on the loops of each level (the levels between pick the
// narrower loops), so that every loop meets the plain rule.
class EchoFreeLevelTest : public testing::TestWithParam<CpuLevel> {};

INSTANTIATE_TEST_SUITE_P(Levels, EchoFreeLevelTest, testing::ValuesIn(kCpuLevels),
                         [](const testing::TestParamInfo<CpuLevel>& info) { return cpuLevelName(info.param); });

TEST_P(EchoFreeLevelTest, FramesMatchThePlainRuleAndMeetEveryRequirement) {
    const ForcedCpuLevel level(GetParam());
    if (!level.active()) {
        GTEST_SKIP() << "this processor cannot run the " << cpuLevelName(GetParam()) << " loops";
    }
    struct Case {
        std::int32_t w, h, p, q;
        std::uint32_t range;  // box depths drawn from 0..range-1
    };
    const Case cases[] = {
        {641, 9, 128, 60, 32}, {640, 6, 128, 7, 256}, {333, 7, 97, 5, 32}, {129, 4, 128, 3, 32}, {201, 5, 40, 2, 256},
        {77, 6, 13, 4, 32},    {37, 3, 37, 2, 256}, {19, 3, 1, 1, 256},   {1, 1, 1, 1, 32},
    };
    std::uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "W " << c.w << " H " << c.h << " P " << c.p << " Q " << c.q);
        DepthMapPtr pattern = randomPattern(c.p, c.q, seed++);
        DepthMapPtr depths = boxesOverFloor(c.w, c.h, seed++, c.range);
        DepthMapPtr expected = copyOf(*depths);
        referenceEchoFree(*expected, *pattern);
        DepthMapPtr map = copyOf(*depths);
        ASSERT_TRUE(transformStereogramEchoFree(*map, *pattern));
        const std::string shownBytes = bytesOf(*map);
        const std::string expectedBytes = bytesOf(*expected);
        EXPECT_TRUE(shownBytes == expectedBytes)
            << "first difference at byte "
            << std::mismatch(shownBytes.begin(), shownBytes.end(), expectedBytes.begin()).first - shownBytes.begin();
        for (std::int32_t y = 0; y < c.h; ++y) {
            const std::uint8_t* shown = pixelAddress(*map, 0, y);
            for (const auto& [l, r] : echoFreeRequirements(pixelAddress(*depths, 0, y), c.w, c.p)) {
                ASSERT_EQ(shown[l], shown[r]) << "row " << y << " pixels " << l << " and " << r;
            }
        }
    }
}

TEST(EchoFreeTest, FarPlaneGivesTheOrdinaryTransformsPicture) {
    DepthMapPtr pattern = randomPattern(128, 60, 9);
    DepthMapPtr map = createDepthMap(641, 70);
    DepthMapPtr ordinary = createDepthMap(641, 70);
    ASSERT_TRUE(transformStereogramEchoFree(*map, *pattern));
    ASSERT_TRUE(transformStereogram(*ordinary, *pattern));
    EXPECT_EQ(bytesOf(*map), bytesOf(*ordinary));
}

}  // namespace
