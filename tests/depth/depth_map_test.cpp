// The depth raster: clipping, bands, the two blits and the slope.

#include "depth/depth_map.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "depth/cpu_level_testing.hpp"

using namespace tolvane;

namespace {

constexpr Rect kScreen{0, 0, 640, 480};

// A map whose every pixel is `value`.
DepthMapPtr filledMap(std::int32_t w, std::int32_t h, std::uint8_t value) {
    DepthMapPtr map = createDepthMap(w, h);
    fillDepthMap(*map, value);
    return map;
}

// A one-row map holding `values`.
DepthMapPtr rowMap(const std::vector<std::uint8_t>& values) {
    DepthMapPtr map = createDepthMap(static_cast<std::int32_t>(values.size()), 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        map->pixels[i] = values[i];
    }
    return map;
}

std::vector<std::uint8_t> rowOf(const DepthMap& map, std::int32_t row, std::int32_t from, std::int32_t count) {
    const std::uint8_t* p = pixelAddress(map, from, row);
    return std::vector<std::uint8_t>(p, p + count);
}

class DepthMapTest : public ::testing::Test {};

// Every blit test runs on each kernel level; a level this processor lacks
// is reported as skipped.
class BlitTest : public ::testing::TestWithParam<CpuLevel> {
protected:
    void SetUp() override {
        level_.emplace(GetParam());
        if (!level_->active()) {
            GTEST_SKIP() << "this processor cannot run the " << cpuLevelName(GetParam()) << " kernels";
        }
    }
    void TearDown() override {
        level_.reset();
    }

private:
    std::optional<ForcedCpuLevel> level_;
};

INSTANTIATE_TEST_SUITE_P(Levels, BlitTest, ::testing::ValuesIn(kCpuLevels),
                         [](const ::testing::TestParamInfo<CpuLevel>& info) { return cpuLevelName(info.param); });

TEST_F(DepthMapTest, CreateGivesZeroedMapAndAddressesRowMajor) {
    DepthMapPtr map = createDepthMap(3, 2);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->area.x, 0);
    EXPECT_EQ(map->area.y, 0);
    EXPECT_EQ(map->area.w, 3);
    EXPECT_EQ(map->area.h, 2);
    EXPECT_EQ(pixelAddress(*map, 2, 1), map->pixels + 5);
    EXPECT_EQ(rowOf(*map, 0, 0, 3), (std::vector<std::uint8_t>{0, 0, 0}));
    EXPECT_EQ(rowOf(*map, 1, 0, 3), (std::vector<std::uint8_t>{0, 0, 0}));

    // Large maps take their bytes another way (whole huge pages); they too
    // come zeroed, every byte theirs, and go back however many there are.
    for (const std::int32_t h : {1100, 2049, 4100}) {
        DepthMapPtr large = createDepthMap(1024, h);
        ASSERT_NE(large, nullptr);
        const std::size_t n = pixelCount(*large);
        EXPECT_EQ(std::count(large->pixels, large->pixels + n, 0), static_cast<std::ptrdiff_t>(n)) << h;
        large->pixels[0] = 1;
        large->pixels[n - 1] = 2;
        EXPECT_EQ(large->pixels[0] + large->pixels[n - 1], 3);
    }
}

TEST_F(DepthMapTest, CreateRefusesSizesItCannotAddress) {
    struct Case {
        std::int32_t w, h;
        bool made;
    };
    // 46341 x 46341 is 2,147,488,281 pixels, just past the limit.
    const Case cases[] = {
        {0, 0, true},          {0, 480, true},        {640, 0, true},        {-1, 4, false},        {4, -1, false},
        {INT32_MIN, 1, false}, {65536, 65536, false}, {INT32_MAX, 2, false}, {46341, 46341, false},
    };
    for (const Case& c : cases) {
        DepthMapPtr map = createDepthMap(c.w, c.h);
        EXPECT_EQ(map != nullptr, c.made) << c.w << " x " << c.h;
        if (map) {
            EXPECT_EQ(map->area.w, c.w);
            EXPECT_EQ(map->area.h, c.h);
        }
    }
}

TEST_F(DepthMapTest, FillSetsEveryByteAndToleratesEmptyMaps) {
    DepthMapPtr map = createDepthMap(5, 3);
    fillDepthMap(*map, 0xA7);
    for (std::int32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(rowOf(*map, r, 0, 5), (std::vector<std::uint8_t>(5, 0xA7)));
    }
    DepthMapPtr empty = createDepthMap(0, 7);
    fillDepthMap(*empty, 3);
    DepthMap borrowed;  // no pixels at all
    fillDepthMap(borrowed, 3);
    freeDepthMap(std::move(map));
}

TEST_F(DepthMapTest, ClipRectOnTheScreen) {
    struct Case {
        std::int32_t x, y, w, h;
        bool drawn;
        Rect out;
    };
    const Case cases[] = {
        // The whole screen loses its last column and row.
        {0, 0, 640, 480, true, {0, 0, 639, 479}},
        // Right edge: reaching it exactly already costs a column.
        {608, 100, 32, 10, true, {608, 100, 31, 10}},
        {630, 100, 9, 10, true, {630, 100, 9, 10}},
        {630, 100, 10, 10, true, {630, 100, 9, 10}},
        {639, 100, 32, 10, true, {639, 100, 0, 10}},
        {640, 100, 32, 10, false, {640, 100, 32, 10}},
        // Left edge: ending exactly on it is accepted with nothing to draw.
        {-32, 100, 32, 10, true, {0, 100, 0, 10}},
        {-33, 100, 32, 10, false, {-33, 100, 32, 10}},
        {-10, 100, 32, 10, true, {0, 100, 22, 10}},
        {-10, 100, 700, 10, true, {0, 100, 639, 10}},
        // The same vertically.
        {100, 448, 10, 32, true, {100, 448, 10, 31}},
        {100, 479, 10, 32, true, {100, 479, 10, 0}},
        {100, 480, 10, 32, false, {100, 480, 10, 32}},
        {100, -32, 10, 32, true, {100, 0, 10, 0}},
        {100, -33, 10, 32, false, {100, -33, 10, 32}},
        {100, -10, 10, 32, true, {100, 0, 10, 22}},
        // An empty source placed inside is accepted.
        {5, 5, 0, 0, true, {5, 5, 0, 0}},
        // Extremes do not overflow.
        {INT32_MAX, 0, INT32_MAX, 1, false, {INT32_MAX, 0, INT32_MAX, 1}},
        {INT32_MIN, 0, INT32_MAX, 1, false, {INT32_MIN, 0, INT32_MAX, 1}},
        {-100, 0, INT32_MAX, 1, true, {0, 0, 639, 1}},
    };
    for (const Case& c : cases) {
        Rect out;
        const bool drawn = clipRect(kScreen, Rect{7, 9, c.w, c.h}, c.x, c.y, out);
        EXPECT_EQ(drawn, c.drawn) << c.x << "," << c.y << " " << c.w << "x" << c.h;
        EXPECT_EQ(out.x, c.out.x) << c.x << "," << c.y;
        EXPECT_EQ(out.y, c.out.y) << c.x << "," << c.y;
        EXPECT_EQ(out.w, c.out.w) << c.x << "," << c.y;
        EXPECT_EQ(out.h, c.out.h) << c.x << "," << c.y;
    }
}

TEST_F(DepthMapTest, ClipRectIgnoresTargetOriginAndNeverGoesNegative) {
    Rect out;
    EXPECT_TRUE(clipRect(Rect{50, 50, 640, 480}, Rect{0, 0, 32, 32}, 608, 0, out));
    EXPECT_EQ(out.w, 31);
    // An empty target: only a rectangle ending on its left and top edges is
    // accepted, and it gets nothing to draw.
    EXPECT_TRUE(clipRect(Rect{0, 0, 0, 0}, Rect{0, 0, 5, 5}, -5, -5, out));
    EXPECT_EQ(out.w, 0);
    EXPECT_EQ(out.h, 0);
    EXPECT_FALSE(clipRect(Rect{0, 0, 0, 0}, Rect{0, 0, 5, 5}, 0, 0, out));
}

TEST_F(DepthMapTest, RowPhaseFollowsCameraModulo15) {
    const std::int32_t cases[][2] = {
        {0, 0},   {1, -1},    {14, -14}, {15, 0},  {16, -1},        {-1, -14},
        {-15, 0}, {-16, -14}, {-14, -1}, {465, 0}, {INT32_MIN, -7}, {INT32_MAX, -7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(computeRowPhase(c[0]), c[1]) << "camera y " << c[0];
    }
}

TEST_P(BlitTest, SceneAddsTheBandOfEachTargetRowAndCapsAt31) {
    DepthMapPtr column = filledMap(1, 480, 5);
    struct Case {
        std::int32_t phase;
        std::int32_t row;
        std::uint8_t value;
    };
    const Case cases[] = {
        {0, 0, 5},    {0, 14, 5},   {0, 15, 6},   {0, 29, 6},  {0, 30, 7},  {0, 389, 30}, {0, 390, 31},
        {0, 404, 31}, {0, 405, 31}, {0, 478, 31}, {0, 479, 0},  // last row never drawn
        {-5, 0, 5},   {-5, 19, 5},  {-5, 20, 6},  {-5, 34, 6}, {-5, 35, 7}, {-14, 28, 5}, {-14, 29, 6},
    };
    for (const Case& c : cases) {
        DepthMapPtr screen = filledMap(640, 480, 0);
        blitScene(*column, column->area, *screen, 3, 0, c.phase);
        EXPECT_EQ(*pixelAddress(*screen, 3, c.row), c.value) << "phase " << c.phase << " row " << c.row;
        EXPECT_EQ(*pixelAddress(*screen, 2, c.row), 0);
        EXPECT_EQ(*pixelAddress(*screen, 4, c.row), 0);
    }
}

TEST_P(BlitTest, SceneArithmeticWrapsBeforeTheCap) {
    // Row 45 is band 3. 250 + 3 wraps to 253, a sum below zero: far, not
    // near. Widths around every vector block size, so that whole blocks and
    // the tails after them must agree.
    const std::vector<std::uint8_t> source = {253, 254, 255, 0, 28, 29, 250, 1};
    const std::vector<std::uint8_t> shown = {0, 1, 2, 3, 31, 31, 0, 4};
    std::vector<std::uint8_t> wide;
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 12; ++i) {
        wide.insert(wide.end(), source.begin(), source.end());
        expected.insert(expected.end(), shown.begin(), shown.end());
    }
    for (std::int32_t width : {96, 80, 79, 64, 63, 40, 33, 32, 17, 16, 5}) {
        DepthMapPtr image = rowMap(std::vector<std::uint8_t>(wide.begin(), wide.begin() + width));
        DepthMapPtr screen = filledMap(640, 480, 9);
        blitScene(*image, image->area, *screen, 0, 45);
        EXPECT_EQ(rowOf(*screen, 45, 0, width), std::vector<std::uint8_t>(expected.begin(), expected.begin() + width));
        EXPECT_EQ(*pixelAddress(*screen, width, 45), 9) << width;
        EXPECT_EQ(*pixelAddress(*screen, 0, 44), 9) << width;
        EXPECT_EQ(*pixelAddress(*screen, 0, 46), 9) << width;
    }
}

// Dragging the view up by less than a band takes one level off every scene
// pixel; a far sky of 0 must stay far rather than wrap round to nearest.
TEST_P(BlitTest, LiftedSceneKeepsItsFarPixelsFar) {
    DepthMapPtr image = filledMap(70, 60, 0);
    for (std::int32_t c = 0; c < 70; ++c) {
        *pixelAddress(*image, c, 40) = 6;
    }
    removeDepthSlope(*image);
    DepthMapPtr screen = filledMap(640, 480, 9);
    blitScene(*image, image->area, *screen, 0, -1, computeRowPhase(-1));
    for (std::int32_t r = 0; r < 59; ++r) {
        // World row r + 1 on screen row r; rows 15 and on are one band lower.
        const std::uint8_t expected = r + 1 == 40 ? 5 : 0;
        ASSERT_EQ(rowOf(*screen, r, 0, 69), std::vector<std::uint8_t>(69, expected)) << "row " << r;
    }
}

TEST_P(BlitTest, FullScreenSceneLeavesLastColumnAndRow) {
    DepthMapPtr image = filledMap(640, 480, 1);
    DepthMapPtr screen = filledMap(640, 480, 0);
    blitScene(*image, image->area, *screen, 0, 0);
    for (std::int32_t r = 0; r < 479; ++r) {
        ASSERT_NE(*pixelAddress(*screen, 0, r), 0) << r;
        ASSERT_NE(*pixelAddress(*screen, 638, r), 0) << r;
        ASSERT_EQ(*pixelAddress(*screen, 639, r), 0) << r;
    }
    EXPECT_EQ(rowOf(*screen, 479, 0, 640), std::vector<std::uint8_t>(640, 0));
}

TEST_P(BlitTest, BlitsCutOffTheLeftAndReadFromTheSourceRectangle) {
    std::vector<std::uint8_t> columns(32);
    for (std::uint8_t i = 0; i < 32; ++i) {
        columns[i] = i;
    }
    DepthMapPtr image = rowMap(columns);
    DepthMapPtr screen = filledMap(640, 480, 0);
    blitScene(*image, image->area, *screen, -10, 0);
    EXPECT_EQ(rowOf(*screen, 0, 0, 23), (std::vector<std::uint8_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                                                   22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 0}));

    // A sheet of two rows; the rectangle picks columns 4..7 of row 1.
    DepthMapPtr sheet = createDepthMap(8, 2);
    for (std::uint8_t i = 0; i < 16; ++i) {
        sheet->pixels[i] = static_cast<std::uint8_t>(i + 1);
    }
    DepthMapPtr target = filledMap(16, 4, 0);
    blitScene(*sheet, Rect{4, 1, 4, 1}, *target, -2, 1);
    EXPECT_EQ(rowOf(*target, 1, 0, 4), (std::vector<std::uint8_t>{15, 16, 0, 0}));
    EXPECT_EQ(rowOf(*target, 0, 0, 16), std::vector<std::uint8_t>(16, 0));
    blitSprite(*sheet, Rect{4, 1, 4, 1}, *target, 5, 2);
    // Band 0: offset 254, so 13 + 254 wraps to 11.
    EXPECT_EQ(rowOf(*target, 2, 4, 6), (std::vector<std::uint8_t>{0, 11, 12, 13, 14, 0}));
}

TEST_P(BlitTest, SpriteIsTransparentKeepsNearerAndUsesItsFeetBand) {
    // Last drawn row 149 is band 9, so every value moves by 7.
    const std::vector<std::uint8_t> source = {0, 1, 2, 3, 24, 30, 255};
    const std::vector<std::uint8_t> shown = {9, 9, 9, 10, 31, 31, 31};  // 255 + 7 is held at 31, not wrapped
    std::vector<std::uint8_t> wide;
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 11; ++i) {  // 77 pixels: a whole 64-byte block and a tail
        wide.insert(wide.end(), source.begin(), source.end());
        expected.insert(expected.end(), shown.begin(), shown.end());
    }
    DepthMapPtr sprite = createDepthMap(static_cast<std::int32_t>(wide.size()), 4);
    for (std::int32_t r = 0; r < 4; ++r) {
        std::copy(wide.begin(), wide.end(), pixelAddress(*sprite, 0, r));
    }
    DepthMapPtr screen = filledMap(640, 480, 9);
    blitSprite(*sprite, sprite->area, *screen, 10, 146);
    for (std::int32_t r = 146; r < 150; ++r) {
        EXPECT_EQ(rowOf(*screen, r, 10, static_cast<std::int32_t>(wide.size())), expected) << r;
    }
    EXPECT_EQ(*pixelAddress(*screen, 10 + 4, 145), 9);
    EXPECT_EQ(*pixelAddress(*screen, 10 + 4, 150), 9);
    EXPECT_EQ(*pixelAddress(*screen, 10 + 77, 147), 9);
    EXPECT_EQ(*pixelAddress(*screen, 9, 147), 9);
}

TEST_P(BlitTest, SpriteBandComesFromLastVisibleRow) {
    struct Case {
        std::int32_t y, height, phase;
        std::uint8_t source;
        std::uint8_t shown;
    };
    const Case cases[] = {
        // Cut at the bottom: row 478 (band 31, +29), not its own bottom 489.
        {470, 20, 0, 1, 30},
        // Transparent even where 0 + 29 would be nearer than the target.
        {470, 20, 0, 0, 0},
        // Unclipped at the top of the screen: band 0 wraps the offset to 254,
        // and 1 + 254 is a sum below zero, which shows as far, so nothing.
        {0, 4, 0, 1, 0},
        {0, 4, 0, 2, 0},
        {0, 4, 0, 3, 1},
        // Band 1: offset 255, a value of 1 becomes 0 and shows nothing.
        {12, 4, 0, 1, 0},
        {12, 4, 0, 5, 4},
        // The row phase moves the band boundary: row 19 is band 0 at -5.
        {16, 4, -5, 5, 3},
        {17, 4, -5, 5, 4},
    };
    for (const Case& c : cases) {
        // 70 wide: vector blocks and a tail.
        DepthMapPtr sprite = filledMap(70, c.height, c.source);
        DepthMapPtr screen = filledMap(640, 480, 0);
        blitSprite(*sprite, sprite->area, *screen, 100, c.y, c.phase);
        EXPECT_EQ(*pixelAddress(*screen, 101, c.y + 1), c.shown) << "y " << c.y << " source " << int(c.source);
        EXPECT_EQ(*pixelAddress(*screen, 169, c.y + 1), c.shown) << "y " << c.y << " source " << int(c.source);
        EXPECT_EQ(*pixelAddress(*screen, 170, c.y + 1), 0);
    }
}

TEST_P(BlitTest, SlopeRemovalWrapsAndSceneBringsItBack) {
    DepthMapPtr image = filledMap(3, 50, 0);
    removeDepthSlope(*image);
    EXPECT_EQ(*pixelAddress(*image, 1, 14), 0);
    EXPECT_EQ(*pixelAddress(*image, 1, 15), 255);
    EXPECT_EQ(*pixelAddress(*image, 1, 30), 254);
    EXPECT_EQ(*pixelAddress(*image, 1, 45), 253);

    DepthMapPtr screen = filledMap(640, 480, 9);
    blitScene(*image, image->area, *screen, 0, 0);
    EXPECT_EQ(rowOf(*screen, 45, 0, 3), (std::vector<std::uint8_t>{0, 0, 0}));
}

TEST_P(BlitTest, SceneWithSlopeRemovedFollowsTheCamera) {
    // Stored values chosen to sit on both sides of the cap.
    auto stored = [](std::int32_t c, std::int32_t r) { return static_cast<std::uint8_t>((r * 7 + c * 11) % 32); };
    DepthMapPtr image = createDepthMap(5, 61);
    for (std::int32_t r = 0; r < 61; ++r) {
        for (std::int32_t c = 0; c < 5; ++c) {
            *pixelAddress(*image, c, r) = stored(c, r);
        }
    }
    removeDepthSlope(*image);
    const std::int32_t cameras[][2] = {{0, 0}, {10, 0}, {14, 0}, {15, 1}, {20, 1}, {29, 1}, {30, 2}};
    for (const auto& camera : cameras) {
        DepthMapPtr screen = filledMap(640, 480, 0);
        blitScene(*image, image->area, *screen, 0, camera[0], computeRowPhase(camera[0]));
        for (std::int32_t r = 0; r < 61; ++r) {
            for (std::int32_t c = 0; c < 5; ++c) {
                const int expected = std::min(stored(c, r) + camera[1], 31);
                ASSERT_EQ(*pixelAddress(*screen, c, r + camera[0]), expected)
                    << "camera " << camera[0] << " at " << c << "," << r;
            }
        }
    }
}

// A tall scene drawn far above its own rows: every pixel is its true depth
// sum held to 0..31, also where that sum leaves the signed byte range.
TEST_P(BlitTest, TallSceneKeepsTheTrueSumWhereverItIsDrawn) {
    auto depth = [](std::int32_t r) { return static_cast<std::uint8_t>((r * 5) % 32); };
    DepthMapPtr image = createDepthMap(3, 4000);
    for (std::int32_t r = 0; r < 4000; ++r) {
        for (std::int32_t c = 0; c < 3; ++c) *pixelAddress(*image, c, r) = depth(r);
    }
    removeDepthSlope(*image);
    for (std::int32_t y : {0, -1400, -1920, -1935, -2000, -2520, -3500}) {
        DepthMapPtr screen = filledMap(640, 480, 9);
        blitScene(*image, image->area, *screen, 0, y);
        for (std::int32_t r = 0; r < 479 && r - y < 4000; ++r) {
            const int expected = std::clamp(depth(r - y) + r / 15 - (r - y) / 15, 0, 31);
            ASSERT_EQ(rowOf(*screen, r, 0, 3), std::vector<std::uint8_t>(3, std::uint8_t(expected)))
                << "drawn at " << y << ", screen row " << r;
        }
    }
}

// Each blit against its formula written plainly, over every source byte, at
// every width from one pixel to past two 64-byte blocks, in the bands where a
// sprite is lowered as well as raised.
TEST_P(BlitTest, EveryWidthMatchesThePlainFormula) {
    auto clampDepth = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 31)); };
    std::int32_t rowPhase = 0;
    auto band = [&rowPhase](std::int32_t row) { return (row + rowPhase) / 15; };
    std::mt19937 random(5);
    DepthMapPtr before = createDepthMap(150, 480);
    for (std::int32_t i = 0; i < 150 * 480; ++i) {
        before->pixels[i] = static_cast<std::uint8_t>(random() % 40);
    }
    const std::size_t bytes = 150 * 480;
    DepthMapPtr screen = createDepthMap(150, 480);
    DepthMapPtr expected = createDepthMap(150, 480);
    for (std::int32_t phase : {0, -9}) {
        rowPhase = phase;
        for (std::int32_t y : {0, 14, 40, 200, 450}) {
            for (std::int32_t width = 1; width <= 140; ++width) {
                DepthMapPtr image = createDepthMap(width, 3);
                for (std::int32_t i = 0; i < width * 3; ++i) {
                    image->pixels[i] = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
                }
                for (int sprite = 0; sprite < 2; ++sprite) {
                    std::copy(before->pixels, before->pixels + bytes, screen->pixels);
                    std::copy(before->pixels, before->pixels + bytes, expected->pixels);
                    for (std::int32_t r = 0; r < 3; ++r) {
                        for (std::int32_t c = 0; c < width; ++c) {
                            const int s = *pixelAddress(*image, c, r);
                            std::uint8_t& out = *pixelAddress(*expected, 3 + c, y + r);
                            if (sprite == 0) {
                                out = clampDepth(static_cast<std::int8_t>(s + band(y + r)));
                            } else if (s != 0) {
                                out = std::max(out, clampDepth(s + band(y + 2) - 2));
                            }
                        }
                    }
                    if (sprite != 0) {
                        blitSprite(*image, image->area, *screen, 3, y, rowPhase);
                    } else {
                        blitScene(*image, image->area, *screen, 3, y, rowPhase);
                    }
                    ASSERT_TRUE(std::equal(screen->pixels, screen->pixels + bytes, expected->pixels))
                        << (sprite != 0 ? "sprite" : "scene") << " width " << width << " y " << y << " phase " << phase;
                }
            }
        }
    }
}

TEST_P(BlitTest, BlitsStayInsideBothMapsWhateverTheRectangle) {
    DepthMapPtr image = filledMap(4, 4, 7);
    *pixelAddress(*image, 0, 0) = 4;
    *pixelAddress(*image, 3, 3) = 3;
    struct Case {
        Rect from;
        std::int32_t x, y;
        std::int32_t written;  // pixels of the target that change
    };
    const Case cases[] = {
        {{2, 2, 10, 10}, 0, 0, 4},        // runs off the right and bottom: 2 x 2
        {{-2, 0, 4, 1}, 5, 0, 2},         // starts left of the map: columns 0..1 land at 7..8
        {{0, -3, 1, 4}, 0, 0, 1},         // starts above: row 0 lands at row 3
        {{-100, -100, 50, 50}, 0, 0, 0},  // entirely outside the map
        {{5, 0, 3, 3}, 0, 0, 0},
        {{0, 0, -3, 4}, 0, 0, 0},  // negative size
        {{INT32_MIN, 0, INT32_MAX, 4}, 0, 0, 0},
        {{0, 0, 4, 4}, INT32_MAX, 0, 0},
        {{0, 0, INT32_MAX, INT32_MAX}, -2, -2, 4},
    };
    for (const Case& c : cases) {
        for (int sprite = 0; sprite < 2; ++sprite) {
            DepthMapPtr target = filledMap(12, 12, 0);
            if (sprite != 0) {
                blitSprite(*image, c.from, *target, c.x, c.y);
            } else {
                blitScene(*image, c.from, *target, c.x, c.y);
            }
            std::int32_t written = 0;
            for (std::int32_t i = 0; i < 144; ++i) {
                written += target->pixels[i] != 0 ? 1 : 0;
            }
            EXPECT_EQ(written, c.written) << c.from.x << "," << c.from.y << " sprite " << sprite;
        }
    }
    DepthMapPtr target = filledMap(12, 12, 0);
    blitScene(*image, Rect{-2, 0, 4, 1}, *target, 5, 0);
    EXPECT_EQ(rowOf(*target, 0, 5, 5), (std::vector<std::uint8_t>{0, 0, 4, 7, 0}));
    blitScene(*image, Rect{0, -3, 1, 4}, *target, 0, 5);
    EXPECT_EQ(*pixelAddress(*target, 0, 8), 4);
    EXPECT_EQ(*pixelAddress(*target, 0, 7), 0);
}

TEST_P(BlitTest, BlitsWithEmptyMapsDrawNothing) {
    DepthMapPtr image = filledMap(4, 4, 7);
    DepthMapPtr empty = createDepthMap(0, 0);
    DepthMap bare;  // no pixels
    DepthMapPtr screen = filledMap(8, 8, 0);
    blitScene(*empty, Rect{0, 0, 4, 4}, *screen, 0, 0);
    blitSprite(*empty, Rect{0, 0, 4, 4}, *screen, 0, 0);
    blitScene(bare, Rect{0, 0, 4, 4}, *screen, 0, 0);
    blitSprite(bare, Rect{0, 0, 4, 4}, *screen, 0, 0);
    EXPECT_EQ(rowOf(*screen, 0, 0, 8), std::vector<std::uint8_t>(8, 0));
    blitScene(*image, image->area, *empty, -2, -2);
    blitSprite(*image, image->area, *empty, 0, 0);
    blitScene(*image, image->area, bare, 0, 0);
    blitSprite(*image, image->area, bare, -4, -4);
    removeDepthSlope(*empty);
    removeDepthSlope(bare);
}

}  // namespace
