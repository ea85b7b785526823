// The frame's world step: one read of "world.xml", the cleared and drawn
// depth map, the problem lines on stderr and the screenshot on request.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "depth/depth_file.hpp"
#include "world/world.hpp"
#include "world/world_file.hpp"
#include "world/world_step.hpp"
#include "world_fixture.hpp"

using namespace tolvane;

namespace {

class Step : public ::testing::Test {
protected:
    // Runs one step and returns what it printed on stderr.
    std::string step(float dt = 0.0f, bool saveScreenshot = false, const char* worldFile = "world.xml",
                     const char* sampleWorld = nullptr) {
        ::testing::internal::CaptureStderr();
        run.sampleWorld = sampleWorld != nullptr ? sampleWorld : "";
        stepWorld(run, *target, dt, saveScreenshot, worldFile);
        return ::testing::internal::GetCapturedStderr();
    }
    // A fresh run, as for another start of the program.
    void restart() {
        run.world.clear();
        run.loaded = false;
        run.problems = {};
    }
    WorldRun run;
    ScratchFolder folder;
    DepthMapPtr target = createDepthMap(64, 48);
};

const char* const kSmallWorld =
    "<World><image type=\"scene\" name=\"s\" file=\"s.txt\" />"
    "<element type=\"scene\" imagename=\"s\" x=\"2\" y=\"3\" /></World>";

TEST_F(Step, WithoutWorldFileTheMapIsFlatAndTheFileIsNeverReadLater) {
    fillDepthMap(*target, 7);
    EXPECT_EQ(step(), "world.xml: cannot be read from the working folder: No such file or directory; the world is "
                      "empty\n");
    EXPECT_TRUE(run.loaded);
    EXPECT_FALSE(run.readable);
    EXPECT_TRUE(allZero(*target));

    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", kSmallWorld);
    fillDepthMap(*target, 7);
    EXPECT_EQ(step(), "");
    EXPECT_TRUE(allZero(*target));
    EXPECT_TRUE(run.world.elements.empty());
}

TEST_F(Step, AMissingWorldInTheWorkingFolderNamesTheSampleWorld) {
    EXPECT_EQ(step(0.0f, false, "world.xml", "/usr/share/tolvane/world.xml"),
              "world.xml: cannot be read from the working folder: No such file or directory; the world is empty; "
              "the sample world is /usr/share/tolvane/world.xml\n");
    restart();
    // A path the user gave is not the working folder's world: no hint.
    EXPECT_EQ(step(0.0f, false, "lake/world.xml", "/usr/share/tolvane/world.xml"),
              "lake/world.xml: cannot be read: No such file or directory; the world is empty\n");
    restart();
    // Nor when the world is there.
    writeFile("world.xml", "<World />");
    EXPECT_EQ(step(0.0f, false, "world.xml", "/usr/share/tolvane/world.xml"), "");
}

TEST_F(Step, FileWithoutWorldElementIsTold) {
    writeFile("world.xml", "<Wrld />");
    EXPECT_EQ(step(), "world.xml: has no \"World\" element; the world is empty\n");
    EXPECT_TRUE(allZero(*target));
}

// Markup the reader does not read as its author meant is named by its
// cause, before (or instead of) what it leads to.
TEST(WorldMarkup, TrapsAreNamedByTheirCause) {
    const std::string kImage = "<image type=\"scene\" name=\"s\" file=\"s.txt\" />";
    const std::string kElement = "<element type=\"scene\" imagename=\"s\" x=\"2\" y=\"3\" />";
    const std::string kWorld = "<World>\n" + kImage + "\n" + kElement + "\n</World>\n";
    const std::string kSwallows = ", which this reader does not know: it reads it as an element that swallows "
                                  "what follows up to the next \"=\"; delete it";
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> lines;
        int elements;
    } cases[] = {
        {"clean", kWorld, {}, 1},
        {"empty", "", {"is empty; the world is empty"}, 0},
        {"byte order mark", "\xEF\xBB\xBF" + kWorld,
         {"starts with a byte order mark, which this reader does not skip; save the file without it; the world "
          "is empty"}, 0},
        {"UTF-16", std::string("\xFF\xFE<\0W\0", 6),
         {"starts with a UTF-16 byte order mark; this reader reads single bytes: save the file as UTF-8 without "
          "a byte order mark; the world is empty"}, 0},
        {"blank line first", "\n" + kWorld,
         {"starts with blank space, which this reader does not skip: \"<\" must be the very first byte; delete "
          "what stands before it; the world is empty"}, 0},
        {"declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + kWorld,
         {"line 1: a declaration \"<?xml\"" + kSwallows + "; the world is empty"}, 0},
        {"document type", "<!DOCTYPE world>\n" + kWorld,
         {"line 1: a declaration \"<!DOCTYPE\"" + kSwallows + "; the world is empty"}, 0},
        {"comment first", "<!-- my world -->\n" + kWorld, {"line 1: a comment \"<!--\"" + kSwallows + "; the world is empty"}, 0},
        {"comment swallowing an image", "<World>\n<!-- the ground -->\n" + kImage + "\n" + kElement + "\n</World>",
         {"line 2: a comment \"<!--\"" + kSwallows,
          "element 1 (scene \"s\"): no image named \"s\"; nothing is drawn"}, 1},
        {"comments and a declaration inside",
         "<World>\n" + kImage + "\n<!--a=\"1\"-->\n<?pi a=\"1\"?>\n<!--b=\"2\"-->\n" + kElement + "\n</World>",
         {"line 3: a comment \"<!--\"" + kSwallows + " (and 1 more)", "line 4: a declaration \"<?pi\"" + kSwallows},
         0},
        {"comment after the end is never read", kWorld + "<!-- done -->\n", {}, 1},
        {"nested too deep", "<World>\n" + kImage + "\n" + kElement + "\n" + [] {
             std::string deep;
             for (int i = 0; i < 300; ++i) deep += "<d>\n";
             return deep + "</World>";
         }(),
         {"line 259: an element nested deeper than 256 levels, which this reader drops with all it holds"}, 1},
        {"two subtrees too deep", [] {
             std::string deep;
             for (int i = 0; i < 256; ++i) deep += "<e>";
             return deep + "\n<a />\n<b><c /></b>";
         }(),
         {"has no \"World\" element; the world is empty",
          "line 2: an element nested deeper than 256 levels, which this reader drops with all it holds (and 1 more)"},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        writeFlatDepthText("s.txt", 2, 2, '5');
        writeFile("world.xml", c.text);
        World world;
        WorldProblems problems;
        EXPECT_TRUE(loadWorld(world, "world.xml", problems));
        EXPECT_EQ(linesOf(problems), c.lines);
        EXPECT_EQ(world.elements.count(), c.elements);
    }
}

TEST_F(Step, WorldFileNameIsPrintedSafely) {
    EXPECT_EQ(step(0.0f, false, "no\x1b[2J\n/lake.xml"),
              "no\\x1b[2J\\n/lake.xml: cannot be read: No such file or directory; the world is empty\n");
}

TEST_F(Step, BuildsOnTheFirstStepDrawsEveryStepAndResetsTheCamera) {
    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", kSmallWorld);
    run.world.cameraX = 30;
    EXPECT_EQ(step(), "");
    EXPECT_EQ(nonZeroBox(*target).x, 2);
    EXPECT_EQ(nonZeroBox(*target).y, 3);
    EXPECT_EQ(at(*target, 2, 3), 5);

    run.world.cameraX = 10;  // a drag between frames
    EXPECT_EQ(step(), "");
    EXPECT_EQ(nonZeroBox(*target).x, 12);
    EXPECT_EQ(at(*target, 2, 3), 0);
    EXPECT_EQ(run.world.elements.count(), 1);
}

TEST_F(Step, InnerWorldOfAnotherRootIsBuilt) {
    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", std::string("<demo>") + kSmallWorld + "</demo>");
    step();
    EXPECT_EQ(run.world.elements.count(), 1);
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
    step(0.5f);  // the first update already uses this frame's time
    EXPECT_EQ(at(*target, 3, 39), 11 + 2 - 2);  // row 39: band 2
    step(0.5f);
    EXPECT_EQ(at(*target, 3, 39), 21 + 2 - 2);
    step(0.0f);  // paused
    step(0.0f);
    EXPECT_EQ(at(*target, 3, 39), 21);

    // A frame passed over moves the animation as a drawn one does, draws
    // nothing, and a run that does not report keeps the problems unsaid.
    writeFile("quiet.xml",
              "<World><image type=\"sprite\" name=\"b\" file=\"b.txt\" sizex=\"1\" sizey=\"1\" />"
              "<element type=\"ani\" imagename=\"b\" x=\"3\" y=\"40\" fps=\"1\" startframe=\"0\" />"
              "<element type=\"scene\" imagename=\"nowhere\" x=\"0\" y=\"0\" /></World>");
    WorldRun quiet;
    quiet.reportProblems = false;
    ::testing::internal::CaptureStderr();
    advanceWorld(quiet, 0.5f, "quiet.xml");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(quiet.loaded);
    fillDepthMap(*target, 7);
    stepWorld(quiet, *target, 0.5f, false, "quiet.xml");
    EXPECT_EQ(at(*target, 3, 39), 21);
}

TEST_F(Step, ScreenshotSavedOnlyWhenAskedWithTheDrawnDepths) {
    writeFlatDepthText("s.txt", 4, 4, '5');
    writeFile("world.xml", kSmallWorld);
    step();
    EXPECT_FALSE(std::filesystem::exists("screenshot.bmp"));

    EXPECT_EQ(step(0.0f, true), "");
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
    EXPECT_EQ(step(0.0f, true),
              "screenshot.bmp: could not be written: cannot replace: it is a directory, not a regular file\n");
}

TEST(WorldPath, ImageFilesAreFoundFromTheDescriptionsFolder) {
    struct Case {
        const char* worldFile;
        const char* file;
        const char* opened;
    };
    const Case cases[] = {
        {"world.xml", "s.txt", "s.txt"},
        {"world.xml", "art/s.txt", "art/s.txt"},
        {"w/world.xml", "s.txt", "w/s.txt"},
        {"w/world.xml", "../s.txt", "w/../s.txt"},
        {"/a/b/lake.xml", "s.txt", "/a/b/s.txt"},
        {"/lake.xml", "s.txt", "/s.txt"},
        {"w/world.xml", "/abs/s.txt", "/abs/s.txt"},
        {"w/world.xml", "", ""},
        {"w/", "s.txt", "w/s.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(worldRelativePath(c.worldFile, c.file), c.opened) << c.worldFile << " " << c.file;
    }
}

TEST_F(Step, WorldFromAnotherFolderReadsItsImagesThereAndSavesHere) {
    std::filesystem::create_directories("w/deeper");
    writeFlatDepthText("w/s.txt", 4, 4, '5');
    writeFlatDepthText("s.txt", 4, 4, '9');  // the working folder's own file is not the one meant
    writeFlatDepthText("abs.txt", 2, 2, 'A');
    const std::string absolute = (std::filesystem::current_path() / "abs.txt").string();
    writeFile("w/lake.xml",
              "<World><image type=\"scene\" name=\"s\" file=\"s.txt\" />"
              "<image type=\"scene\" name=\"a\" file=\"" + absolute + "\" />"
              "<image type=\"scene\" name=\"m\" file=\"deeper/m.txt\" />"
              "<element type=\"scene\" imagename=\"s\" x=\"2\" y=\"3\" />"
              "<element type=\"scene\" imagename=\"a\" x=\"20\" y=\"0\" /></World>");
    const std::string err = step(0.0f, true, "w/lake.xml");
    EXPECT_EQ(err.rfind("w/lake.xml: image 3 \"m\": cannot read \"w/deeper/m.txt\"", 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_EQ(at(*target, 2, 3), 5);
    EXPECT_EQ(at(*target, 20, 0), 11);
    EXPECT_TRUE(std::filesystem::exists("screenshot.bmp"));
    EXPECT_FALSE(std::filesystem::exists("w/screenshot.bmp"));
}

TEST_F(Step, UnreadableDescriptionElsewhereIsNamedAsGiven) {
    EXPECT_EQ(step(0.0f, false, "nowhere/lake.xml"),
              "nowhere/lake.xml: cannot be read: No such file or directory; the world is empty\n");
    EXPECT_TRUE(allZero(*target));
}

// A description that cannot be read at all says why, in one line, and
// leaves the world empty.
TEST(WorldFile, UnreadableDescriptionsGiveTheTrueReason) {
    ScratchFolder folder;
    std::filesystem::create_directory("folder.xml");
    std::filesystem::create_directory("w");
    std::filesystem::create_directory("w/inner.xml");
    {
        std::ofstream big("big.xml", std::ios::binary);
        big << "<World>" << std::string(kMaxMarkupFileBytes, ' ') << "</World>";
    }
    const struct {
        const char* file;
        const char* line;
    } cases[] = {
        {"missing.xml", "cannot be read from the working folder: No such file or directory; the world is empty"},
        {"folder.xml", "cannot be read from the working folder: it is a directory, not a file; the world is empty"},
        {"w/inner.xml", "cannot be read: it is a directory, not a file; the world is empty"},
        {"big.xml", "cannot be read from the working folder: it is larger than the 16 MiB a world description may "
                    "hold; the world is empty"},
    };
    for (const auto& c : cases) {
        World world;
        WorldProblems problems;
        EXPECT_FALSE(loadWorld(world, c.file, problems)) << c.file;
        EXPECT_EQ(kindsOf(problems), std::vector<WorldProblemKind>{WorldProblemKind::CannotReadDescription}) << c.file;
        EXPECT_EQ(linesOf(problems), std::vector<std::string>{c.line}) << c.file;
        EXPECT_TRUE(world.images.empty());
    }
}

}  // namespace
