#pragma once
// Turning SDL events into mode switches, camera drags and the quit request.

#include <SDL.h>

#include <string>

namespace tolvane {

struct InputState {
    bool quitRequested = false;  // Escape or window close; acted on after the drain
    bool dragging = false;       // from a mouse-button press to the next release
    int dragLastX = 0;           // pointer at the last button event or drag motion
    int dragLastY = 0;
};

// How far an arrow key scrolls the view, in surface pixels.
inline constexpr int kArrowScrollStep = 16;

// Keys act by symbol (Shift makes no difference): P pause/resume, S depth
// view/stereogram, R dot renewal, C colour palette, G grey palette, B grey
// dots on/off, X cross-eyed on/off, Q echo-free on/off, [ and ] pattern
// width down/up, K
// screenshot, Escape quit; the arrows scroll the view kArrowScrollStep
// pixels that way, as a drag the other way would. B, X, Q, [ and ] print
// settingAfterKey on standard output. Any mouse button starts or ends a
// drag; motion while dragging moves theWorld's camera by the pointer's
// movement. Everything else is ignored.
void dispatchEvent(const SDL_Event& event, InputState& input);

// The one line saying what key `sym` has just set ("pattern width 144",
// "cross-eyed on", "echo-free off", "grey dots on"), read from the options
// as they are now; empty for keys whose effect shows by itself.
std::string settingAfterKey(SDLKey sym);

// Dispatches every pending event, also those queued after a quit request.
void drainEvents(InputState& input);

}  // namespace tolvane
