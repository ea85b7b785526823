#pragma once
// The dummy-driver window shared by every test of this program that needs
// SDL video: SDL may open it once per process.

#include <cstdlib>

#include "display/display.hpp"

using namespace tolvane;

// Opens the window once and gives the display state it was opened with.
inline DisplayState& openDummyDisplayOnce() {
    static DisplayState shown;
    static bool open = false;
    if (!open) {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        initDisplay(shown, 640, 480);
        open = true;
    }
    return shown;
}
