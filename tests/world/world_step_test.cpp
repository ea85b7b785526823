// The frame's world step: one read of "world.xml", the cleared and drawn
// depth map, the problem lines on stderr and the screenshot on request.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/frame_clock.hpp"
#include "depth/depth_file.hpp"
#include "world/world.hpp"
#include "world/world_step.hpp"
#include "world_fixture.hpp"

namespace {

class Step : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        theWorld.clear();
        theWorld.cameraX = 0;
        theWorld.cameraY = 0;
        worldLoaded = false;
        screenshotRequested = false;
        frameDt = 0.0f;
    }
    // Runs one step and returns what it printed on stderr.
    std::string step() {
        ::testing::internal::CaptureStderr();
        stepWorld(*target);
        return ::testing::internal::GetCapturedStderr();
    }
    ScratchFolder folder;
    DepthMapPtr target = createDepthMap(64, 48);
};

const char* const kSmallWorld =
    "<World><image type=\"scene\" name=\"s\" file=\"s.txt\" />"
    "<element type=\"scene\" imagename=\"s\" x=\"2\" y=\"3\" /></World>";

TEST_F(Step, WithoutWorldFileTheMapIsFlatAndTheFileIsNeverReadLater) {
    fillDepthMap(*target, 7);
    EXPECT_EQ(step(), "world.xml: cannot be read from the working folder; the world is empty\n");
    EXPECT_TRUE(worldLoaded);
    EXPECT_TRUE(allZero(*target));

    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", kSmallWorld);
    fillDepthMap(*target, 7);
    EXPECT_EQ(step(), "");
    EXPECT_TRUE(allZero(*target));
    EXPECT_TRUE(theWorld.elements.empty());
}

TEST_F(Step, FileWithoutWorldElementIsTold) {
    writeFile("world.xml", " <World />");  // leading space: nothing is read
    EXPECT_EQ(step(), "world.xml: has no \"World\" element; the world is empty\n");
    EXPECT_TRUE(allZero(*target));
}

TEST_F(Step, BuildsOnTheFirstStepDrawsEveryStepAndResetsTheCamera) {
    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", kSmallWorld);
    theWorld.cameraX = 30;
    EXPECT_EQ(step(), "");
    EXPECT_EQ(nonZeroBox(*target).x, 2);
    EXPECT_EQ(nonZeroBox(*target).y, 3);
    EXPECT_EQ(at(*target, 2, 3), 5);

    theWorld.cameraX = 10;  // a drag between frames
    EXPECT_EQ(step(), "");
    EXPECT_EQ(nonZeroBox(*target).x, 12);
    EXPECT_EQ(at(*target, 2, 3), 0);
    EXPECT_EQ(theWorld.elements.count(), 1);
}

TEST_F(Step, InnerWorldOfAnotherRootIsBuilt) {
    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", std::string("<demo>") + kSmallWorld + "</demo>");
    step();
    EXPECT_EQ(theWorld.elements.count(), 1);
}

TEST_F(Step, ProblemsArePrintedOnceAtBuildTime) {
    writeFile("world.xml",
              "<World><element type=\"scene\" imagename=\"nowhere\" x=\"0\" y=\"0\" /></World>");
    EXPECT_EQ(step(), "world.xml: element 1 (scene \"nowhere\"): no image named \"nowhere\"; nothing is drawn\n");
    EXPECT_EQ(step(), "");
}

TEST_F(Step, AdvancesAnimationsByTheFrameTime) {
    writeDepthText("b.txt", {"AK"});
    writeFile("world.xml",
              "<World><image type=\"sprite\" name=\"b\" file=\"b.txt\" sizex=\"1\" sizey=\"1\" />"
              "<element type=\"ani\" imagename=\"b\" x=\"3\" y=\"40\" fps=\"1\" startframe=\"0\" /></World>");
    frameDt = 0.5f;  // the first update already uses this frame's time
    step();
    EXPECT_EQ(at(*target, 3, 39), 11 + 2 - 2);  // row 39: band 2
    step();
    EXPECT_EQ(at(*target, 3, 39), 21 + 2 - 2);
    frameDt = 0.0f;  // paused
    step();
    step();
    EXPECT_EQ(at(*target, 3, 39), 21);
}

TEST_F(Step, ScreenshotSavedOncePerRequestWithTheDrawnDepths) {
    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", kSmallWorld);
    step();
    EXPECT_FALSE(std::filesystem::exists("screenshot.bmp"));

    screenshotRequested = true;
    screenshotRequested = true;  // K twice within one frame
    step();
    EXPECT_FALSE(screenshotRequested);
    ASSERT_TRUE(std::filesystem::exists("screenshot.bmp"));
    DepthMapPtr saved = loadDepthMap("screenshot.bmp").map;
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->area.w, 64);
    ASSERT_EQ(saved->area.h, 48);
    EXPECT_EQ(std::memcmp(saved->pixels, target->pixels, 64 * 48), 0);
    EXPECT_EQ(at(*saved, 2, 3), 5);

    std::filesystem::remove("screenshot.bmp");
    step();
    EXPECT_FALSE(std::filesystem::exists("screenshot.bmp"));

    // A failed screenshot says why, on one line.
    std::filesystem::create_directory("screenshot.bmp");
    screenshotRequested = true;
    EXPECT_EQ(step(), "screenshot.bmp: could not be written: cannot replace: it is a directory, not a regular file\n");
}

}  // namespace
