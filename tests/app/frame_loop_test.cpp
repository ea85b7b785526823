// One frame of the demo with SDL's dummy driver: the caption, what a frame
// does when the screen could not be locked, and the loop's frame-count hook.

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/frame_clock.hpp"
#include "app/frame_loop.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"
#include "tests/app/test_display.hpp"
#include "tests/app/test_picture.hpp"

using namespace tolvane;

namespace {

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string windowTitle() {
    char* title = nullptr;
    char* icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    return title == nullptr ? std::string("(none)") : std::string(title);
}

SDL_Event keyDown(SDLKey sym) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = sym;
    return e;
}

// Frames run the world step, which reads "world.xml" from the working
// directory: run them in an empty one.
class FrameLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane_frame_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        openDummyDisplayOnce();
    }
    // A loop as the demo starts it: depth view, clock primed.
    static void startLoop(FrameLoop& loop) {
        setOption(loop.engine.display, OptionSlot::DepthView, 1);
        updateFrameTime(loop.engine.clock);
    }
    void TearDown() override {
        SDL_Event e;
        while (SDL_PollEvent(&e) != 0) {
        }
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

TEST(Caption, PrefixThenRateWithFourFractionDigitsChangedOnlyWhenTheTextDoes) {
    struct Case {
        double rate;
        const char* caption;
        bool changed;
    };
    const Case cases[] = {
        {0.0, "Tolvane Engine Demo - By Harwick - FPS: 0.0000", true},  // paused, or no reading yet
        {0.0, "Tolvane Engine Demo - By Harwick - FPS: 0.0000", false},
        {2.0, "Tolvane Engine Demo - By Harwick - FPS: 2", true},
        {62.5, "Tolvane Engine Demo - By Harwick - FPS: 62.5", true},
        {62.50001, "Tolvane Engine Demo - By Harwick - FPS: 62.5000", true},
        {62.50002, "Tolvane Engine Demo - By Harwick - FPS: 62.5000", false},
        {1000.0 / 3.0, "Tolvane Engine Demo - By Harwick - FPS: 333.3333", true},
        {0.5, "Tolvane Engine Demo - By Harwick - FPS: 0.5", true},
    };
    TextBuffer caption;
    for (const Case& c : cases) {
        EXPECT_EQ(rebuildCaption(caption, c.rate), c.changed) << c.rate;
        EXPECT_STREQ(caption.data(), c.caption) << c.rate;
    }
}

TEST(FrameCap, NextFrameKeepsTheBeatWithoutCatchingUp) {
    struct Case {
        const char* name;
        std::int64_t due;
        std::int64_t now;
        int maxFps;
        std::int64_t next;
    };
    const Case cases[] = {
        {"uncapped: at once", 1000, 1500, 0, 1500},
        {"early frame waits for its slot", 0, 5'000'000, 50, 20'000'000},
        {"slots follow the beat, not the frame's end", 20'000'000, 21'000'000, 50, 40'000'000},
        {"a late frame starts the next at once", 0, 30'000'000, 50, 30'000'000},
        {"1000 a second", 7, 7, 1000, 1'000'007},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nextFrameDue(c.due, c.now, c.maxFps), c.next) << c.name;
    }
}

TEST(ExitAfterFrames, OnlyPlainDecimalCountsAreTaken) {
    struct Case {
        const char* text;
        std::int64_t frames;
    };
    const Case cases[] = {
        {nullptr, -1}, {"", -1},   {"0", 0},   {"1", 1},     {"250", 250},  {"007", 7},
        {"-1", -1},    {"+3", -1}, {" 3", -1}, {"3 ", -1},   {"12x", -1},   {"0x10", -1},
        {"999999999999999999", 999999999999999999}, {"9999999999999999999", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exitAfterFramesFrom(c.text), c.frames) << (c.text == nullptr ? "(unset)" : c.text);
    }
}

TEST_F(FrameLoopTest, PausedFrameCaptionReadsZeroRate) {
    SDL_Event p = keyDown(SDLK_p);
    ASSERT_EQ(SDL_PushEvent(&p), 0);
    FrameLoop loop;
    startLoop(loop);
    runFrame(loop);  // P is read at the end of this frame and applied by the next
    EXPECT_EQ(loop.engine.clock.timeScale, 1.0f);
    runFrame(loop);
    EXPECT_EQ(loop.engine.clock.timeScale, 0.0f);
    EXPECT_EQ(loop.engine.clock.frameDt, 0.0f);
    EXPECT_EQ(windowTitle(), "Tolvane Engine Demo - By Harwick - FPS: 0.0000");
    char* title = nullptr;
    char* icon = nullptr;
    SDL_WM_GetCaption(&title, &icon);
    ASSERT_NE(icon, nullptr);
    EXPECT_STREQ(icon, "");

    // The same text is not handed to SDL again.
    SDL_WM_SetCaption("stale", "");
    runFrame(loop);
    EXPECT_EQ(windowTitle(), "stale");
}

TEST_F(FrameLoopTest, UnlockedFrameNeitherDrawsNorPresentsButHandlesInput) {
    DepthMap map = screenDepthMap();
    ASSERT_NE(map.pixels, nullptr);
    std::memset(map.pixels, 7, 640 * 480);
    SDL_Event escape = keyDown(SDLK_ESCAPE);
    ASSERT_EQ(SDL_PushEvent(&escape), 0);
    FrameLoop loop;
    startLoop(loop);
    loop.command.add(Action::Screenshot);
    SDL_WM_SetCaption("stale", "");

    runFrameAfterLock(loop, false);

    EXPECT_TRUE(loop.input.quitRequested);
    EXPECT_TRUE(loop.engine.screenshotRequested) << "the screenshot waits for a drawn frame";
    EXPECT_FALSE(std::filesystem::exists(dir_ / "screenshot.bmp"));
    EXPECT_EQ(windowTitle().rfind("Tolvane Engine Demo - By Harwick - FPS: ", 0), 0u);
    for (std::int32_t i = 0; i < 640 * 480; ++i) {
        ASSERT_EQ(map.pixels[i], 7) << i;
    }
}

TEST_F(FrameLoopTest, LockedFrameDrawsTheWorldStepAndAnswersTheScreenshotRequest) {
    DepthMap map = screenDepthMap();
    ASSERT_NE(map.pixels, nullptr);
    std::memset(map.pixels, 7, 640 * 480);
    FrameLoop loop;
    startLoop(loop);
    loop.command.add(Action::Screenshot);
    runFrameAfterLock(loop, true);
    // No "world.xml" here: the step leaves the cleared map, shown as is in
    // the depth view.
    for (std::int32_t i = 0; i < 640 * 480; ++i) {
        ASSERT_EQ(map.pixels[i], 0) << i;
    }
    EXPECT_FALSE(loop.input.quitRequested);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "screenshot.bmp"));
    EXPECT_FALSE(loop.engine.screenshotRequested) << "one drawn frame answers the request";

    std::filesystem::remove(dir_ / "screenshot.bmp");
    runFrameAfterLock(loop, true);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "screenshot.bmp"));
}

// K in the stereogram view also saves the picture shown, palette applied,
// under the first free number, never over a file already there; in the
// depth view only the depth map is saved.
TEST_F(FrameLoopTest, KeyKInTheStereogramSavesThePictureShown) {
    FrameLoop loop;
    startLoop(loop);
    setOption(loop.engine.display, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots));
    std::ofstream(dir_ / "stereogram-0001.png") << "mine";
    runFrameAfterLock(loop, true);  // depth view
    EXPECT_FALSE(std::filesystem::exists(dir_ / "stereogram-0002.png"));

    loop.command.add(Action::ToggleDepthView);
    for (const char* name : {"stereogram-0002.png", "stereogram-0003.png"}) {
        loop.command.add(Action::Screenshot);
        testing::internal::CaptureStdout();
        runFrameAfterLock(loop, true);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Saved ") + name + "\n");
        const RgbPicture saved = readPng(fileBytes(dir_ / name));
        ASSERT_TRUE(saved.read) << name;
        EXPECT_TRUE(saved.indexed256);
        const SDL_Color* palette = paletteTable(loop.engine.display);
        EXPECT_EQ(saved.rgb, rgbOf(screenDepthMap(), [palette](std::uint8_t i) {
                      return std::array<int, 3>{palette[i].r, palette[i].g, palette[i].b};
                  })) << name;
        EXPECT_TRUE(std::filesystem::exists(dir_ / "screenshot.bmp"));
    }
    EXPECT_EQ(fileBytes(dir_ / "stereogram-0001.png"), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
}

TEST_F(FrameLoopTest, LoopEndsAfterTheRequestedFrameCount) {
    struct Case {
        std::int64_t exitAfter;
        std::int64_t framesRun;
    };
    const Case cases[] = {{3, 3}, {1, 1}, {0, 1}};
    for (const Case& c : cases) {
        FrameLoop loop;
        startLoop(loop);
        loop.exitAfterFrames = c.exitAfter;
        runFrameLoop(loop);
        EXPECT_EQ(loop.framesRun, c.framesRun) << c.exitAfter;
        EXPECT_TRUE(loop.input.quitRequested);
    }
}

TEST_F(FrameLoopTest, EscapeEndsTheLoopAfterItsFrame) {
    SDL_Event escape = keyDown(SDLK_ESCAPE);
    ASSERT_EQ(SDL_PushEvent(&escape), 0);
    FrameLoop loop;
    startLoop(loop);
    runFrameLoop(loop);
    EXPECT_EQ(loop.framesRun, 1);
}

}  // namespace
