// The command line as a table: each argument list and the mode, world,
// file, options or one-line complaint it gives; and the usage text's
// promises.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.hpp"

using namespace tolvane;

namespace {

struct Case {
    std::vector<const char*> arguments;  // after the program name
    RunMode mode;
    const char* worldFile = "world.xml";
    const char* convertFile = "";
    int scale = 0;
    int maxFps = 0;
    const char* error = "";
};

CommandLine parse(const std::vector<const char*>& arguments) {
    std::vector<const char*> argv{"tolvane"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(nullptr);
    return parseCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
}

std::string joined(const std::vector<const char*>& arguments) {
    std::string text;
    for (const char* a : arguments) text += std::string("[") + a + "]";
    return text;
}

TEST(CommandLine, ArgumentsToModeAndOptions) {
    const Case cases[] = {
        {{}, RunMode::Demo},
        {{"hill.txt"}, RunMode::Convert, "world.xml", "hill.txt"},
        {{"HILL.BMP"}, RunMode::Convert, "world.xml", "HILL.BMP"},  // says "Done"
        {{"maps/hill.xml.bmp"}, RunMode::Convert, "world.xml", "maps/hill.xml.bmp"},
        {{"a.txt", "b.txt"}, RunMode::Demo},  // two names run the demo, as always
        {{"lake/world.xml"}, RunMode::Demo, "lake/world.xml"},
        {{"/abs/Lake.xml", "--scale", "1"}, RunMode::Demo, "/abs/Lake.xml", "", 1},
        {{"lake.xml", "hill.txt"}, RunMode::Demo, "lake.xml"},
        {{"hill.txt", "--scale", "2"}, RunMode::Convert, "world.xml", "hill.txt", 2},
        {{"--scale", "2", "--max-fps", "60"}, RunMode::Demo, "world.xml", "", 2, 60},
        {{"--scale", "8", "--scale", "3"}, RunMode::Demo, "world.xml", "", 3},  // the last one counts
        {{"--max-fps", "1000"}, RunMode::Demo, "world.xml", "", 0, 1000},
        {{"--", "-odd.txt"}, RunMode::Convert, "world.xml", "-odd.txt"},
        {{"-h"}, RunMode::Help},
        {{"--scale", "2", "--help"}, RunMode::Help},
        {{"--help", "--bogus"}, RunMode::Help},
        {{"--version"}, RunMode::Version},
        {{"--render", "out.png", "--frames", "3"}, RunMode::Render},
        {{"-x"}, RunMode::Error, "world.xml", "", 0, 0, "unknown option -x"},
        {{"-"}, RunMode::Error, "world.xml", "", 0, 0, "unknown option -"},
        {{"hill.txt", "--Help"}, RunMode::Error, "world.xml", "", 0, 0, "unknown option --Help"},
        {{"--scale=2"}, RunMode::Error, "world.xml", "", 0, 0, "unknown option --scale=2"},
        {{"--scale"}, RunMode::Error, "world.xml", "", 0, 0, "--scale needs a whole number from 1 to 8"},
        {{"--scale", "0"}, RunMode::Error, "world.xml", "", 0, 0,
         "--scale needs a whole number from 1 to 8, not \"0\""},
        {{"--scale", "9"}, RunMode::Error, "world.xml", "", 0, 0,
         "--scale needs a whole number from 1 to 8, not \"9\""},
        {{"--scale", "2.5"}, RunMode::Error, "world.xml", "", 0, 0,
         "--scale needs a whole number from 1 to 8, not \"2.5\""},
        {{"--scale", "-1"}, RunMode::Error, "world.xml", "", 0, 0,
         "--scale needs a whole number from 1 to 8, not \"-1\""},
        {{"--max-fps", ""}, RunMode::Error, "world.xml", "", 0, 0,
         "--max-fps needs a whole number from 1 to 1000, not \"\""},
        {{"--max-fps", "99999999999"}, RunMode::Error, "world.xml", "", 0, 0,
         "--max-fps needs a whole number from 1 to 1000, not \"99999999999\""},
        {{"--max-fps", "+60"}, RunMode::Error, "world.xml", "", 0, 0,
         "--max-fps needs a whole number from 1 to 1000, not \"+60\""},
        {{"a.xml", "b.xml"}, RunMode::Error, "world.xml", "", 0, 0, "two worlds given: a.xml and b.xml"},
        {{"--scale", "2", "--render", "out.png"}, RunMode::Error, "world.xml", "", 0, 0,
         "--render must be the first argument"},
        {{"--world", "w.xml", "--render", "x.png"}, RunMode::Error, "world.xml", "", 0, 0,
         "--render must be the first argument, before --world"},
        {{"--bogus", "--", "--render"}, RunMode::Error, "world.xml", "", 0, 0, "unknown option --bogus"},
    };
    for (const Case& c : cases) {
        const CommandLine got = parse(c.arguments);
        const std::string label = joined(c.arguments);
        EXPECT_EQ(got.mode, c.mode) << label;
        EXPECT_EQ(got.error, c.error) << label;
        if (c.mode == RunMode::Error || c.mode == RunMode::Help || c.mode == RunMode::Version) continue;
        EXPECT_EQ(got.worldFile, c.worldFile) << label;
        EXPECT_EQ(got.convertFile, c.convertFile) << label;
        EXPECT_EQ(got.scale, c.scale) << label;
        EXPECT_EQ(got.maxFps, c.maxFps) << label;
    }
}

// The one whole-number reader of every mode: a minus only where the range
// goes below 0 (no option of the demo has such a range, --camera does).
TEST(CommandLine, WholeNumbersTakeASignOnlyWhereTheRangeGoesBelowZero) {
    int value = 7;
    EXPECT_FALSE(readWholeNumber("-0", 0, 5, value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(readWholeNumber("0", 0, 5, value));
    EXPECT_EQ(value, 0);
    long long offset = 0;
    EXPECT_TRUE(readWholeNumber("-3", -5LL, 5LL, offset));
    EXPECT_EQ(offset, -3);
    EXPECT_FALSE(readWholeNumber("-6", -5LL, 5LL, offset));
    unsigned seed = 1;
    EXPECT_FALSE(readWholeNumber("-0", 0u, 9u, seed));
    EXPECT_EQ(seed, 1u);
}

TEST(CommandLine, RenderArgumentsAreTheRenderersOwn) {
    const CommandLine bogus = parse({"--render", "--bogus", "x.xml"});
    EXPECT_EQ(bogus.mode, RunMode::Error);
    EXPECT_EQ(bogus.error, "unknown renderer option --bogus");
    const CommandLine world = parse({"--render", "x.png", "--world", "w.xml"});
    EXPECT_EQ(world.mode, RunMode::Render);
    EXPECT_EQ(world.render.worldFile, "w.xml");
    EXPECT_EQ(world.worldFile, "world.xml") << "the demo's world is not the renderer's";

    // The same reading for the renderer's arguments alone.
    const char* alone[] = {"x.png", "--jobs", "2"};
    RenderOptions options;
    std::string error;
    ASSERT_TRUE(parseRenderArguments(3, alone, options, error));
    EXPECT_EQ(options.jobs, 2);
    EXPECT_EQ(options.output, "x.png");
    const char* bad[] = {"x.png", "--jobs"};
    EXPECT_FALSE(parseRenderArguments(2, bad, options, error));
    EXPECT_EQ(error, "--jobs needs a value");
}

TEST(CommandLine, UsageNamesEveryModeOptionAndKey) {
    std::ostringstream out;
    printUsage(out);
    const std::string usage = out.str();
    for (const char* promise :
         {"tolvane [--scale K] [--max-fps N] [WORLD.xml]", "tolvane FILE",
          "tolvane --render OUT [--world FILE] [--view stereo|depth] [--camera X Y] [--time T] [--frames N] "
          "[--fps F] [--seed S] [--cross-eyed] [--pattern-width P] [--grey-dots] [--echo-free] "
          "[--first-frame K] [--jobs J]\n"
          "      render frames to PNG or BMP files without a window\n",
          "tolvane --render OUT --depth FILE [--pattern-width P | --texture PICTURE.png] [--depth-levels L] "
          "[--frames N] [--seed S] [--cross-eyed] [--grey-dots] [--echo-free] [--guide-dots]\n",
          ".bmp or .png to .schm and .scmhm",
          "-h | --help", "--version", "  S ", "  R ", "  C ", "  G ", "  P ", "  K ", "  Q ", "  X ", "  [ ]",
          "  B ", "  Esc ", "arrow keys (16 pixels a press)"}) {
        EXPECT_NE(usage.find(promise), std::string::npos) << promise;
    }
    std::ostringstream version;
    printVersion(version);
    EXPECT_EQ(version.str(), "Tolvane 1.1.0\n");
}

}  // namespace
