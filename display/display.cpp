#include "display/display.hpp"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "display/options.hpp"
#include "markup/text.hpp"
#include "stereo/random.hpp"
#include "stereo/stereogram.hpp"

namespace tolvane {

namespace {

// SDL 1.2 has one video surface per process, so the window stays
// process-wide: its surface, owned by SDL, which frees it in SDL_Quit or on
// the next SDL_SetVideoMode, and the state whose palette it shows.
struct Window {
    SDL_Surface* screen = nullptr;
    const DisplayState* shown = nullptr;
    DesktopSize desktop;  // as found before the window opened
};
Window window;

constexpr int kGreyRampEntries = 32;
constexpr int kGreyRampStep = 8;

// Emscripten's SDL locks every surface, whatever its flags.
bool mustLock([[maybe_unused]] const SDL_Surface* surface) { return SDL_MUSTLOCK(surface); }

// SDL falls back to a driver that shows nothing when it finds no display.
// A user who asked for one by SDL_VIDEODRIVER gets it; anyone else would
// stare at a program that runs and shows nothing, so that is a failure.
bool showsNothing(const char* driver) {
    return std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
}

void failNoDisplay(const char* driver) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(stderr,
                     "Couldn't initialize SDL: no display found (DISPLAY is not set; SDL offered only its \"%s\" "
                     "driver, which shows nothing); set DISPLAY to an X server, or SDL_VIDEODRIVER=dummy to run "
                     "without a window\n",
                     driver);
    } else {
        std::fprintf(stderr,
                     "Couldn't initialize SDL: cannot open the display DISPLAY=%s (SDL offered only its \"%s\" "
                     "driver, which shows nothing); check that its X server is running, or set DISPLAY to another, "
                     "or SDL_VIDEODRIVER=dummy to run without a window\n",
                     escapeForDisplay(display).c_str(), driver);
    }
    SDL_Quit();
    std::exit(1);
}

}  // namespace

PatternSettings patternSettingsFromOptions(const DisplayState& display) {
    PatternSettings settings;
    settings.width = getOption(display, OptionSlot::PatternWidth);
    settings.height = getOption(display, OptionSlot::PatternHeight);
    settings.renewEveryFrame = getOption(display, OptionSlot::PatternEveryFrame) == 1;
    settings.crossEyed = getOption(display, OptionSlot::CrossEyed) != 0;
    settings.echoFree = getOption(display, OptionSlot::EchoFree) != 0;
    return settings;
}

void composeFrame(DisplayState& display, DepthMap& map) {
    if (getOption(display, OptionSlot::DepthView) == 0) {
        renderStereogram(display.stereogram, display.random, map, patternSettingsFromOptions(display));
    }
}

void skipFrame(DisplayState& display) {
    if (getOption(display, OptionSlot::DepthView) == 0) {
        skipStereogram(display.stereogram, display.random, patternSettingsFromOptions(display));
    }
}

int chooseWindowScale(int desktopWidth, int desktopHeight, int width, int height) {
    if (width <= 0 || height <= 0) return 1;
    int scale = std::min(desktopWidth / width, desktopHeight / height);
    return std::clamp(scale, 1, kMaxWindowScale);
}

DesktopSize desktopSize() { return window.desktop; }

void initDisplay(DisplayState& display, int width, int height, int scale) {
    // One seed for the whole run: the palette and the random-dot pattern
    // both draw from this generator.
    seedRandom(display.random, static_cast<std::uint32_t>(std::time(nullptr)));

    // The SDL 1.2 compatibility layer would otherwise present our 640 x 480
    // software surface through an OpenGL scaler, which costs some 85 MiB of
    // resident memory for nothing we use. A user's own setting still wins.
    setenv("SDL12COMPAT_OPENGL_SCALING", "0", 0);
    setenv("SDL_RENDER_DRIVER", "software", 0);
    setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 0);
    // An enlarged window shows each dot as a sharp block: blurred edges
    // would make the dots harder to fuse. The layer reads this in SDL_Init.
    setenv("SDL12COMPAT_SCALE_METHOD", "nearest", 0);

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        std::exit(1);
    }
    const char* chosen = std::getenv("SDL_VIDEODRIVER");
    char driver[64] = "";
    if ((chosen == nullptr || *chosen == '\0') && SDL_VideoDriverName(driver, sizeof driver) != nullptr &&
        showsNothing(driver)) {
        failNoDisplay(driver);
    }

    // The SDL layer enlarges the window and scales our surface into it;
    // mouse positions come back in surface pixels. The desktop size is only
    // known once video is up, and the layer reads the factor when the window
    // opens. A chosen scale wins over the environment; the
    // largest that fits does not override a user's own setting.
    if (const SDL_VideoInfo* info = SDL_GetVideoInfo(); info != nullptr) {
        window.desktop = DesktopSize{info->current_w, info->current_h};
    }
    if (scale <= 0) {
        const DesktopSize desktop = window.desktop;
        scale = desktop.width > 0 ? chooseWindowScale(desktop.width, desktop.height, width, height) : 1;
        setenv("SDL12COMPAT_WINDOW_SCALING", std::to_string(scale).c_str(), 0);
    } else {
        setenv("SDL12COMPAT_WINDOW_SCALING", std::to_string(scale).c_str(), 1);
    }
    // A software surface with its own palette: depth values are palette
    // indexes, so the palette must be ours alone.
    window.screen = SDL_SetVideoMode(width, height, 8, SDL_HWPALETTE);
    if (window.screen == nullptr) {
        std::fprintf(stderr, "Couldn't set display mode: %s\n", SDL_GetError());
        SDL_Quit();
        std::exit(5);
    }
    // SDL hands out the surface uninitialised, and handing it a palette
    // already shows it: start from depth 0 rather than from whatever bytes
    // the heap held.
    // (Emscripten's SDL shows nothing before the first unlock, and cannot
    // fill a palettised surface that has no palette yet.)
#if !defined(__EMSCRIPTEN__)
    SDL_FillRect(window.screen, nullptr, 0);
#endif
    window.shown = &display;
    buildPalette(display, getOption(display, OptionSlot::PaletteFlags));
}

int lockDisplay() {
    if (window.screen == nullptr || !mustLock(window.screen)) {
        return 0;
    }
    if (SDL_LockSurface(window.screen) < 0) {
        std::fprintf(stderr, "Couldn't lock display surface: %s\n", SDL_GetError());
        return -1;
    }
    return 0;
}

DepthMap screenDepthMap() {
    // Rows are taken to lie `w` bytes apart. Every surface has pitch >= w
    // bytes per row, so w x h bytes never pass the pixels SDL allocated; at
    // 8 bits per pixel the two are equal. Without pixels to point at, the map
    // is empty and drawing into it does nothing.
    DepthMap frame;
    if (window.screen == nullptr || window.screen->pixels == nullptr || window.screen->pitch < window.screen->w) {
        return frame;
    }
    frame.pixels = static_cast<std::uint8_t*>(window.screen->pixels);
    frame.area = Rect{0, 0, window.screen->w, window.screen->h};
    return frame;
}

void copyPicture(const DepthMap& map, bool stereogram, PresentedPicture& copy) {
    copy.stereogram = stereogram;
    copy.picture = createDepthMap(map.area.w, map.area.h);
    if (copy.picture && map.pixels != nullptr) {
        std::memcpy(copy.picture->pixels, map.pixels,
                    static_cast<std::size_t>(map.area.w) * static_cast<std::size_t>(map.area.h));
    }
}

void showScreen() {
    if (window.screen == nullptr) {
        return;
    }
    if (mustLock(window.screen)) {
        SDL_UnlockSurface(window.screen);
    }
    SDL_UpdateRect(window.screen, 0, 0, 0, 0);
}

void buildPalette(DisplayState& display, std::int32_t flags) {
    const bool greyRamp = (flags & paletteBits(PaletteFlag::GreyRamp)) != 0;
    const bool greyDots = (flags & paletteBits(PaletteFlag::GreyDots)) != 0;
    for (int index = 0; index < 256; ++index) {
        if (greyRamp && index < kGreyRampEntries) {
            const auto grey = static_cast<std::uint8_t>(index * kGreyRampStep);
            setPaletteEntry(display, index, grey, grey, grey);
            continue;
        }
        // Three draws per entry whatever the flags, so the generator moves
        // on the same way for every colour choice.
        const std::uint8_t red = nextRandomByte(display.random);
        const std::uint8_t green = nextRandomByte(display.random);
        const std::uint8_t blue = nextRandomByte(display.random);
        if (greyDots) {
            setPaletteEntry(display, index, red, red, red);
        } else if (greyRamp) {
            setPaletteEntry(display, index, red, green, blue);
        } else {
            setPaletteEntry(display, index, (flags & paletteBits(PaletteFlag::Red)) != 0 ? red : 0,
                            (flags & paletteBits(PaletteFlag::Green)) != 0 ? green : 0,
                            (flags & paletteBits(PaletteFlag::Blue)) != 0 ? blue : 0);
        }
    }
    // Options are set before the window exists (and in tests and renders
    // without one): the table is then handed over by initDisplay.
    if (window.screen != nullptr && window.shown == &display) {
        SDL_SetColors(window.screen, display.palette.data(), 0, static_cast<int>(display.palette.size()));
    }
}

void setPaletteEntry(DisplayState& display, int index, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (index < 0 || index >= static_cast<int>(display.palette.size())) {
        return;
    }
    SDL_Color& entry = display.palette[static_cast<std::size_t>(index)];
    entry.r = red;
    entry.g = green;
    entry.b = blue;
    entry.unused = 0;
}

const SDL_Color* paletteTable(const DisplayState& display) { return display.palette.data(); }

}  // namespace tolvane
