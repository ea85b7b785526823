// What a viewer sees: which frame an animation shows, where elements land
// for a given camera, and how scenes and sprites cover each other.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "world/elements.hpp"
#include "world/images.hpp"
#include "world/world.hpp"
#include "world_fixture.hpp"

using namespace tolvane;

namespace {

std::vector<int> box(const Rect& r) { return {r.x, r.y, r.w, r.h}; }

// A sheet of four 2 x 1 frames, so frame selection needs no pixels.
class Frames : public ::testing::Test {
protected:
    void SetUp() override { writeFlatDepthText("four.txt", 8, 1, '5'); }

    AniElement& ani(const std::string& fps, const std::string& start) {
        buildFrom(world, "<World><image type=\"sprite\" name=\"f\" file=\"four.txt\" sizex=\"2\" sizey=\"1\" />"
                         "<element type=\"ani\" imagename=\"f\" x=\"0\" y=\"0\" fps=\"" + fps +
                         "\" startframe=\"" + start + "\" /></World>");
        return static_cast<AniElement&>(world.elements[0]);
    }
    ScratchFolder folder;
    World world;
};

TEST_F(Frames, StartFrameThenAdvancesAtFpsAndWrapsAround) {
    AniElement& a = ani("10", "2");
    EXPECT_EQ(currentFrame(a), 2);
    world.update(0.1f);
    EXPECT_EQ(currentFrame(a), 3);
    world.update(0.1f);
    world.update(0.05f);  // 0.25 s in all: 4.5 frames on
    EXPECT_EQ(currentFrame(a), 0);
    world.clear();
    EXPECT_EQ(currentFrame(ani("10", "7")), 3) << "7 / 10 as a float times 10 falls just short of 7";
}

TEST_F(Frames, FractionalStartFrame) {
    AniElement& a = ani("10", "2.5");
    EXPECT_EQ(currentFrame(a), 2);
    world.update(0.049f);
    EXPECT_EQ(currentFrame(a), 2);
    world.clear();
    AniElement& b = ani("10", "2.5");
    world.update(0.05f);
    EXPECT_EQ(currentFrame(b), 3);
}

// A render sets T + k/F in double; at a sprite rate equal to F that must
// give column k, though 123/30 x 30 is an ulp short of 123.
TEST_F(Frames, RenderTimesLandOnTheirFrame) {
    AniElement& a = ani("30", "0");
    for (int k = 0; k < 1000; ++k) {
        world.setElapsed(static_cast<double>(k) / 30.0);
        ASSERT_EQ(currentFrame(a), k % 4) << "frame " << k;
    }
}

TEST_F(Frames, PausedClockKeepsTheFrame) {
    AniElement& a = ani("10", "1");
    for (int i = 0; i < 100; ++i) world.update(0.0f);
    EXPECT_EQ(currentFrame(a), 1);
}

TEST_F(Frames, NegativeCountsWrapToAValidColumn) {
    EXPECT_EQ(currentFrame(ani("10", "-1")), 3);
    world.clear();
    AniElement& backwards = ani("-2", "1");
    world.update(1.0f);  // 1 - 2 = -1
    EXPECT_EQ(currentFrame(backwards), 3);
    world.update(1.5f);  // -4
    EXPECT_EQ(currentFrame(backwards), 0);
}

TEST_F(Frames, CountsBeyond32BitsAndNonFiniteCounts) {
    AniElement& a = ani("1", "0");
    struct Case {
        float time;
        float fps;
        int column;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {2147483648.0f, 1.0f, 0},     // 2^31
        {2147483648.0f, 3.0f, 0},     // 3 x 2^31
        {4294967296.0f, -1.0f, 0},    // -2^32
        {1e30f, 1e8f, 0},
        {2147483520.0f, 1.0f, 0},     // largest float below 2^31
        {-2147483648.0f, 1.0f, 0},    // exactly -2^31
        {-2147483904.0f, 1.0f, 0},    // just below -2^31
        {-3.0f, 1.0f, 1},
        {-0.5f, 1.0f, 3},             // just before 0 backwards: frame -1, the last column
        {1.0f, inf, 0},
        {inf, 0.0f, 0},
        {nan, 10.0f, 0},
    };
    for (const Case& c : cases) {
        a.time = c.time;
        a.fps = c.fps;
        EXPECT_EQ(currentFrame(a), c.column) << c.time << " x " << c.fps;
    }
    // A column other than 0 past 32 bits: (2^31 + 256) x (1 + 2^-7) is
    // 2164261122, which is 2 modulo 4.
    a.time = 2147483904.0f;
    a.fps = 1.0078125f;
    EXPECT_EQ(currentFrame(a), 2);
}

class Drawing : public ::testing::Test {
protected:
    ScratchFolder folder;
    World world;
};

TEST_F(Drawing, AniStandsOnItsPositionShiftedByTheCamera) {
    writeFlatDepthText("p.txt", 32, 48, 'A');
    buildFrom(world,
        "<World><image type=\"sprite\" name=\"p\" file=\"p.txt\" sizex=\"32\" sizey=\"48\" />"
        "<element type=\"ani\" imagename=\"p\" x=\"100\" y=\"200\" fps=\"1\" startframe=\"0\" /></World>");
    DepthMapPtr target = blankMap(320, 240);
    world.draw(*target);
    EXPECT_EQ(box(nonZeroBox(*target)), (std::vector<int>{84, 152, 32, 48}));
    EXPECT_EQ(at(*target, 84, 152), 11 + 13 - 2);  // feet on row 199, band 13

    world.cameraX = 10;
    world.cameraY = -5;
    fillDepthMap(*target, 0);
    world.draw(*target);
    EXPECT_EQ(box(nonZeroBox(*target)), (std::vector<int>{94, 147, 32, 48}));
    EXPECT_EQ(at(*target, 94, 147), 11 + 12 - 2);  // row 194 with phase -10: band 12
}

TEST_F(Drawing, CharStandsAtTheCameraOffsetWhateverItsPosition) {
    // Left half 11, right half 21: only the right half may ever show.
    writeDepthText("c.txt", std::vector<std::string>(48, std::string(16, 'A') + std::string(16, 'K')));
    for (const char* position : {"x=\"100\" y=\"200\"", "x=\"0\" y=\"0\""}) {
        World w;
        buildFrom(w, std::string("<World><image type=\"sprite\" name=\"c\" file=\"c.txt\" sizex=\"32\" sizey=\"48\" />"
                                 "<element type=\"char\" imagename=\"c\" ") +
                         position + " fps=\"1\" startframe=\"0\" /></World>");
        DepthMapPtr target = blankMap(64, 64);
        w.draw(*target);
        EXPECT_TRUE(allZero(*target)) << "wholly above the screen at camera (0, 0)";

        struct Case {
            int cameraY;
            int value;
        };
        for (const Case c : {Case{1, 19}, Case{20, 19}, Case{48, 21}}) {
            w.cameraY = c.cameraY;
            fillDepthMap(*target, 0);
            w.draw(*target);
            EXPECT_EQ(box(nonZeroBox(*target)), (std::vector<int>{0, 0, 16, c.cameraY})) << c.cameraY;
            EXPECT_EQ(at(*target, 15, c.cameraY - 1), c.value) << c.cameraY;
        }
    }
}

TEST_F(Drawing, AniShowsTheCurrentColumnOfRowZero) {
    // Two frames across, two rows down, each frame of its own depth.
    writeDepthText("s.txt", {"3355", "3355", "7799", "7799"});
    buildFrom(world,
        "<World><image type=\"sprite\" name=\"s\" file=\"s.txt\" sizex=\"2\" sizey=\"2\" />"
        "<element type=\"ani\" imagename=\"s\" x=\"5\" y=\"32\" fps=\"1\" startframe=\"1\" /></World>");
    DepthMapPtr target = blankMap(16, 40);
    world.draw(*target);  // feet on row 31, band 2: depths show as stored
    EXPECT_EQ(box(nonZeroBox(*target)), (std::vector<int>{4, 30, 2, 2}));
    EXPECT_EQ(at(*target, 4, 30), 5);
    world.update(1.0f);
    fillDepthMap(*target, 0);
    world.draw(*target);
    EXPECT_EQ(at(*target, 4, 30), 3);
    EXPECT_EQ(at(*target, 5, 31), 3);
}

TEST_F(Drawing, LaterSceneWinsWhereScenesOverlap) {
    writeFlatDepthText("five.txt", 4, 4, '5');
    writeFlatDepthText("nine.txt", 4, 4, '9');
    const std::string images =
        "<image type=\"scene\" name=\"five\" file=\"five.txt\" />"
        "<image type=\"scene\" name=\"nine\" file=\"nine.txt\" />";
    const std::string five = "<element type=\"scene\" imagename=\"five\" x=\"0\" y=\"0\" />";
    const std::string nine = "<element type=\"scene\" imagename=\"nine\" x=\"2\" y=\"2\" />";
    struct Case {
        std::string order;
        int overlap;
    };
    for (const Case& c : {Case{five + nine, 9}, Case{nine + five, 5}}) {
        World w;
        buildFrom(w, "<World>" + images + c.order + "</World>");
        DepthMapPtr target = blankMap(8, 8);
        w.draw(*target);
        EXPECT_EQ(at(*target, 3, 3), c.overlap);
        EXPECT_EQ(at(*target, 0, 0), 5);
        EXPECT_EQ(at(*target, 5, 5), 9);
    }
}

TEST_F(Drawing, SpriteShowsOverSceneOnlyWhereNearerWhateverTheOrder) {
    writeFlatDepthText("ground.txt", 16, 16, '5');
    writeDepthText("post.txt", {"A3", "A3"});  // 11 lands as 9 (nearer), 3 as 1 (hidden)
    const std::string images =
        "<image type=\"scene\" name=\"g\" file=\"ground.txt\" />"
        "<image type=\"sprite\" name=\"p\" file=\"post.txt\" sizex=\"2\" sizey=\"2\" />";
    const std::string scene = "<element type=\"scene\" imagename=\"g\" x=\"0\" y=\"0\" />";
    const std::string post = "<element type=\"ani\" imagename=\"p\" x=\"7\" y=\"8\" fps=\"0.5\" startframe=\"0\" />";
    for (const std::string& order : {scene + post, post + scene}) {
        World w;
        buildFrom(w, "<World>" + images + order + "</World>");
        DepthMapPtr target = blankMap(16, 16);
        w.draw(*target);
        EXPECT_EQ(at(*target, 6, 6), 9);
        EXPECT_EQ(at(*target, 6, 7), 9);
        EXPECT_EQ(at(*target, 7, 6), 5);
        EXPECT_EQ(at(*target, 5, 6), 5);
    }
}

TEST_F(Drawing, ScrolledSceneKeepsItsBandsOnItsOwnRows) {
    std::vector<std::string> rows(40, "5");
    writeDepthText("tall.txt", rows);
    buildFrom(world,
        "<World><image type=\"scene\" name=\"t\" file=\"tall.txt\" />"
        "<element type=\"scene\" imagename=\"t\" x=\"0\" y=\"0\" /></World>");
    DepthMapPtr target = blankMap(4, 100);
    struct Case {
        int cameraY;
        int shown;
    };
    for (const Case c : {Case{0, 5}, Case{10, 5}, Case{15, 6}, Case{20, 6}}) {
        world.cameraY = c.cameraY;
        fillDepthMap(*target, 0);
        world.draw(*target);
        for (int row : {0, 14, 15, 38}) {
            const int screenRow = row + c.cameraY;
            EXPECT_EQ(at(*target, 0, screenRow), c.shown) << "camera " << c.cameraY << " image row " << row;
        }
    }
}

// slope="none": the picture's own depths wherever the camera puts it, the
// sloped scene beside it for contrast; any other value is told and ignored.
TEST_F(Drawing, SceneWithoutSlopeShowsItsOwnDepthsWherever) {
    writeDepthText("tall.txt", std::vector<std::string>(40, "5U"));  // 5 and 31 on every row
    const WorldProblems problems = buildFrom(world,
        "<World><image type=\"scene\" name=\"own\" file=\"tall.txt\" slope=\"none\" />"
        "<image type=\"scene\" name=\"ground\" file=\"tall.txt\" />"
        "<image type=\"scene\" name=\"odd\" file=\"tall.txt\" slope=\"flat\" />"
        "<element type=\"scene\" imagename=\"own\" x=\"0\" y=\"7\" />"
        "<element type=\"scene\" imagename=\"ground\" x=\"2\" y=\"0\" /></World>");
    ASSERT_EQ(kindsOf(problems), std::vector<WorldProblemKind>{WorldProblemKind::UnknownSlope});
    EXPECT_EQ(problems[0].element, "image 3 \"odd\"");
    DepthMapPtr target = blankMap(5, 100);
    for (const int cameraY : {0, 15, 20, -3}) {
        world.cameraY = cameraY;
        fillDepthMap(*target, 0);
        world.draw(*target);
        for (int row : {0, 14, 15, 39}) {
            EXPECT_EQ(at(*target, 0, 7 + cameraY + row), 5) << "camera " << cameraY << " row " << row;
            EXPECT_EQ(at(*target, 1, 7 + cameraY + row), 31) << "camera " << cameraY << " row " << row;
        }
    }
    world.cameraY = 15;
    fillDepthMap(*target, 0);
    world.draw(*target);
    EXPECT_EQ(at(*target, 2, 15), 6) << "the sloped scene comes a level nearer";
    EXPECT_EQ(at(*target, 0, 22), 5);
}

TEST_F(Drawing, OnlySpritesOnAClearedMapWhenThereAreNoScenes) {
    writeFlatDepthText("dot.txt", 1, 1, 'A');
    buildFrom(world,
        "<World><image type=\"sprite\" name=\"d\" file=\"dot.txt\" sizex=\"1\" sizey=\"1\" />"
        "<element type=\"ani\" imagename=\"d\" x=\"2\" y=\"3\" fps=\"1\" startframe=\"0\" />"
        "<element type=\"ani\" imagename=\"d\" x=\"5\" y=\"1\" fps=\"1\" startframe=\"0\" /></World>");
    DepthMapPtr target = blankMap(8, 8);
    world.draw(*target);
    EXPECT_EQ(box(nonZeroBox(*target)), (std::vector<int>{2, 0, 4, 3}));
    EXPECT_EQ(at(*target, 2, 2), 9);
    EXPECT_EQ(at(*target, 5, 0), 9);
}

TEST_F(Drawing, ElementsFarOutsideTheTargetDrawNothing) {
    writeFlatDepthText("p.txt", 4, 4, 'A');
    writeFlatDepthText("s.txt", 4, 4, '5');
    buildFrom(world,
        "<World><image type=\"sprite\" name=\"p\" file=\"p.txt\" sizex=\"4\" sizey=\"4\" />"
        "<image type=\"scene\" name=\"s\" file=\"s.txt\" />"
        "<element type=\"ani\" imagename=\"p\" x=\"2147483647\" y=\"2147483647\" fps=\"1\" startframe=\"0\" />"
        "<element type=\"ani\" imagename=\"p\" x=\"-2147483648\" y=\"5\" fps=\"1\" startframe=\"0\" />"
        "<element type=\"scene\" imagename=\"s\" x=\"2147483647\" y=\"0\" />"
        "<element type=\"scene\" imagename=\"s\" x=\"-2147483648\" y=\"0\" /></World>");
    DepthMapPtr target = blankMap(16, 16);
    for (int camera : {0, 2147483647, -2147483647 - 1}) {
        world.cameraX = camera;
        world.cameraY = camera;
        fillDepthMap(*target, 0);
        world.draw(*target);
        EXPECT_TRUE(allZero(*target)) << camera;
    }
}

}  // namespace
