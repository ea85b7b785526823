#pragma once
// The window, its 8-bit palettised screen surface and the palette.
//
// The frame's depth map lies directly in the screen surface, so a depth value
// is also a palette index: in the depth view the palette is what shows it.

#include <SDL.h>

#include <array>
#include <cstdint>

#include "depth/depth_map.hpp"
#include "display/options.hpp"
#include "stereo/random.hpp"
#include "stereo/stereogram.hpp"

namespace tolvane {

using SdlPalette = std::array<SDL_Color, 256>;

// What a picture is drawn with: the option slots, the palette, the random
// generator that both the palette and the dots draw from, and the
// stereogram's pattern. An engine owns one; the window, when open, is
// shown with the palette of the state handed to initDisplay.
struct DisplayState {
    OptionSlots options = kDefaultOptions;
    SdlPalette palette{};
    RandomGenerator random;
    StereogramState stereogram;
};

// Largest window enlargement: 640 x 8 is wider than any common desktop.
inline constexpr int kMaxWindowScale = 8;

// The largest whole factor k for which a width*k x height*k window fits a
// desktop of the given size, from 1 (also for an unknown or small desktop)
// to kMaxWindowScale.
int chooseWindowScale(int desktopWidth, int desktopHeight, int width, int height);

struct DesktopSize {
    int width = 0;  // 0 x 0: not known
    int height = 0;
};

// The desktop's size as initDisplay found it, before its window opened.
DesktopSize desktopSize();

// Seeds `display`'s generator from the clock, opens SDL video and a width x
// height x 8 surface shown in a window `scale` times as large (0: the
// largest that fits the desktop), and builds `display`'s palette from its
// PaletteFlags. There is one window per process. Returns only when
// the display is open: otherwise it reports on stderr and ends the process
// with status 1 (SDL_Init failed, or no display and only a driver that shows
// nothing, unless SDL_VIDEODRIVER chose it) or 5 (no video mode).
void initDisplay(DisplayState& display, int width, int height, int scale = 1);

// Locks the screen surface when SDL requires it. 0 on success or when no
// lock is needed, -1 (after a message on stderr) when the lock failed; the
// surface must then not be written.
int lockDisplay();

// The frame's depth map over the screen pixels, as the surface holds them
// now. Before initDisplay it is empty.
DepthMap screenDepthMap();

// What the stereogram renderer needs of the option slots: the pattern's
// size, whether to renew it (only exactly 1 renews), the cross-eyed and
// echo-free switches.
PatternSettings patternSettingsFromOptions(const DisplayState& display);

// The picture for a frame whose depths `map` holds, in place: the
// stereogram made with patternSettingsFromOptions unless DepthView is set,
// else the depth map as it is. The window and the headless renderer both
// make their pictures this way.
void composeFrame(DisplayState& display, DepthMap& map);
// What composeFrame does to the pattern and the generator, without a
// picture (skipStereogram), so that a later frame comes out as it would.
void skipFrame(DisplayState& display);

// A copy of the picture a frame showed: palette indexes, 640 x 480 in
// the demo; `picture` stays null when memory could not be had.
struct PresentedPicture {
    DepthMapPtr picture;
    bool stereogram = false;  // the stereogram view, not the depth view
};

// A copy of `picture` into `copy`, `stereogram` telling the view.
void copyPicture(const DepthMap& picture, bool stereogram, PresentedPicture& copy);

// Unlocks the screen and shows the whole surface, as the step left it.
// Does nothing before initDisplay.
void showScreen();

// Fills `display`'s 256-entry palette table from the flag bits
// (PaletteFlag), drawing from its generator, and hands it to SDL when the
// window shows this state. Each entry costs three random draws unless it is
// part of the grey ramp; a grey dot is the first draw.
void buildPalette(DisplayState& display, std::int32_t flags);

// Writes one table entry; SDL is not told. Indexes outside 0..255 are ignored.
void setPaletteEntry(DisplayState& display, int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue);

const SDL_Color* paletteTable(const DisplayState& display);  // 256 entries

}  // namespace tolvane
