#pragma once
// The page's URL parameters: the renderer's options, plus how the page
// starts (paused, dots frozen) and how large it draws the canvas.

#include <string>
#include <string_view>
#include <vector>

#include "app/render.hpp"
#include "display/display.hpp"

namespace tolvane {

struct PageOptions {
    // seed, time, view, camera=X,Y, cross-eyed, pattern-width, grey-dots and
    // echo-free, read as --render reads them; `output` is unused.
    RenderOptions render;
    bool viewGiven = false;  // without view= the page starts in the depth view, as the demo does
    bool paused = false;     // as P pressed before the first frame
    bool frozen = false;     // as R pressed right after the first stereogram frame
    int scale = 0;           // canvas enlargement 1 to kMaxWindowScale; 0: the largest that fits
    // One line per parameter that was ignored, saying why.
    std::vector<std::string> problems;
};

// Reads a query string such as "?seed=7&view=stereo" (the "?" is optional;
// "+" and %XX escapes are decoded). Switches (cross-eyed, grey-dots,
// echo-free, paused, frozen) take no value, 1 or 0. A parameter that is
// unknown or has a bad value is ignored with a line in `problems`; a later
// one of the same name replaces an earlier one.
PageOptions parsePageQuery(std::string_view query);

// The page's status line: the view and the settings that shape the
// picture, as the option slots hold them now, and whether time is paused.
std::string pageStatus(const DisplayState& display, bool paused);

}  // namespace tolvane
