#pragma once
// The window, its 8-bit palettised screen surface and the palette.

#include <cstdint>

#include "depth/depth_map.hpp"

struct SDL_Color;

// Opens the display or ends the process (status 1 or 5).
void initDisplay(int width, int height);
int lockDisplay();  // 0 on success or when no lock is needed, -1 on failure
DepthMap& screenDepthMap();
void presentFrame();

void buildPalette(std::int32_t flags);
void setPaletteEntry(int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
const SDL_Color* paletteTable();  // 256 entries
