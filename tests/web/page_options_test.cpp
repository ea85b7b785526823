// The page's URL parameters: what each one sets, and the one line a bad one
// leaves while the rest still apply.

#include "web/page_options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/options.hpp"

using namespace tolvane;

namespace {

TEST(PageQuery, EveryParameterSetsItsOption) {
    const PageOptions page = parsePageQuery(
        "?seed=4000000000&time=2.5&view=depth&camera=-300,25&cross-eyed&pattern-width=96&grey-dots=1"
        "&echo-free=&paused=1&frozen&scale=3");
    EXPECT_TRUE(page.problems.empty()) << page.problems.front();
    EXPECT_TRUE(page.render.seeded);
    EXPECT_EQ(page.render.seed, 4000000000u);
    EXPECT_EQ(page.render.startTime, 2.5);
    EXPECT_TRUE(page.render.depthView);
    EXPECT_TRUE(page.viewGiven);
    EXPECT_EQ(page.render.cameraX, -300);
    EXPECT_EQ(page.render.cameraY, 25);
    EXPECT_TRUE(page.render.crossEyed);
    EXPECT_EQ(page.render.patternWidth, 96);
    EXPECT_TRUE(page.render.greyDots);
    EXPECT_TRUE(page.render.echoFree);
    EXPECT_TRUE(page.paused);
    EXPECT_TRUE(page.frozen);
    EXPECT_EQ(page.scale, 3);
    EXPECT_EQ(page.render.worldFile, "world.xml");
}

TEST(PageQuery, NothingGivenIsTheDemo) {
    for (const char* query : {"", "?", "&&", "?&"}) {
        const PageOptions page = parsePageQuery(query);
        EXPECT_TRUE(page.problems.empty()) << query;
        EXPECT_FALSE(page.render.seeded || page.viewGiven || page.paused || page.frozen) << query;
        EXPECT_EQ(page.scale, 0) << query;
        EXPECT_EQ(page.render.patternWidth, 128) << query;
    }
}

TEST(PageQuery, EscapesAndRepeats) {
    // %2C is the comma, "+" a space (which no number takes); the last of a
    // name wins, a switch set to 0 is off again.
    const PageOptions page = parsePageQuery("camera=5%2C-6&seed=1&seed=2&cross-eyed&cross-eyed=0&view=st%65reo");
    EXPECT_TRUE(page.problems.empty()) << page.problems.front();
    EXPECT_EQ(page.render.cameraX, 5);
    EXPECT_EQ(page.render.cameraY, -6);
    EXPECT_EQ(page.render.seed, 2u);
    EXPECT_FALSE(page.render.crossEyed);
    EXPECT_FALSE(page.render.depthView);
    EXPECT_TRUE(page.viewGiven);
}

TEST(PageQuery, BadParametersAreToldAndIgnored) {
    struct Case {
        const char* query;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"seed=abc", "Ignored seed=abc: seed needs a whole number from 0 to 4294967295, not \"abc\""},
        {"seed=", "Ignored seed=: seed needs a value"},
        {"time", "Ignored time: time needs a value"},
        {"time=1e2", "Ignored time=1e2: time needs seconds from 0 to 1000000 as a plain decimal, not \"1e2\""},
        {"view=stereogram", "Ignored view=stereogram: view needs stereo or depth, not \"stereogram\""},
        {"camera=5", "Ignored camera=5: camera needs two whole numbers as X,Y"},
        {"camera=5,x", "Ignored camera=5,x: camera needs two whole numbers from -1000000000 to 1000000000, not \"x\""},
        {"pattern-width=200", "Ignored pattern-width=200: pattern-width needs a whole number from 64 to 192, not \"200\""},
        {"grey-dots=yes", "Ignored grey-dots=yes: grey-dots takes no value, 1 or 0"},
        {"paused=2", "Ignored paused=2: paused takes no value, 1 or 0"},
        {"scale=0", "Ignored scale=0: scale needs a whole number from 1 to 8"},
        {"scale=2x", "Ignored scale=2x: scale needs a whole number from 1 to 8"},
        {"world=../secret.xml", "Ignored world=../secret.xml: unknown parameter"},
        {"%41=1", "Ignored A=1: unknown parameter"},
    };
    for (const Case& c : cases) {
        const PageOptions page = parsePageQuery(std::string(c.query) + "&seed=9&paused");
        ASSERT_EQ(page.problems.size(), 1u) << c.query;
        EXPECT_EQ(page.problems[0], c.problem);
        // The good ones around it still apply; the bad one changes nothing.
        EXPECT_EQ(page.render.seed, 9u) << c.query;
        EXPECT_TRUE(page.paused) << c.query;
        EXPECT_EQ(page.render.patternWidth, 128) << c.query;
        EXPECT_EQ(page.scale, 0) << c.query;
        EXPECT_FALSE(page.render.greyDots || page.render.depthView || page.viewGiven) << c.query;
    }
}

TEST(PageStatus, TellsTheViewAndSettings) {
    DisplayState display;
    setOption(display, OptionSlot::DepthView, 1);
    setOption(display, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
    EXPECT_EQ(pageStatus(display, false),
              "Depth view | time: running | dots: renewed | palette: grey | pattern width: 128 | cross-eyed: off | "
              "echo-free: off");
    setOption(display, OptionSlot::DepthView, 0);
    setOption(display, OptionSlot::PatternEveryFrame, 0);
    setOption(display, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::Red | PaletteFlag::Green | PaletteFlag::Blue));
    setOption(display, OptionSlot::PatternWidth, 112);
    setOption(display, OptionSlot::CrossEyed, 1);
    setOption(display, OptionSlot::EchoFree, 1);
    EXPECT_EQ(pageStatus(display, true),
              "Stereogram | time: paused | dots: frozen | palette: colours | pattern width: 112 | cross-eyed: on | "
              "echo-free: on");
    setOption(display, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots));
    EXPECT_NE(pageStatus(display, true).find("palette: grey dots"), std::string::npos);
}

}  // namespace
