#pragma once
// Turning SDL events into the next frame's command and the quit request.

#include <SDL.h>

#include "app/engine.hpp"

namespace tolvane {

struct InputState {
    bool quitRequested = false;  // Escape or window close; acted on after the drain
    bool dragging = false;       // from a mouse-button press to the next release
    int dragLastX = 0;           // pointer at the last button event or drag motion
    int dragLastY = 0;
};

struct KeyBinding {
    SDLKey key;
    Action action;
};

// The one table of keys, acted on by symbol (Shift makes no difference):
// P pause/resume, S depth view/stereogram, R dot renewal, C colour palette,
// G grey palette, B grey dots on/off, X cross-eyed on/off, Q echo-free
// on/off, [ and ] pattern width down/up, K screenshot, Escape quit; the
// arrows scroll the view kArrowScrollStep pixels that way, as a drag the
// other way would. B, X, Q, [ and ] have the frame loop print what they set
// (settingAfterAction).
inline constexpr KeyBinding kKeyBindings[] = {
    {SDLK_p, Action::TogglePause},
    {SDLK_s, Action::ToggleDepthView},
    {SDLK_r, Action::TogglePatternRenewal},
    {SDLK_c, Action::ColourPalette},
    {SDLK_g, Action::GreyPalette},
    {SDLK_b, Action::ToggleGreyDots},
    {SDLK_x, Action::ToggleCrossEyed},
    {SDLK_q, Action::ToggleEchoFree},
    {SDLK_LEFTBRACKET, Action::NarrowerPattern},
    {SDLK_RIGHTBRACKET, Action::WiderPattern},
    {SDLK_k, Action::Screenshot},
    {SDLK_LEFT, Action::ScrollLeft},
    {SDLK_RIGHT, Action::ScrollRight},
    {SDLK_UP, Action::ScrollUp},
    {SDLK_DOWN, Action::ScrollDown},
    {SDLK_ESCAPE, Action::Quit},
};

// A bound key adds its action to `command` (Escape also requests the
// quit); any mouse button starts or ends a drag; motion while dragging
// moves the camera in `command` by the pointer's movement; closing the
// window requests the quit. Everything else is ignored.
void dispatchEvent(const SDL_Event& event, InputState& input, FrameCommand& command);

// Dispatches every pending event, also those queued after a quit request.
void drainEvents(InputState& input, FrameCommand& command);

}  // namespace tolvane
