#include "display/options.hpp"

#include <array>

#include "display/display.hpp"
#include "display/options_testing.hpp"

namespace tolvane {

namespace {

constexpr std::array<std::int32_t, kOptionSlotCount> kDefaults = {
    0, 1, 1, 0, 128, 60, 1, paletteBits(PaletteFlag::Blue), 0, 0};
std::array<std::int32_t, kOptionSlotCount> slots = kDefaults;

bool validSlot(std::int32_t slot) { return slot >= 0 && slot < static_cast<std::int32_t>(slots.size()); }

}  // namespace

void setOption(std::int32_t slot, std::int32_t value) {
    if (!validSlot(slot)) {
        return;
    }
    // Slot 0 is historically a byte.
    slots[static_cast<std::size_t>(slot)] = slot == 0 ? (value & 0xFF) : value;
    if (slot == static_cast<std::int32_t>(OptionSlot::PaletteFlags)) {
        buildPalette(value);
    }
}

std::int32_t getOption(std::int32_t slot) {
    return validSlot(slot) ? slots[static_cast<std::size_t>(slot)] : 0;
}

void setOption(OptionSlot slot, std::int32_t value) { setOption(static_cast<std::int32_t>(slot), value); }

std::int32_t getOption(OptionSlot slot) { return getOption(static_cast<std::int32_t>(slot)); }

void resetOptions() { slots = kDefaults; }

}  // namespace tolvane
