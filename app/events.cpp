#include "app/events.hpp"

namespace tolvane {

namespace {

void dispatchKey(SDLKey sym, InputState& input, FrameCommand& command) {
    for (const KeyBinding& binding : kKeyBindings) {
        if (binding.key != sym) continue;
        if (binding.action == Action::Quit) {
            input.quitRequested = true;
        } else {
            command.add(binding.action);
        }
        return;
    }
}

}  // namespace

void dispatchEvent(const SDL_Event& event, InputState& input, FrameCommand& command) {
    switch (event.type) {
        case SDL_KEYDOWN:
            dispatchKey(event.key.keysym.sym, input, command);
            break;
        case SDL_MOUSEMOTION:
            if (input.dragging) {
                command.moveCamera(event.motion.x - input.dragLastX, event.motion.y - input.dragLastY);
                input.dragLastX = event.motion.x;
                input.dragLastY = event.motion.y;
            }
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            // Whichever button: a wheel notch arrives as a press and a
            // release of button 4 or 5, so it ends a drag too.
            input.dragging = event.button.state == SDL_PRESSED;
            input.dragLastX = event.button.x;
            input.dragLastY = event.button.y;
            break;
        case SDL_QUIT:
            input.quitRequested = true;
            break;
        default:
            break;
    }
}

void drainEvents(InputState& input, FrameCommand& command) {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        dispatchEvent(event, input, command);
    }
}

}  // namespace tolvane
