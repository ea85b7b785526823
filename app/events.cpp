#include "app/events.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/frame_clock.hpp"
#include "display/options.hpp"
#include "world/world.hpp"

namespace tolvane {

namespace {

void toggleOption(OptionSlot slot) { setOption(slot, getOption(slot) == 0 ? 1 : 0); }

// The eye separation one step narrower or wider, never leaving the range
// the keys allow.
void stepPatternWidth(std::int32_t step) {
    setOption(OptionSlot::PatternWidth,
              std::clamp(getOption(OptionSlot::PatternWidth) + step, kMinPatternWidth, kMaxPatternWidth));
}

// An arrow scrolls the view that way: the world moves as under a drag the
// other way.
void scrollBy(int dx, int dy) {
    theWorld.cameraX = moveBy(theWorld.cameraX, -dx);
    theWorld.cameraY = moveBy(theWorld.cameraY, -dy);
}

const char* onOff(OptionSlot slot) { return getOption(slot) != 0 ? "on" : "off"; }

void dispatchKey(SDLKey sym, InputState& input) {
    switch (sym) {
        case SDLK_p:
            timeScale = timeScale == 0.0f ? 1.0f : 0.0f;
            break;
        case SDLK_s:
            toggleOption(OptionSlot::DepthView);
            break;
        case SDLK_r:
            toggleOption(OptionSlot::PatternEveryFrame);
            break;
        case SDLK_c:
            setOption(OptionSlot::PaletteFlags,
                      paletteBits(PaletteFlag::Red | PaletteFlag::Green | PaletteFlag::Blue));
            break;
        case SDLK_g:
            setOption(OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
            break;
        case SDLK_b: {
            const std::int32_t greyDots = paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots);
            setOption(OptionSlot::PaletteFlags,
                      getOption(OptionSlot::PaletteFlags) == greyDots ? paletteBits(PaletteFlag::GreyRamp) : greyDots);
            break;
        }
        case SDLK_x:
            toggleOption(OptionSlot::CrossEyed);
            break;
        case SDLK_q:
            toggleOption(OptionSlot::EchoFree);
            break;
        case SDLK_LEFTBRACKET:
            stepPatternWidth(-kPatternWidthStep);
            break;
        case SDLK_RIGHTBRACKET:
            stepPatternWidth(kPatternWidthStep);
            break;
        case SDLK_LEFT:
            scrollBy(-kArrowScrollStep, 0);
            break;
        case SDLK_RIGHT:
            scrollBy(kArrowScrollStep, 0);
            break;
        case SDLK_UP:
            scrollBy(0, -kArrowScrollStep);
            break;
        case SDLK_DOWN:
            scrollBy(0, kArrowScrollStep);
            break;
        case SDLK_k:
            screenshotRequested = true;
            break;
        case SDLK_ESCAPE:
            input.quitRequested = true;
            break;
        default:
            break;
    }
}

}  // namespace

std::string settingAfterKey(SDLKey sym) {
    switch (sym) {
        case SDLK_x:
            return std::string("cross-eyed ") + onOff(OptionSlot::CrossEyed);
        case SDLK_q:
            return std::string("echo-free ") + onOff(OptionSlot::EchoFree);
        case SDLK_b:
            return std::string("grey dots ") +
                   ((getOption(OptionSlot::PaletteFlags) & paletteBits(PaletteFlag::GreyDots)) != 0 ? "on" : "off");
        case SDLK_LEFTBRACKET:
        case SDLK_RIGHTBRACKET:
            return "pattern width " + std::to_string(getOption(OptionSlot::PatternWidth));
        default:
            return {};
    }
}

void dispatchEvent(const SDL_Event& event, InputState& input) {
    switch (event.type) {
        case SDL_KEYDOWN: {
            dispatchKey(event.key.keysym.sym, input);
            // These settings show only in the dots, so the console says
            // what is set now.
            if (const std::string line = settingAfterKey(event.key.keysym.sym); !line.empty()) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            }
            break;
        }
        case SDL_MOUSEMOTION:
            if (input.dragging) {
                theWorld.cameraX = moveBy(theWorld.cameraX, event.motion.x - input.dragLastX);
                theWorld.cameraY = moveBy(theWorld.cameraY, event.motion.y - input.dragLastY);
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

void drainEvents(InputState& input) {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        dispatchEvent(event, input);
    }
}

}  // namespace tolvane
