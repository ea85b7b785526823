#include "app/engine.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.hpp"
#include "display/options.hpp"

namespace tolvane {

namespace {

void toggleOption(DisplayState& display, OptionSlot slot) {
    setOption(display, slot, getOption(display, slot) == 0 ? 1 : 0);
}

// The eye separation one step narrower or wider, never leaving the range
// the keys allow.
void stepPatternWidth(DisplayState& display, std::int32_t step) {
    setOption(display, OptionSlot::PatternWidth,
              std::clamp(getOption(display, OptionSlot::PatternWidth) + step, kMinPatternWidth, kMaxPatternWidth));
}

// An arrow scrolls the view that way: the world moves as under a drag the
// other way.
void scrollBy(World& world, std::int32_t dx, std::int32_t dy) {
    world.cameraX = moveBy(world.cameraX, -dx);
    world.cameraY = moveBy(world.cameraY, -dy);
}

const char* onOff(const DisplayState& display, OptionSlot slot) { return getOption(display, slot) != 0 ? "on" : "off"; }

void applyAction(Engine& engine, const ActionStep& step) {
    DisplayState& display = engine.display;
    switch (step.action) {
        case Action::TogglePause:
            engine.clock.timeScale = engine.clock.timeScale == 0.0f ? 1.0f : 0.0f;
            break;
        case Action::ToggleDepthView:
            toggleOption(display, OptionSlot::DepthView);
            break;
        case Action::TogglePatternRenewal:
            toggleOption(display, OptionSlot::PatternEveryFrame);
            break;
        case Action::ColourPalette:
            setOption(display, OptionSlot::PaletteFlags,
                      paletteBits(PaletteFlag::Red | PaletteFlag::Green | PaletteFlag::Blue));
            break;
        case Action::GreyPalette:
            setOption(display, OptionSlot::PaletteFlags, paletteBits(PaletteFlag::GreyRamp));
            break;
        case Action::ToggleGreyDots: {
            const std::int32_t greyDots = paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots);
            setOption(display, OptionSlot::PaletteFlags,
                      getOption(display, OptionSlot::PaletteFlags) == greyDots ? paletteBits(PaletteFlag::GreyRamp)
                                                                                : greyDots);
            break;
        }
        case Action::ToggleCrossEyed:
            toggleOption(display, OptionSlot::CrossEyed);
            break;
        case Action::ToggleEchoFree:
            toggleOption(display, OptionSlot::EchoFree);
            break;
        case Action::NarrowerPattern:
            stepPatternWidth(display, -kPatternWidthStep);
            break;
        case Action::WiderPattern:
            stepPatternWidth(display, kPatternWidthStep);
            break;
        case Action::Screenshot:
            engine.screenshotRequested = true;
            break;
        case Action::ScrollLeft:
            scrollBy(engine.world.world, -kArrowScrollStep, 0);
            break;
        case Action::ScrollRight:
            scrollBy(engine.world.world, kArrowScrollStep, 0);
            break;
        case Action::ScrollUp:
            scrollBy(engine.world.world, 0, -kArrowScrollStep);
            break;
        case Action::ScrollDown:
            scrollBy(engine.world.world, 0, kArrowScrollStep);
            break;
        case Action::Quit:
            break;
        case Action::SetOption:
            setOption(display, step.slot, step.value);
            break;
    }
}

}  // namespace

void FrameCommand::add(Action action, std::int32_t slot, std::int32_t value) {
    actions.push_back(ActionStep{action, slot, value});
}

void FrameCommand::moveCamera(std::int32_t dx, std::int32_t dy) {
    cameraDx = moveBy(cameraDx, dx);
    cameraDy = moveBy(cameraDy, dy);
}

bool FrameCommand::has(Action action) const {
    return std::any_of(actions.begin(), actions.end(), [action](const ActionStep& step) { return step.action == action; });
}

void FrameCommand::clear() {
    actions.clear();
    cameraDx = 0;
    cameraDy = 0;
}

void startEngine(Engine& engine, std::uint32_t seed) {
    seedRandom(engine.display.random, seed);
    buildPalette(engine.display, getOption(engine.display, OptionSlot::PaletteFlags));
}

std::string settingAfterAction(const DisplayState& display, Action action) {
    switch (action) {
        case Action::ToggleCrossEyed:
            return std::string("cross-eyed ") + onOff(display, OptionSlot::CrossEyed);
        case Action::ToggleEchoFree:
            return std::string("echo-free ") + onOff(display, OptionSlot::EchoFree);
        case Action::ToggleGreyDots:
            return std::string("grey dots ") +
                   ((getOption(display, OptionSlot::PaletteFlags) & paletteBits(PaletteFlag::GreyDots)) != 0 ? "on"
                                                                                                              : "off");
        case Action::NarrowerPattern:
        case Action::WiderPattern:
            return "pattern width " + std::to_string(getOption(display, OptionSlot::PatternWidth));
        default:
            return {};
    }
}

std::vector<std::string> applyCommand(Engine& engine, const FrameCommand& command) {
    std::vector<std::string> settings;
    for (const ActionStep& step : command.actions) {
        applyAction(engine, step);
        // Read after each press: two presses of ] in one frame say two widths.
        if (std::string line = settingAfterAction(engine.display, step.action); !line.empty()) {
            settings.push_back(std::move(line));
        }
    }
    World& world = engine.world.world;
    world.cameraX = moveBy(world.cameraX, command.cameraDx);
    world.cameraY = moveBy(world.cameraY, command.cameraDy);
    return settings;
}

FrameOutcome stepEngine(Engine& engine, const FrameCommand& command, DepthMap* target, const FrameTime& time) {
    // Building the world puts the camera back to (0, 0), so it comes first.
    loadWorldOnce(engine.world, engine.worldFile.c_str());
    std::vector<std::string> settings = applyCommand(engine, command);
    float dt = time.step;
    if (time.kind == FrameTime::Kind::Measured) {
        updateFrameTimeAt(engine.clock, time.nowNanoseconds);
        dt = engine.clock.frameDt;
    } else if (time.kind == FrameTime::Kind::Since) {
        engine.world.world.setElapsed(time.since);
        dt = 0.0f;
    }
    FrameOutcome outcome;
    outcome.settings = std::move(settings);
    outcome.stereogram = getOption(engine.display, OptionSlot::DepthView) == 0;
    if (target == nullptr) {
        advanceWorld(engine.world, dt, engine.worldFile.c_str());
        skipFrame(engine.display);
        return outcome;
    }
    // The world gets the frame's time and the request as values; one drawn
    // frame answers every K pressed since the last one.
    outcome.screenshot = engine.screenshotRequested;
    stepWorld(engine.world, *target, dt, engine.screenshotRequested, engine.worldFile.c_str());
    engine.screenshotRequested = false;
    composeFrame(engine.display, *target);
    return outcome;
}

FrameCommand renderCommand(const RenderOptions& options) {
    FrameCommand command;
    auto set = [&command](OptionSlot slot, std::int32_t value) {
        command.add(Action::SetOption, static_cast<std::int32_t>(slot), value);
    };
    set(OptionSlot::PaletteFlags, options.greyDots ? paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots)
                                                   : paletteBits(PaletteFlag::GreyRamp));
    set(OptionSlot::DepthView, options.depthView ? 1 : 0);
    set(OptionSlot::CrossEyed, options.crossEyed ? 1 : 0);
    set(OptionSlot::EchoFree, options.echoFree ? 1 : 0);
    set(OptionSlot::PatternWidth, options.patternWidth);
    command.moveCamera(options.cameraX, options.cameraY);
    return command;
}

}  // namespace tolvane
