// Event dispatch with real SDL_Event values, each frame's events made into
// a command and applied to an engine of the test's own: drags move the
// camera by exactly the pointer's movement, keys switch modes by symbol, and
// a drain handles every queued event even after a quit request.

#include <SDL.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "app/engine.hpp"
#include "app/events.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "tests/app/test_display.hpp"

using namespace tolvane;

namespace {

SDL_Event keyDown(SDLKey sym, SDLMod mod = KMOD_NONE) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    return e;
}

SDL_Event keyUp(SDLKey sym) {
    SDL_Event e = keyDown(sym);
    e.type = SDL_KEYUP;
    e.key.state = SDL_RELEASED;
    return e;
}

SDL_Event button(bool press, std::uint8_t which, std::uint16_t x, std::uint16_t y) {
    SDL_Event e{};
    e.type = press ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = which;
    e.button.state = press ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    return e;
}

SDL_Event down(std::uint8_t which, std::uint16_t x, std::uint16_t y) { return button(true, which, x, y); }
SDL_Event up(std::uint8_t which, std::uint16_t x, std::uint16_t y) { return button(false, which, x, y); }

SDL_Event motion(std::uint16_t x, std::uint16_t y, std::int16_t xrel = 0, std::int16_t yrel = 0) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    e.motion.xrel = xrel;
    e.motion.yrel = yrel;
    return e;
}

// What the frame after `events` does with them: the command they make,
// applied to `engine`; returns the lines the frame loop prints.
std::vector<std::string> dispatchAndApply(Engine& engine, InputState& input, const std::vector<SDL_Event>& events) {
    FrameCommand command;
    for (const SDL_Event& e : events) dispatchEvent(e, input, command);
    return applyCommand(engine, command);
}

struct DragCase {
    const char* name;
    std::vector<SDL_Event> events;
    bool dragging;
    int lastX, lastY;
    std::int32_t cameraX, cameraY;  // from a camera at (1000, -1000)
};

TEST(Events, DragsMoveTheCameraByThePointersMovement) {
    const DragCase cases[] = {
        {"release without press moves the origin only", {up(1, 30, 40)}, false, 30, 40, 1000, -1000},
        {"motion without press moves nothing", {motion(50, 60, 5, 5)}, false, 0, 0, 1000, -1000},
        {"press then motion", {down(1, 10, 10), motion(15, 7)}, true, 15, 7, 1005, -1003},
        {"deltas add up", {down(1, 100, 100), motion(90, 120), motion(60, 125)}, true, 60, 125, 960, -975},
        {"relative fields are not used", {down(1, 10, 10), motion(12, 13, 100, -100)}, true, 12, 13, 1002, -997},
        {"any button drags", {down(3, 0, 0), motion(4, 4)}, true, 4, 4, 1004, -996},
        {"second press keeps dragging from its position",
         {down(1, 10, 10), down(3, 20, 20), motion(25, 30)}, true, 25, 30, 1005, -990},
        {"releasing either button ends the drag",
         {down(1, 10, 10), down(3, 20, 20), up(3, 21, 21), motion(80, 80)}, false, 21, 21, 1000, -1000},
        {"a wheel notch ends the drag",
         {down(1, 10, 10), motion(12, 10), down(4, 12, 10), up(4, 12, 10), motion(50, 50)}, false, 12, 10, 1002,
         -1000},
        {"motion after release moves nothing",
         {down(1, 0, 0), motion(5, 5), up(1, 5, 5), motion(100, 100)}, false, 5, 5, 1005, -995},
        {"positions are unsigned 16-bit", {down(1, 0, 0), motion(65535, 65535)}, true, 65535, 65535, 66535, 64535},
        {"key and quit events leave the drag alone", {down(1, 1, 1), keyDown(SDLK_a), motion(2, 3)}, true, 2, 3, 1001,
         -998},
        // An arrow shows more of its side: the world moves 16 the other way.
        {"right arrow", {keyDown(SDLK_RIGHT)}, false, 0, 0, 984, -1000},
        {"left arrow twice", {keyDown(SDLK_LEFT), keyDown(SDLK_LEFT, KMOD_LSHIFT)}, false, 0, 0, 1032, -1000},
        {"down arrow", {keyDown(SDLK_DOWN)}, false, 0, 0, 1000, -1016},
        {"up arrow during a drag", {down(1, 5, 5), keyDown(SDLK_UP), motion(6, 5)}, true, 6, 5, 1001, -984},
        {"arrow release does nothing", {keyUp(SDLK_UP)}, false, 0, 0, 1000, -1000},
    };
    for (const DragCase& c : cases) {
        Engine engine;
        World& world = engine.world.world;
        world.cameraX = 1000;
        world.cameraY = -1000;
        InputState input;
        dispatchAndApply(engine, input, c.events);
        EXPECT_EQ(input.dragging, c.dragging) << c.name;
        EXPECT_EQ(input.dragLastX, c.lastX) << c.name;
        EXPECT_EQ(input.dragLastY, c.lastY) << c.name;
        EXPECT_EQ(world.cameraX, c.cameraX) << c.name;
        EXPECT_EQ(world.cameraY, c.cameraY) << c.name;
        EXPECT_FALSE(input.quitRequested) << c.name;
    }
}

TEST(Events, CameraWrapsInsteadOfOverflowing) {
    Engine engine;
    World& world = engine.world.world;
    world.cameraX = INT32_MAX;
    world.cameraY = INT32_MIN;
    InputState input;
    dispatchAndApply(engine, input, {down(1, 10, 10), motion(11, 9)});
    EXPECT_EQ(world.cameraX, INT32_MIN);
    EXPECT_EQ(world.cameraY, INT32_MAX);
    // Drags of one frame add up, wrapping, to the same place.
    dispatchAndApply(engine, input, {motion(65535, 0), motion(0, 65535), motion(11, 9)});
    EXPECT_EQ(world.cameraX, INT32_MIN);
    EXPECT_EQ(world.cameraY, INT32_MAX);
}

struct Modes {
    float timeScale;
    std::int32_t depthView, everyFrame, paletteFlags;
    bool screenshot, quit;
};

Modes modesAfter(const SDL_Event& event) {
    Engine engine;
    InputState input;
    dispatchAndApply(engine, input, {event});
    return {engine.clock.timeScale,
            getOption(engine.display, OptionSlot::DepthView),
            getOption(engine.display, OptionSlot::PatternEveryFrame),
            getOption(engine.display, OptionSlot::PaletteFlags),
            engine.screenshotRequested,
            input.quitRequested};
}

TEST(Events, KeysSwitchModesBySymbol) {
    struct Case {
        const char* name;
        SDL_Event event;
        Modes expected;
    };
    // From the defaults: running, stereogram view, renewing dots, flags 4.
    const Case cases[] = {
        {"P pauses", keyDown(SDLK_p), {0.0f, 0, 1, 4, false, false}},
        {"S selects the depth view", keyDown(SDLK_s), {1.0f, 1, 1, 4, false, false}},
        {"R freezes the dots", keyDown(SDLK_r), {1.0f, 0, 0, 4, false, false}},
        {"C all colours", keyDown(SDLK_c), {1.0f, 0, 1, 7, false, false}},
        {"G grey ramp", keyDown(SDLK_g), {1.0f, 0, 1, 8, false, false}},
        {"K screenshot", keyDown(SDLK_k), {1.0f, 0, 1, 4, true, false}},
        {"Escape quits", keyDown(SDLK_ESCAPE), {1.0f, 0, 1, 4, false, true}},
        {"Shift+S acts like S", keyDown(SDLK_s, KMOD_LSHIFT), {1.0f, 1, 1, 4, false, false}},
        {"Shift+P acts like P", keyDown(SDLK_p, static_cast<SDLMod>(KMOD_RSHIFT | KMOD_CAPS)), {0.0f, 0, 1, 4, false, false}},
        {"I does nothing", keyDown(SDLK_i), {1.0f, 0, 1, 4, false, false}},
        {"arrows switch no mode", keyDown(SDLK_UP), {1.0f, 0, 1, 4, false, false}},
        {"key release of Escape is ignored", keyUp(SDLK_ESCAPE), {1.0f, 0, 1, 4, false, false}},
        {"key release of S is ignored", keyUp(SDLK_s), {1.0f, 0, 1, 4, false, false}},
    };
    for (const Case& c : cases) {
        const Modes got = modesAfter(c.event);
        EXPECT_EQ(got.timeScale, c.expected.timeScale) << c.name;
        EXPECT_EQ(got.depthView, c.expected.depthView) << c.name;
        EXPECT_EQ(got.everyFrame, c.expected.everyFrame) << c.name;
        EXPECT_EQ(got.paletteFlags, c.expected.paletteFlags) << c.name;
        EXPECT_EQ(got.screenshot, c.expected.screenshot) << c.name;
        EXPECT_EQ(got.quit, c.expected.quit) << c.name;
    }
}

TEST(Events, EveryKeyOfTheTableIsOneAction) {
    for (const KeyBinding& binding : kKeyBindings) {
        FrameCommand command;
        InputState input;
        dispatchEvent(keyDown(binding.key), input, command);
        if (binding.action == Action::Quit) {
            EXPECT_TRUE(input.quitRequested);
            EXPECT_TRUE(command.empty());
        } else {
            ASSERT_EQ(command.actions.size(), 1u) << SDL_GetKeyName(binding.key);
            EXPECT_EQ(command.actions[0].action, binding.action) << SDL_GetKeyName(binding.key);
        }
    }
}

TEST(Events, TogglesReturnOnTheSecondPress) {
    Engine engine;
    InputState input;
    for (SDLKey sym : {SDLK_p, SDLK_s, SDLK_r}) {
        dispatchAndApply(engine, input, {keyDown(sym), keyDown(sym)});
    }
    EXPECT_EQ(engine.clock.timeScale, 1.0f);
    EXPECT_EQ(getOption(engine.display, OptionSlot::DepthView), 0);
    EXPECT_EQ(getOption(engine.display, OptionSlot::PatternEveryFrame), 1);

    // Any nonzero view counts as the depth view; S turns it off.
    setOption(engine.display, OptionSlot::DepthView, 5);
    dispatchAndApply(engine, input, {keyDown(SDLK_s)});
    EXPECT_EQ(getOption(engine.display, OptionSlot::DepthView), 0);
}

TEST(Events, ViewingAidKeys) {
    struct Case {
        const char* name;
        std::int32_t startWidth, startFlags;
        std::vector<SDLKey> keys;
        std::int32_t crossEyed, width, flags, echoFree;
        const char* said;  // the line the last key prints
    };
    const Case cases[] = {
        {"X crosses the eyes", 128, 8, {SDLK_x}, 1, 128, 8, 0, "cross-eyed on"},
        {"X twice uncrosses them", 128, 8, {SDLK_x, SDLK_x}, 0, 128, 8, 0, "cross-eyed off"},
        {"[ narrows by 16", 128, 8, {SDLK_LEFTBRACKET}, 0, 112, 8, 0, "pattern width 112"},
        {"] widens by 16", 128, 8, {SDLK_RIGHTBRACKET}, 0, 144, 8, 0, "pattern width 144"},
        {"[ stops at 64", 80, 8, {SDLK_LEFTBRACKET, SDLK_LEFTBRACKET, SDLK_LEFTBRACKET}, 0, 64, 8, 0,
         "pattern width 64"},
        {"] stops at 192", 176, 8, {SDLK_RIGHTBRACKET, SDLK_RIGHTBRACKET}, 0, 192, 8, 0, "pattern width 192"},
        {"a width outside the range comes back into it", 40, 8, {SDLK_RIGHTBRACKET}, 0, 64, 8, 0,
         "pattern width 64"},
        {"B grey dots from the grey ramp", 128, 8, {SDLK_b}, 0, 128, 24, 0, "grey dots on"},
        {"B grey dots from colours", 128, 7, {SDLK_b}, 0, 128, 24, 0, "grey dots on"},
        {"B twice gives the grey ramp", 128, 7, {SDLK_b, SDLK_b}, 0, 128, 8, 0, "grey dots off"},
        {"G after B gives the grey ramp", 128, 8, {SDLK_b, SDLK_g}, 0, 128, 8, 0, ""},
        {"C after B gives colours", 128, 8, {SDLK_b, SDLK_c}, 0, 128, 7, 0, ""},
        {"Q turns echo-free on", 128, 8, {SDLK_q}, 0, 128, 8, 1, "echo-free on"},
        {"Q twice turns it off", 128, 8, {SDLK_q, SDLK_q}, 0, 128, 8, 0, "echo-free off"},
        {"Q and X together", 128, 8, {SDLK_x, SDLK_q}, 1, 128, 8, 1, "echo-free on"},
    };
    for (const Case& c : cases) {
        Engine engine;
        DisplayState& display = engine.display;
        setOption(display, OptionSlot::PatternWidth, c.startWidth);
        setOption(display, OptionSlot::PaletteFlags, c.startFlags);
        InputState input;
        // Held Shift changes nothing, as for the other keys.
        std::vector<SDL_Event> events;
        for (const SDLKey key : c.keys) events.push_back(keyDown(key, KMOD_LSHIFT));
        const SDL_Event last = events.back();
        events.pop_back();
        dispatchAndApply(engine, input, events);
        const std::vector<std::string> said = dispatchAndApply(engine, input, {last});
        EXPECT_EQ(said, c.said[0] == '\0' ? std::vector<std::string>{} : std::vector<std::string>{c.said}) << c.name;
        EXPECT_EQ(getOption(display, OptionSlot::CrossEyed), c.crossEyed) << c.name;
        EXPECT_EQ(getOption(display, OptionSlot::PatternWidth), c.width) << c.name;
        EXPECT_EQ(getOption(display, OptionSlot::PaletteFlags), c.flags) << c.name;
        EXPECT_EQ(getOption(display, OptionSlot::EchoFree), c.echoFree) << c.name;
        EXPECT_EQ(getOption(display, OptionSlot::PatternHeight), 60) << c.name;
    }
}

TEST(Events, WindowCloseQuitsAndOtherTypesAreIgnored) {
    std::vector<SDL_Event> ignored;
    for (Uint8 type : {Uint8{0}, Uint8{SDL_ACTIVEEVENT}, Uint8{SDL_JOYAXISMOTION}, Uint8{SDL_JOYBUTTONUP},
                       Uint8{SDL_VIDEORESIZE}, Uint8{SDL_USEREVENT}}) {
        SDL_Event e{};
        e.type = type;
        ignored.push_back(e);
    }
    InputState input;
    FrameCommand command;
    for (const SDL_Event& e : ignored) {
        dispatchEvent(e, input, command);
    }
    EXPECT_FALSE(input.quitRequested);
    EXPECT_FALSE(input.dragging);
    EXPECT_TRUE(command.empty());

    SDL_Event quit{};
    quit.type = SDL_QUIT;
    dispatchEvent(quit, input, command);
    EXPECT_TRUE(input.quitRequested);
}

TEST(Events, DrainHandlesEventsQueuedAfterEscape) {
    openDummyDisplayOnce();
    SDL_Event queued[] = {keyDown(SDLK_ESCAPE), keyDown(SDLK_k), down(1, 10, 10), motion(17, 10)};
    for (SDL_Event& e : queued) {
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }
    InputState input;
    FrameCommand command;
    drainEvents(input, command);
    EXPECT_TRUE(input.quitRequested);
    EXPECT_TRUE(command.has(Action::Screenshot));
    EXPECT_EQ(command.cameraDx, 7);
    SDL_Event left;
    EXPECT_EQ(SDL_PollEvent(&left), 0);
}

}  // namespace
