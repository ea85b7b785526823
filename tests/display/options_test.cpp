// The render option slots: defaults, the byte-wide slot 0, ignored slots and
// the palette rebuild that PaletteFlags triggers.

#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>

#include "display/display.hpp"
#include "display/options.hpp"
#include "display/options_testing.hpp"

using namespace tolvane;

namespace {

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { resetOptions(); }
    void TearDown() override { resetOptions(); }
};

// The eight slots of old, then cross-eyed and echo-free, both off.
constexpr std::array<std::int32_t, 10> kExpectedDefaults = {0, 1, 1, 0, 128, 60, 1, 4, 0, 0};

TEST_F(OptionsTest, DefaultsAtStart) {
    const std::array<std::int32_t, 10> expected = kExpectedDefaults;
    for (std::int32_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(getOption(slot), expected[static_cast<std::size_t>(slot)]) << "slot " << slot;
    }
}

TEST_F(OptionsTest, SlotZeroKeepsTheLowByte) {
    struct Case {
        std::int32_t value;
        std::int32_t stored;
    };
    const Case cases[] = {{0x1234, 0x34}, {-1, 255}, {255, 255}, {256, 0}, {INT_MIN, 0}, {0x7F, 0x7F}};
    for (const Case& c : cases) {
        setOption(0, c.value);
        EXPECT_EQ(getOption(0), c.stored) << "value " << c.value;
    }
}

TEST_F(OptionsTest, SlotsOutsideTheTenAreIgnoredAndReadZero) {
    const std::int32_t outside[] = {-1, 10, 11, INT_MIN, INT_MAX};
    for (std::int32_t slot : outside) {
        setOption(slot, 77);
        EXPECT_EQ(getOption(slot), 0) << "slot " << slot;
    }
    const std::array<std::int32_t, 10> expected = kExpectedDefaults;
    for (std::int32_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(getOption(slot), expected[static_cast<std::size_t>(slot)]) << "slot " << slot;
    }
}

TEST_F(OptionsTest, SettingPaletteFlagsRebuildsThePalette) {
    buildPalette(0);
    setOption(OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
    EXPECT_EQ(getOption(OptionSlot::PaletteFlags), 8);
    EXPECT_EQ(paletteTable()[31].r, 248);
    EXPECT_EQ(paletteTable()[31].b, 248);

    // The same value again still draws new colours above the ramp.
    std::array<SDL_Color, 256> before;
    std::copy(paletteTable(), paletteTable() + 256, before.begin());
    setOption(OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
    int changed = 0;
    for (int i = 32; i < 256; ++i) {
        const SDL_Color& now = paletteTable()[i];
        changed += now.r != before[i].r || now.g != before[i].g || now.b != before[i].b;
    }
    EXPECT_GT(changed, 0);
}

}  // namespace
