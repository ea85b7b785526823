#pragma once
// Turning SDL events into mode switches, camera drags and the quit request.

#include <SDL.h>

namespace tolvane {

struct InputState {
    bool quitRequested = false;  // Escape or window close; acted on after the drain
    bool dragging = false;       // from a mouse-button press to the next release
    int dragLastX = 0;           // pointer at the last button event or drag motion
    int dragLastY = 0;
};

// Keys act by symbol (Shift makes no difference): P pause/resume, S depth
// view/stereogram, R dot renewal, C colour palette, G grey palette, B grey
// dots on/off, X cross-eyed on/off, Q echo-free on/off, [ and ] pattern
// width down/up, K
// screenshot, Escape quit. Any mouse button starts or ends a drag; motion
// while dragging moves theWorld's camera by the pointer's movement.
// Everything else is ignored.
void dispatchEvent(const SDL_Event& event, InputState& input);

// Dispatches every pending event, also those queued after a quit request.
void drainEvents(InputState& input);

}  // namespace tolvane
