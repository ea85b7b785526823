#include "app/engine.hpp"

#include <algorithm>

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

void applyCommand(Engine& engine, const FrameCommand& command) {
    for (const ActionStep& step : command.actions) applyAction(engine, step);
    World& world = engine.world.world;
    world.cameraX = moveBy(world.cameraX, command.cameraDx);
    world.cameraY = moveBy(world.cameraY, command.cameraDy);
}

FrameOutcome stepEngine(Engine& engine, const FrameCommand& command, DepthMap* target, const FrameTime& time) {
    // Building the world puts the camera back to (0, 0), so it comes first.
    loadWorldOnce(engine.world, engine.worldFile.c_str());
    applyCommand(engine, command);
    float dt = time.step;
    if (time.kind == FrameTime::Kind::Measured) {
        updateFrameTimeAt(engine.clock, time.nowNanoseconds);
        dt = engine.clock.frameDt;
    } else if (time.kind == FrameTime::Kind::Since) {
        engine.world.world.setElapsed(time.since);
        dt = 0.0f;
    }
    FrameOutcome outcome;
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
