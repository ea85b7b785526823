#include "display/options.hpp"

#include "display/display.hpp"

namespace tolvane {

namespace {

bool validSlot(std::int32_t slot) { return slot >= 0 && slot < kOptionSlotCount; }

}  // namespace

void setOption(DisplayState& display, std::int32_t slot, std::int32_t value) {
    if (!validSlot(slot)) {
        return;
    }
    // Slot 0 is historically a byte.
    display.options[static_cast<std::size_t>(slot)] = slot == 0 ? (value & 0xFF) : value;
    if (slot == static_cast<std::int32_t>(OptionSlot::PaletteFlags)) {
        buildPalette(display, value);
    }
}

std::int32_t getOption(const DisplayState& display, std::int32_t slot) {
    return validSlot(slot) ? display.options[static_cast<std::size_t>(slot)] : 0;
}

void setOption(DisplayState& display, OptionSlot slot, std::int32_t value) {
    setOption(display, static_cast<std::int32_t>(slot), value);
}

std::int32_t getOption(const DisplayState& display, OptionSlot slot) {
    return getOption(display, static_cast<std::int32_t>(slot));
}

}  // namespace tolvane
