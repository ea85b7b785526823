#pragma once
// The render option slots.

#include <array>
#include <cstdint>

namespace tolvane {

struct DisplayState;

// The named slots; 0 to 2 are reserved: stored and read back, used by nothing.
enum class OptionSlot : std::int32_t {
    DepthView = 3,          // nonzero: show the depth map itself, not the stereogram
    PatternWidth = 4,       // of the random-dot pattern, when it is made
    PatternHeight = 5,
    PatternEveryFrame = 6,  // exactly 1: new dots on every stereogram frame
    PaletteFlags = 7,       // PaletteFlag bits; setting the slot rebuilds the palette
    CrossEyed = 8,          // nonzero: near stays near for a viewer who crosses the eyes
    EchoFree = 9,           // nonzero: the stereogram without repeated echoes of edges
};

// The eye separation keys step PatternWidth within these bounds: narrower
// than 64 leaves too little room for 32 depth levels, wider than 192 is
// more than most viewers' eyes can span at a normal distance.
inline constexpr std::int32_t kMinPatternWidth = 64;
inline constexpr std::int32_t kMaxPatternWidth = 192;
inline constexpr std::int32_t kPatternWidthStep = 16;

// How many slots there are: the eight of old and the viewing aids after them.
inline constexpr std::int32_t kOptionSlotCount = 10;

// Bits of the PaletteFlags slot. GreyRamp overrides the three colour bits
// for entries 0-31; GreyDots overrides them everywhere else, making each
// entry a grey of its first random draw.
enum class PaletteFlag : std::int32_t {
    Red = 1,
    Green = 2,
    Blue = 4,
    GreyRamp = 8,
    GreyDots = 16,
};

constexpr PaletteFlag operator|(PaletteFlag a, PaletteFlag b) {
    return static_cast<PaletteFlag>(static_cast<std::int32_t>(a) | static_cast<std::int32_t>(b));
}
// The flags as the slot and buildPalette hold them.
constexpr std::int32_t paletteBits(PaletteFlag flags) { return static_cast<std::int32_t>(flags); }

using OptionSlots = std::array<std::int32_t, kOptionSlotCount>;

// The slots at start-up.
inline constexpr OptionSlots kDefaultOptions = {0, 1, 1, 0, 128, 60, 1, paletteBits(PaletteFlag::Blue), 0, 0};

// The slots of `display`. Slot numbers outside 0..kOptionSlotCount - 1 are
// ignored by setOption and read as 0 by getOption. Slot 0 keeps only the
// low 8 bits. Setting PaletteFlags rebuilds the display's palette, also when
// the value is the one it already holds.
void setOption(DisplayState& display, std::int32_t slot, std::int32_t value);
std::int32_t getOption(const DisplayState& display, std::int32_t slot);
void setOption(DisplayState& display, OptionSlot slot, std::int32_t value);
std::int32_t getOption(const DisplayState& display, OptionSlot slot);

}  // namespace tolvane
