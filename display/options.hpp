#pragma once
// The eight render option slots.

#include <cstdint>

enum OptionSlot : std::int32_t {
    DepthView = 3,
    PatternWidth = 4,
    PatternHeight = 5,
    PatternEveryFrame = 6,
    PaletteFlags = 7,
};

enum PaletteFlagBits : std::int32_t {
    PaletteRed = 1,
    PaletteGreen = 2,
    PaletteBlue = 4,
    PaletteGreyRamp = 8,
};

// Slots outside 0..7 are ignored by setOption and read as 0 by getOption.
// Setting PaletteFlags rebuilds the palette.
void setOption(std::int32_t slot, std::int32_t value);
std::int32_t getOption(std::int32_t slot);
void resetOptions();  // back to the start-up defaults (tests)
