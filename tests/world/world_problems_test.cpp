// Descriptions that cannot be shown as written: each is told once, at build
// time, in one line naming the image or element, and none of them faults
// while the world is updated and drawn.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

#include "world/elements.hpp"
#include "world/image_files.hpp"
#include "world/images.hpp"
#include "world/world_file.hpp"
#include "world/world.hpp"
#include "world_fixture.hpp"

using namespace tolvane;

namespace {

#if !defined(__SANITIZE_ADDRESS__)
// In a forked child: caps the address space at what the child maps now plus
// `headroom`, so that running out of memory is reached quickly and for sure.
void limitAddressSpaceOrExit(rlim_t headroom) {
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) ::_exit(10);
    std::fclose(statm);
    const rlim_t bytes = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + headroom;
    const rlimit limit{bytes, bytes};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(11);
}
#endif

struct BadInput {
    const char* what;
    std::string markup;  // inside <World>, beside the good images below
    std::vector<WorldProblemKind> kinds;
    bool drawsSomething;  // frame 0 of the good sprite
};

// A good 4 x 4 scene "sky" and a good sprite sheet "ball" of two 2 x 2 frames.
const char* const kGoodImages =
    "<image type=\"scene\" name=\"sky\" file=\"sky.txt\" />"
    "<image type=\"sprite\" name=\"ball\" file=\"ball.txt\" sizex=\"2\" sizey=\"2\" />";

std::string ani(const std::string& attributes) { return "<element type=\"ani\" " + attributes + " />"; }

const BadInput kBadInputs[] = {
    {"unknown image name", ani("imagename=\"nothing\" x=\"5\" y=\"9\" fps=\"1\" startframe=\"0\""),
     {WorldProblemKind::NoSuchImage}, false},
    {"scene named by char", "<element type=\"char\" imagename=\"sky\" x=\"5\" y=\"9\" fps=\"1\" startframe=\"0\" />",
     {WorldProblemKind::NotASprite}, false},
    {"scene named by ani", ani("imagename=\"sky\" x=\"5\" y=\"9\" fps=\"1\" startframe=\"0\""),
     {WorldProblemKind::NotASprite}, false},
    {"missing imagename", ani("x=\"5\" y=\"9\" fps=\"1\" startframe=\"0\""),
     {WorldProblemKind::MissingAttribute}, false},
    {"missing element type", "<element imagename=\"ball\" x=\"5\" y=\"9\" />",
     {WorldProblemKind::MissingAttribute}, false},
    {"missing x and y", ani("imagename=\"ball\" fps=\"1\" startframe=\"0\""),
     {WorldProblemKind::MissingAttribute, WorldProblemKind::MissingAttribute}, false},
    {"missing fps", ani("imagename=\"ball\" x=\"5\" y=\"9\" startframe=\"1\""),
     {WorldProblemKind::MissingAttribute}, true},
    {"fps 0", ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"0\" startframe=\"1\""),
     {WorldProblemKind::ZeroFps}, true},
    {"fps below the smallest float", ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"0.0000000000000000000000000000000000000000000000001\" startframe=\"1\""),
     {WorldProblemKind::ZeroFps}, true},
    {"negative fps", ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"-3\" startframe=\"0\""),
     {WorldProblemKind::NegativeFps}, true},
    {"missing startframe", ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"2\""),
     {WorldProblemKind::MissingAttribute}, true},
    {"negative startframe", ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"2\" startframe=\"-2\""),
     {WorldProblemKind::NegativeStartFrame}, true},
    {"infinite frame number", ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"0.0000000000000000000000000000000000000001\" startframe=\"1\""),
     {WorldProblemKind::NoFiniteFrame}, true},
    {"control characters in names", ani("imagename=\"no\\nthing\\there\" x=\"5\" y=\"9\" fps=\"1\" startframe=\"0\""),
     {WorldProblemKind::NoSuchImage}, false},
    {"control characters in values", ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"-5\x1b\" startframe=\"0\""),
     {WorldProblemKind::NegativeFps}, true},
    {"characters outside the depth table", "<image type=\"scene\" name=\"odd\" file=\"odd.txt\" />",
     {WorldProblemKind::ImageFileWarning}, false},
    {"missing image name", "<image type=\"scene\" file=\"sky.txt\" />",
     {WorldProblemKind::MissingAttribute}, false},
    {"missing file", "<image type=\"scene\" name=\"hill\" />",
     {WorldProblemKind::MissingAttribute}, false},
    {"missing image type", "<image name=\"hill\" file=\"sky.txt\" />",
     {WorldProblemKind::MissingAttribute}, false},
    {"sizex 0", "<image type=\"sprite\" name=\"s\" file=\"ball.txt\" sizex=\"0\" sizey=\"2\" />",
     {WorldProblemKind::BadFrameSize}, false},
    {"negative sizey", "<image type=\"sprite\" name=\"s\" file=\"ball.txt\" sizex=\"2\" sizey=\"-2\" />",
     {WorldProblemKind::BadFrameSize}, false},
    {"sizex wider than the sheet", "<image type=\"sprite\" name=\"s\" file=\"ball.txt\" sizex=\"5\" sizey=\"2\" />",
     {WorldProblemKind::FrameLargerThanSheet}, false},
    {"sizey taller than the sheet", "<image type=\"sprite\" name=\"s\" file=\"ball.txt\" sizex=\"2\" sizey=\"3\" />",
     {WorldProblemKind::FrameLargerThanSheet}, false},
    {"missing sizex", "<image type=\"sprite\" name=\"s\" file=\"ball.txt\" sizey=\"2\" />",
     {WorldProblemKind::MissingAttribute}, false},
};

class Problems : public ::testing::TestWithParam<BadInput> {
protected:
    void SetUp() override {
        writeFlatDepthText("sky.txt", 4, 4, '4');
        writeDepthText("ball.txt", {"AAKK", "AAKK"});
        writeDepthText("odd.txt", {"11", "ab", "c1"});
    }
    ScratchFolder folder;
};

TEST_P(Problems, ReportedOnceAndDrawnSafely) {
    const BadInput& bad = GetParam();
    World world;
    // Each bad element names the sprite or scene, possibly drawn from one
    // bad image; the image itself is only catalogued, never drawn.
    const WorldProblems problems = buildFrom(world, std::string("<World>") + kGoodImages + bad.markup + "</World>");
    EXPECT_EQ(kindsOf(problems), bad.kinds);

    DepthMapPtr target = blankMap(32, 32);
    for (int frame = 0; frame < 5; ++frame) {
        world.update(0.37f);
        fillDepthMap(*target, 0);
        world.draw(*target);
    }
    if (bad.drawsSomething) {
        // Frame 0 (depth 11 on band 0, so 9) or frame 1 (21 -> 19) of the
        // sprite, standing with its feet at (5, 9).
        const Rect drawn = nonZeroBox(*target);
        EXPECT_EQ((std::vector<int>{drawn.x, drawn.y, drawn.w, drawn.h}), (std::vector<int>{4, 7, 2, 2}));
    } else {
        EXPECT_TRUE(allZero(*target));
    }
}

INSTANTIATE_TEST_SUITE_P(World, Problems, ::testing::ValuesIn(kBadInputs),
                         [](const ::testing::TestParamInfo<BadInput>& info) {
                             std::string name = info.param.what;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

// The lines as printed: the image or element, then what is wrong, with
// names and values escaped so that each problem stays one line.
TEST(ProblemLines, NameTheImageOrElementAndStayOneLine) {
    ScratchFolder folder;
    writeDepthText("ball.txt", {"AAKK", "AAKK"});
    writeDepthText("odd.txt", {"11", "ab", "c1"});
    World world;
    const WorldProblems problems = buildFrom(world,
        "<World><image type=\"sprite\" name=\"ball\" file=\"ball.txt\" sizex=\"2\" sizey=\"2\" />"
        "<image type=\"scene\" name=\"odd\" file=\"odd.txt\" /><image type=\"scene\" file=\"odd.txt\" />" +
        ani("imagename=\"no\\nthing\\there\" x=\"5\" y=\"9\" fps=\"1\" startframe=\"0\"") +
        ani("imagename=\"ball\" fps=\"-5\x1b\" startframe=\"0\"") + "</World>");
    EXPECT_EQ(linesOf(problems),
              (std::vector<std::string>{
                  "image 2 \"odd\": \"odd.txt\": 3 characters outside the depth table, the first \"a\" at row 2, "
                  "column 1 (line 3 of the file); only space, 1-9, 0 (for 10) and A-U give the depths 0-31",
                  "image 3: missing \"name\"; it is named \"\" (imagename=\"\" shows it)",
                  "image 3: \"odd.txt\": 3 characters outside the depth table, the first \"a\" at row 2, column 1 "
                  "(line 3 of the file); only space, 1-9, 0 (for 10) and A-U give the depths 0-31",
                  "element 1 (ani \"no\\nthing\\there\"): no image named \"no\\nthing\\there\"; nothing is drawn",
                  "element 2 (ani \"ball\"): missing \"x\"; using 0",
                  "element 2 (ani \"ball\"): missing \"y\"; using 0",
                  "element 2 (ani \"ball\"): \"fps\" -5\\x1b is negative; the frames run backwards",
              }));
}

TEST(ProblemsWithFrames, StoppedAnimationShowsFrameZero) {
    ScratchFolder folder;
    writeDepthText("ball.txt", {"AAKK", "AAKK"});
    World world;
    buildFrom(world, std::string("<World>") + kGoodImages + ani("imagename=\"ball\" x=\"5\" y=\"9\" fps=\"0\" startframe=\"1\"") + "</World>");
    DepthMapPtr target = blankMap(32, 32);
    world.update(3.0f);
    world.draw(*target);
    EXPECT_EQ(at(*target, 4, 7), 9);  // frame 0 holds 11, on band 0
}

TEST(ProblemsWithFiles, UnreadableFileNamesTheFile) {
    ScratchFolder folder;
    World world;
    const std::vector<std::string> lines = linesOf(buildFrom(world,
        "<World><image type=\"scene\" name=\"gone\" file=\"gone.txt\" />"
        "<image type=\"sprite\" name=\"odd\" file=\"odd.png\" sizex=\"2\" sizey=\"2\" />"
        "<element type=\"scene\" imagename=\"gone\" x=\"0\" y=\"0\" />"
        "<element type=\"ani\" imagename=\"odd\" x=\"0\" y=\"0\" fps=\"1\" startframe=\"0\" /></World>"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("image 1 \"gone\": cannot read \"gone.txt\"", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("image 2 \"odd\": cannot read \"odd.png\"", 0), 0u) << lines[1];
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_NE(line.find("; nothing is drawn"), std::string::npos) << line;
    }
    // Elements bound to map-less images still count as their users.
    EXPECT_EQ(world.images[0].useCount, 1);
    DepthMapPtr target = blankMap(8, 8);
    world.update(1.0f);
    world.draw(*target);
    EXPECT_TRUE(allZero(*target));
}

// Each file may be large; a description naming large files again and again
// must not add them up past the catalogue's limit.
TEST(ProblemsWithFiles, ImagesPastThePixelBudgetAreNotLoaded) {
    ScratchFolder folder;
    writeDepthText("four.txt", {"1111", "1111"});
    World world(20);
    const WorldProblems problems = buildFrom(world,
        "<World><image type=\"scene\" name=\"a\" file=\"four.txt\" />"
        "<image type=\"scene\" name=\"b\" file=\"four.txt\" />"
        "<image type=\"scene\" name=\"c\" file=\"four.txt\" /></World>");
    ASSERT_EQ(world.images.count(), 2);
    ASSERT_EQ(kindsOf(problems), std::vector<WorldProblemKind>{WorldProblemKind::PastPixelBudget});
    EXPECT_EQ(problemLine(problems[0]),
              "image 3 \"c\": its 8 pixels would take the images past 20 pixels in all; not loaded");
}

// Run in a child whose address space has room for far less than one
// 16384 x 16384 map: a world naming such a file forty times is refused from
// the headers, without allocating; one that may hold it reports the lack of
// memory as a problem of that image, and the other images still load.
TEST(ProblemsWithFiles, BudgetsComeBeforeAllocationAndMemoryRunsOutGracefully) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    ScratchFolder folder;
    writeFile("huge.txt", "16384 16384\n");
    writeDepthText("small.txt", {"12", "34"});
    std::string many = "<World>";
    for (int i = 0; i < 40; ++i) many += "<image type=\"scene\" name=\"h\" file=\"huge.txt\" />";
    many += "</World>";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        limitAddressSpaceOrExit(64u << 20);
        {
            World world(std::int64_t{1} << 20);
            const std::vector<std::string> lines = linesOf(buildFrom(world, many));
            if (lines.size() != 40 || world.images.count() != 0) ::_exit(12);
            if (lines[39] != "image 40 \"h\": its 268435456 pixels would take the images past 1048576 pixels "
                             "in all; not loaded") {
                ::_exit(13);
            }
        }
        World world;
        const std::vector<std::string> lines = linesOf(buildFrom(world,
            "<World><image type=\"scene\" name=\"h\" file=\"huge.txt\" />"
            "<image type=\"scene\" name=\"s\" file=\"small.txt\" /></World>"));
        if (lines != std::vector<std::string>{"image 1 \"h\": cannot read \"huge.txt\": not enough memory for a 16384 x 16384 "
                                   "map; nothing is drawn"}) {
            ::_exit(14);
        }
        ::_exit(world.images.count() == 2 && !world.images[0].map && world.images[1].map ? 0 : 15);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see the numbered exits above";
#endif
}

// A description naming thousands of missing files prints a screenful of
// lines and a count of the rest.
TEST(ProblemsWithFiles, LinesStopAtTheLimitAndCountTheRest) {
    ScratchFolder folder;
    std::string many = "<World>";
    for (std::size_t i = 0; i < kMaxWorldProblemLines + 50; ++i) {
        many += "<image type=\"scene\" name=\"i" + std::to_string(i) + "\" file=\"gone.txt\" />";
    }
    World world;
    const std::vector<std::string> lines = linesOf(buildFrom(world, many + "</World>"));
    ASSERT_EQ(lines.size(), kMaxWorldProblemLines + 1);
    EXPECT_EQ(lines[kMaxWorldProblemLines - 1].rfind("image 100 \"i99\": cannot read \"gone.txt\"", 0), 0u);
    EXPECT_EQ(lines.back(), "50 more problems with images and elements are not shown");
}

// A file is read once per build however often it is named: a later use gets
// the map read first, even when the file has changed since.
TEST(ProblemsWithFiles, EachFileIsReadOnceAndEachUseHasItsOwnMap) {
    ScratchFolder folder;
    writeDepthText("a.txt", {"12", "34"});
    ImageFiles files;
    for (int i = 0; i < 3; ++i) files.expect("a.txt");
    DepthResult first = files.load("a.txt");
    ASSERT_TRUE(first);
    writeDepthText("a.txt", {"99", "99"});  // the same file, rewritten in place
    std::int64_t width = 0;
    std::int64_t height = 0;
    EXPECT_TRUE(files.peekSize("a.txt", width, height));
    EXPECT_EQ(width * height, 4);
    DepthResult second = files.load("a.txt");
    DepthResult third = files.load("a.txt");
    ASSERT_TRUE(second && third);
    EXPECT_NE(second.map->pixels, third.map->pixels);
    for (const DepthResult* r : {&first, &second, &third}) {
        EXPECT_EQ(std::vector<std::uint8_t>(r->map->pixels, r->map->pixels + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    }
    // Past its last counted use the file is read afresh.
    DepthResult again = files.load("a.txt");
    ASSERT_TRUE(again);
    EXPECT_EQ(again.map->pixels[0], 9);
}

// Run in a child with little address space to spare: padded image files
// are read only as far as their declared size needs, and a description
// whose tree does not fit in memory is refused as a whole, never aborting.
TEST(ProblemsWithFiles, PaddedFilesCostTheirSizeAndHugeTreesRunOutGracefully) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    ScratchFolder folder;
    constexpr std::uintmax_t kPadded = 200u << 20;
    writeFile("pad.schm", std::string("\x01\0\0\0\x01\0\0\0\x01\0\0\0\x05", 13));
    std::filesystem::resize_file("pad.schm", kPadded);
    writeFile("pad.txt", std::string(5000, ' ') + "1 1\n7\n");
    std::filesystem::resize_file("pad.txt", kPadded);
    std::string padded = "<World>";
    for (int i = 0; i < 3; ++i) {
        padded += "<image type=\"scene\" name=\"s" + std::to_string(i) + "\" file=\"pad.schm\" />"
                  "<image type=\"scene\" name=\"t" + std::to_string(i) + "\" file=\"pad.txt\" />";
    }
    padded += "</World>";
    {
        std::ofstream huge("huge.xml", std::ios::binary);
        huge << "<World>";
        for (int i = 0; i < 3'000'000; ++i) huge << "<a />";
        huge << "</World>";
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        limitAddressSpaceOrExit(48u << 20);
        {
            World world;
            const WorldProblems lines = buildFrom(world, padded);
            if (!lines.empty() || world.images.count() != 6) ::_exit(12);
            for (const auto& image : world.images) {
                if (!image->map || image->map->area.w != 1 || image->map->area.h != 1) ::_exit(13);
            }
        }
        World world;
        WorldProblems problems;
        if (loadWorld(world, "huge.xml", problems)) ::_exit(14);
        ::_exit(kindsOf(problems) == std::vector<WorldProblemKind>{WorldProblemKind::OutOfMemory} &&
                        problemLine(problems[0]) == "there is not enough memory to read it; the world is empty" &&
                        world.images.empty() && world.elements.empty()
                    ? 0
                    : 15);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see the numbered exits above";
#endif
}

TEST(ProblemsWithMarkup, EveryTruncatedDescriptionBuildsAndDrawsSafely) {
    ScratchFolder folder;
    writeFlatDepthText("sky.txt", 4, 4, '4');
    writeDepthText("ball.txt", {"AAKK", "AAKK"});
    const std::string full =
        "<World>\n"
        "  <image type=\"scene\" name=\"sky\" file=\"sky.txt\" />\n"
        "  <image type=\"sprite\" name=\"ball\" file=\"ball.txt\" sizex=\"2\" sizey=\"2\" />\n"
        "  <element type=\"scene\" imagename=\"sky\" x=\"3\" y=\"4\" />\n"
        "  <element type=\"ani\" imagename=\"ball\" x=\"10\" y=\"20\" fps=\"12.5\" startframe=\"1.5\" />\n"
        "  <element type=\"char\" imagename=\"ball\" x=\"-7\" y=\"900\" fps=\"-3\" startframe=\"-1\" />\n"
        "</World>\n";
    DepthMapPtr target = blankMap(24, 24);
    for (std::size_t n = 0; n <= full.size(); ++n) {
        World world;
        const WorldProblems problems = buildFrom(world, std::string_view(full).substr(0, n));
        for (const std::string& line : linesOf(problems)) EXPECT_EQ(line.find('\n'), std::string::npos) << n;
        world.cameraY = static_cast<std::int32_t>(n % 40);
        world.update(0.1f);
        world.draw(*target);
    }
}

}  // namespace
