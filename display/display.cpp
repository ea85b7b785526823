// placeholder until the display lands
#include "display/display.hpp"
#include <SDL.h>
namespace { DepthMap frame; SDL_Color palette[256]; }
void initDisplay(int, int) {}
int lockDisplay() { return 0; }
DepthMap& screenDepthMap() { return frame; }
void presentFrame() {}
void buildPalette(std::int32_t) {}
void setPaletteEntry(int, std::uint8_t, std::uint8_t, std::uint8_t) {}
const SDL_Color* paletteTable() { return palette; }
