#pragma once
// The engine: everything a running demo or renderer owns, and the one
// per-frame step that every front end (the window, the renderer, a browser
// callback) drives on it. Engines share nothing, so several may draw frames
// at once, each on its own thread.

#include <cstdint>
#include <string>
#include <vector>

#include "app/frame_clock.hpp"
#include "depth/depth_map.hpp"
#include "display/display.hpp"
#include "world/world_step.hpp"

namespace tolvane {

struct RenderOptions;

// What a key, or a front end's option, asks of a frame.
enum class Action : std::uint8_t {
    TogglePause,
    ToggleDepthView,
    TogglePatternRenewal,
    ColourPalette,
    GreyPalette,
    ToggleGreyDots,
    ToggleCrossEyed,
    ToggleEchoFree,
    NarrowerPattern,
    WiderPattern,
    Screenshot,
    ScrollLeft,  // the arrows: the view moves kArrowScrollStep pixels that way,
    ScrollRight, // as a drag the other way would move it
    ScrollUp,
    ScrollDown,
    Quit,       // for the front end: the step does nothing with it
    SetOption,  // `slot` to `value` outright, as the renderer's options do
};

// How far an arrow key scrolls the view, in surface pixels.
inline constexpr int kArrowScrollStep = 16;

struct ActionStep {
    Action action = Action::Quit;
    std::int32_t slot = 0;
    std::int32_t value = 0;
};

// Everything the user (or a front end) asked of one frame, gathered between
// two frames and applied at the start of the next: the actions in the order
// they came, and the camera's movement by drags.
struct FrameCommand {
    std::vector<ActionStep> actions;
    std::int32_t cameraDx = 0;  // wrapping sums, as the camera wraps
    std::int32_t cameraDy = 0;

    void add(Action action, std::int32_t slot = 0, std::int32_t value = 0);
    void moveCamera(std::int32_t dx, std::int32_t dy);
    bool empty() const { return actions.empty() && cameraDx == 0 && cameraDy == 0; }
    bool has(Action action) const;
    void clear();
};

// How far a frame moves the world: by the clock's reading now (the demo,
// whose pause key scales it), by a given step, or to a given time since
// the world was built (the renderer, so that frame k's time never depends
// on the frames before it).
struct FrameTime {
    enum class Kind { Measured, Step, Since };
    Kind kind = Kind::Step;
    std::int64_t nowNanoseconds = 0;  // Measured
    float step = 0.0f;                // Step: seconds
    double since = 0.0;               // Since: seconds

    static FrameTime at(std::int64_t nowNanoseconds) { return FrameTime{Kind::Measured, nowNanoseconds, 0.0f, 0.0}; }
    static FrameTime after(float seconds) { return FrameTime{Kind::Step, 0, seconds, 0.0}; }
    static FrameTime sinceStart(double seconds) { return FrameTime{Kind::Since, 0, 0.0f, seconds}; }
};

struct Engine {
    DisplayState display;  // options, palette, generator, pattern
    WorldRun world;        // the world and its camera
    std::string worldFile = "world.xml";
    FrameClock clock;
    bool screenshotRequested = false;  // key K; cleared once a drawn frame has saved it
};

// The renderer's start, as initDisplay is the window's: seeds the
// generator and builds the start-up palette from the default options.
void startEngine(Engine& engine, std::uint32_t seed);

// Applies what the command asks, in order: the option switches, the
// palette (which draws from the generator), the pause, the screenshot
// request, the arrows' scrolling, the camera. Returns, in the same order,
// the line each action whose effect shows only in the dots says about what
// it has just set (see settingAfterAction).
std::vector<std::string> applyCommand(Engine& engine, const FrameCommand& command);

// The one line saying what `action` has just set ("pattern width 144",
// "cross-eyed on", "echo-free off", "grey dots on"), read from `display`'s
// options as they are now; empty for actions whose effect shows by itself.
std::string settingAfterAction(const DisplayState& display, Action action);

// What a step reports to its front end.
struct FrameOutcome {
    bool screenshot = false;  // screenshot.bmp was asked for by this frame
    bool stereogram = false;  // the picture is the stereogram, not the depth view
    std::vector<std::string> settings;  // what the command's keys set (applyCommand)
};

// One frame: reads the world on the first step (so that the command's drag
// moves the built world's camera), applies `command`, advances the clock,
// then steps the world into `target` (cleared, advanced, drawn, and saved as
// screenshot.bmp when asked) and turns it into the picture (composeFrame).
// With a null `target` the frame is passed over: the world and the
// generator move on exactly as a drawn frame would move them, so a later
// frame comes out the same, but nothing is drawn.
FrameOutcome stepEngine(Engine& engine, const FrameCommand& command, DepthMap* target, const FrameTime& time);

// The command that sets up a render as the options ask (see RenderOptions):
// view, viewing aids, pattern width, palette, and the camera dragged.
FrameCommand renderCommand(const RenderOptions& options);

}  // namespace tolvane
