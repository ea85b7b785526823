// The render option slots: defaults, the byte-wide slot 0, ignored slots and
// the palette rebuild that PaletteFlags triggers.

#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>

#include "display/display.hpp"
#include "display/options.hpp"

using namespace tolvane;

namespace {

// Each test sets the slots of a display state of its own.
class OptionsTest : public ::testing::Test {
protected:
    DisplayState display_;
};

// The eight slots of old, then cross-eyed and echo-free, both off.
constexpr std::array<std::int32_t, 10> kExpectedDefaults = {0, 1, 1, 0, 128, 60, 1, 4, 0, 0};

TEST_F(OptionsTest, DefaultsAtStart) {
    const std::array<std::int32_t, 10> expected = kExpectedDefaults;
    for (std::int32_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(getOption(display_, slot), expected[static_cast<std::size_t>(slot)]) << "slot " << slot;
    }
}

TEST_F(OptionsTest, SlotZeroKeepsTheLowByte) {
    struct Case {
        std::int32_t value;
        std::int32_t stored;
    };
    const Case cases[] = {{0x1234, 0x34}, {-1, 255}, {255, 255}, {256, 0}, {INT_MIN, 0}, {0x7F, 0x7F}};
    for (const Case& c : cases) {
        setOption(display_, 0, c.value);
        EXPECT_EQ(getOption(display_, 0), c.stored) << "value " << c.value;
    }
}

TEST_F(OptionsTest, SlotsOutsideTheTenAreIgnoredAndReadZero) {
    const std::int32_t outside[] = {-1, 10, 11, INT_MIN, INT_MAX};
    for (std::int32_t slot : outside) {
        setOption(display_, slot, 77);
        EXPECT_EQ(getOption(display_, slot), 0) << "slot " << slot;
    }
    const std::array<std::int32_t, 10> expected = kExpectedDefaults;
    for (std::int32_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(getOption(display_, slot), expected[static_cast<std::size_t>(slot)]) << "slot " << slot;
    }
}

TEST_F(OptionsTest, SettingPaletteFlagsRebuildsThePalette) {
    buildPalette(display_, 0);
    setOption(display_, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
    EXPECT_EQ(getOption(display_, OptionSlot::PaletteFlags), 8);
    EXPECT_EQ(paletteTable(display_)[31].r, 248);
    EXPECT_EQ(paletteTable(display_)[31].b, 248);

    // The same value again still draws new colours above the ramp.
    std::array<SDL_Color, 256> before;
    std::copy(paletteTable(display_), paletteTable(display_) + 256, before.begin());
    setOption(display_, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
    int changed = 0;
    for (int i = 32; i < 256; ++i) {
        const SDL_Color& now = paletteTable(display_)[i];
        changed += now.r != before[i].r || now.g != before[i].g || now.b != before[i].b;
    }
    EXPECT_GT(changed, 0);
}

}  // namespace
