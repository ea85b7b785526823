// The palette built from its flag bits, and the screen surface seen as the
// frame's depth map, with SDL's dummy video driver.

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/display.hpp"
#include "display/options.hpp"
#include "stereo/stereogram.hpp"
#include "stereo/stereogram_testing.hpp"
#include "stereo/random.hpp"

using namespace tolvane;

namespace {

struct Rgb {
    int r, g, b;
};

Rgb entry(const DisplayState& display, int index) {
    const SDL_Color& c = paletteTable(display)[index];
    return {c.r, c.g, c.b};
}

int randomByte() { return std::rand() & 0xFF; }

// SDL video may be opened once per process; every test that needs the
// window shares it, and the state it shows.
DisplayState& openDisplayOnce() {
    static DisplayState shown;
    static bool open = false;
    if (!open) {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        initDisplay(shown, 640, 480);
        open = true;
    }
    return shown;
}

TEST(Palette, GreyRampIsEightTimesTheIndex) {
    DisplayState display;
    buildPalette(display, paletteBits(PaletteFlag::GreyRamp));
    const int ramp[32] = {0,   8,   16,  24,  32,  40,  48,  56,  64,  72,  80,  88,  96,  104, 112, 120,
                          128, 136, 144, 152, 160, 168, 176, 184, 192, 200, 208, 216, 224, 232, 240, 248};
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(entry(display, i).r, ramp[i]) << i;
        EXPECT_EQ(entry(display, i).g, ramp[i]) << i;
        EXPECT_EQ(entry(display, i).b, ramp[i]) << i;
    }
}

TEST(Palette, AboveTheRampEachEntryTakesTheNextThreeDraws) {
    DisplayState display;
    seedRandom(display.random, 7);
    buildPalette(display, paletteBits(PaletteFlag::GreyRamp));
    std::srand(7);
    for (int i = 32; i < 256; ++i) {
        const int r = randomByte();
        const int g = randomByte();
        const int b = randomByte();
        ASSERT_EQ(entry(display, i).r, r) << i;
        ASSERT_EQ(entry(display, i).g, g) << i;
        ASSERT_EQ(entry(display, i).b, b) << i;
    }
}

TEST(Palette, GreyRampIgnoresTheColourBits) {
    DisplayState display;
    std::array<SDL_Color, 256> rampOnly;
    seedRandom(display.random, 99);
    buildPalette(display, paletteBits(PaletteFlag::GreyRamp));
    std::copy(paletteTable(display), paletteTable(display) + 256, rampOnly.begin());
    seedRandom(display.random, 99);
    buildPalette(display, paletteBits(PaletteFlag::GreyRamp | PaletteFlag::Red | PaletteFlag::Green | PaletteFlag::Blue));
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(entry(display, i).r, rampOnly[i].r) << i;
        EXPECT_EQ(entry(display, i).g, rampOnly[i].g) << i;
        EXPECT_EQ(entry(display, i).b, rampOnly[i].b) << i;
    }
}

TEST(Palette, ColourBitsKeepTheirChannelOfEveryThreeDraws) {
    DisplayState display;
    struct Case {
        std::int32_t flags;
        bool red, green, blue;
    };
    const Case cases[] = {
        // Flags 0: all black, yet the generator still moves three per entry.
        {0, false, false, false}, {1, true, false, false}, {2, false, true, false},
        {4, false, false, true},  {5, true, false, true},  {7, true, true, true},
    };
    for (const Case& c : cases) {
        seedRandom(display.random, 1234);
        buildPalette(display, c.flags);
        const int drawAfter = nextRandomByte(display.random);
        std::srand(1234);
        for (int i = 0; i < 256; ++i) {
            const int r = randomByte();
            const int g = randomByte();
            const int b = randomByte();
            ASSERT_EQ(entry(display, i).r, c.red ? r : 0) << "flags " << c.flags << " entry " << i;
            ASSERT_EQ(entry(display, i).g, c.green ? g : 0) << "flags " << c.flags << " entry " << i;
            ASSERT_EQ(entry(display, i).b, c.blue ? b : 0) << "flags " << c.flags << " entry " << i;
        }
        EXPECT_EQ(randomByte(), drawAfter) << "flags " << c.flags << ": 768 draws, no more";
    }
}

TEST(Palette, GreyDotsAreTheFirstOfEachEntrysThreeDraws) {
    DisplayState display;
    struct Case {
        std::int32_t flags;
        int firstDot;  // entries below it are the grey ramp
    };
    // With the ramp (the B key's 24) or alone, over any colour bits.
    for (const Case c : {Case{24, 32}, Case{16, 0}, Case{16 | 7, 0}, Case{24 | 7, 32}}) {
        seedRandom(display.random, 4321);
        buildPalette(display, c.flags);
        const int drawAfter = nextRandomByte(display.random);
        std::srand(4321);
        for (int i = 0; i < 256; ++i) {
            Rgb expected{i * 8, i * 8, i * 8};
            if (i >= c.firstDot) {
                const int grey = randomByte();
                randomByte();
                randomByte();
                expected = Rgb{grey, grey, grey};
            }
            ASSERT_EQ(entry(display, i).r, expected.r) << "flags " << c.flags << " entry " << i;
            ASSERT_EQ(entry(display, i).g, expected.g) << "flags " << c.flags << " entry " << i;
            ASSERT_EQ(entry(display, i).b, expected.b) << "flags " << c.flags << " entry " << i;
        }
        EXPECT_EQ(randomByte(), drawAfter) << "flags " << c.flags << ": three draws an entry, no more";
    }
}

TEST(Palette, FourthByteStaysZero) {
    DisplayState display;
    for (std::int32_t flags : {0, 7, 8, 15, 24}) {
        buildPalette(display, flags);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(paletteTable(display)[i].unused, 0) << "flags " << flags << " entry " << i;
        }
    }
}

TEST(Palette, SetPaletteEntryWritesOneEntryAndIgnoresBadIndexes) {
    DisplayState display;
    buildPalette(display, 0);
    setPaletteEntry(display, 200, 1, 2, 3);
    setPaletteEntry(display, -1, 9, 9, 9);
    setPaletteEntry(display, 256, 9, 9, 9);
    for (int i = 0; i < 256; ++i) {
        const Rgb expected = i == 200 ? Rgb{1, 2, 3} : Rgb{0, 0, 0};
        EXPECT_EQ(entry(display, i).r, expected.r) << i;
        EXPECT_EQ(entry(display, i).g, expected.g) << i;
        EXPECT_EQ(entry(display, i).b, expected.b) << i;
    }
}

TEST(Display, WindowScaleIsTheLargestWholeFactorThatFits) {
    struct Case {
        int desktopWidth, desktopHeight;
        int scale;
    };
    const Case cases[] = {
        {1920, 1080, 2}, {1024, 768, 1},  {1280, 960, 2},  {1279, 960, 1}, {1280, 959, 1},
        {2560, 1440, 3}, {3840, 2160, 4}, {640, 480, 1},   {639, 479, 1},  {800, 600, 1},
        {0, 0, 1},       {-1, -1, 1},     {100000, 100000, kMaxWindowScale},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chooseWindowScale(c.desktopWidth, c.desktopHeight, 640, 480), c.scale)
            << c.desktopWidth << " x " << c.desktopHeight;
    }
    EXPECT_EQ(chooseWindowScale(1920, 1080, 0, 480), 1) << "an empty surface fits anywhere once";
}

// The death test runs in a fresh process, started anew from the program,
// so that no display is open yet. A cross-built program under an emulator
// cannot be started anew that way: there the emulator asks for the forking
// style (GTEST_DEATH_TEST_STYLE, cmake/aarch64-linux-gnu.cmake) and ctest
// runs every test in a process of its own, which is as fresh.
namespace {
void startDeathTestsAfresh() {
    if (std::getenv("GTEST_DEATH_TEST_STYLE") == nullptr) GTEST_FLAG_SET(death_test_style, "threadsafe");
}
}  // namespace

TEST(DisplayDeathTest, BeforeInitDisplayNothingIsTouched) {
    startDeathTestsAfresh();
    EXPECT_EXIT(
        {
            const DepthMap map = screenDepthMap();
            showScreen();
            const bool empty = map.pixels == nullptr && map.area.w == 0 && map.area.h == 0;
            std::exit(empty && lockDisplay() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(DisplayDeathTest, ImpossibleModeExitsWithStatusFive) {
    startDeathTestsAfresh();
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    DisplayState display;
    EXPECT_EXIT(initDisplay(display, -5, -5), ::testing::ExitedWithCode(5), "^Couldn't set display mode: ");
}

TEST(Display, FrameDepthMapCoversTheScreenPixels) {
    openDisplayOnce();
    SDL_Surface* surface = SDL_GetVideoSurface();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->format->BitsPerPixel, 8);
    ASSERT_EQ(lockDisplay(), 0);
    const DepthMap map = screenDepthMap();
    EXPECT_EQ(map.pixels, surface->pixels);
    EXPECT_EQ(map.area.x, 0);
    EXPECT_EQ(map.area.y, 0);
    EXPECT_EQ(map.area.w, 640);
    EXPECT_EQ(map.area.h, 480);
    EXPECT_EQ(map.storage, nullptr);
}

TEST(Display, PaletteIsHandedToTheScreen) {
    DisplayState& display = openDisplayOnce();
    for (const PaletteFlag flags : {PaletteFlag::GreyRamp, PaletteFlag::Red | PaletteFlag::Green | PaletteFlag::Blue}) {
        setOption(display, OptionSlot::PaletteFlags, paletteBits(flags));
        const SDL_Palette* screenPalette = SDL_GetVideoSurface()->format->palette;
        ASSERT_NE(screenPalette, nullptr);
        ASSERT_EQ(screenPalette->ncolors, 256);
        // Another engine's palette never reaches the window.
        DisplayState other;
        buildPalette(other, paletteBits(PaletteFlag::Blue));
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(screenPalette->colors[i].r, paletteTable(display)[i].r) << i;
            ASSERT_EQ(screenPalette->colors[i].g, paletteTable(display)[i].g) << i;
            ASSERT_EQ(screenPalette->colors[i].b, paletteTable(display)[i].b) << i;
        }
    }
}

TEST(Display, DepthViewPresentsTheDepthMapUnchanged) {
    openDisplayOnce();
    DisplayState display;
    setOption(display, OptionSlot::DepthView, 1);
    ASSERT_EQ(lockDisplay(), 0);
    DepthMap map = screenDepthMap();
    for (std::int32_t i = 0; i < 640 * 480; ++i) {
        map.pixels[i] = static_cast<std::uint8_t>(i % 32);
    }
    composeFrame(display, map);
    showScreen();
    for (std::int32_t i = 0; i < 640 * 480; ++i) {
        ASSERT_EQ(map.pixels[i], i % 32) << i;
    }
}

// The pattern's size comes from the option slots when it is made, and the
// dots are renewed only while PatternEveryFrame is exactly 1.
TEST(Display, StereogramViewTilesThePatternOfTheOptionsOverFlatDepth) {
    openDisplayOnce();
    struct Case {
        std::int32_t everyFrame;
        bool renewed;
    };
    const Case cases[] = {{1, true}, {0, false}, {2, false}, {-1, false}};
    for (const Case& c : cases) {
        DisplayState display;
        setOption(display, OptionSlot::PatternWidth, 100);
        setOption(display, OptionSlot::PatternHeight, 7);
        setOption(display, OptionSlot::PatternEveryFrame, c.everyFrame);
        ASSERT_EQ(lockDisplay(), 0);
        DepthMap map = screenDepthMap();
        std::memset(map.pixels, 0, 640 * 480);
        composeFrame(display, map);
        showScreen();
        const DepthMap* pattern = currentPattern(display.stereogram);
        ASSERT_NE(pattern, nullptr);
        ASSERT_EQ(pattern->area.w, 100);
        ASSERT_EQ(pattern->area.h, 7);
        for (std::int32_t y = 0; y < 480; ++y) {
            for (std::int32_t x = 0; x < 640; ++x) {
                ASSERT_EQ(map.pixels[y * 640 + x], pattern->pixels[(y % 7) * 100 + x % 100])
                    << "x " << x << " y " << y;
            }
        }
        const std::vector<std::uint8_t> first(pattern->pixels, pattern->pixels + 700);
        composeFrame(display, map);
        EXPECT_EQ(!std::equal(first.begin(), first.end(), currentPattern(display.stereogram)->pixels), c.renewed) << c.everyFrame;
    }
}

}  // namespace
