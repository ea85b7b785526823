// The browser's entry: the demo's frame as a callback of the page's
// animation frames, on the same engine as the desktop. Everything the
// browser needs and the desktop does not lives here: the start from the
// URL's parameters, K as a download, and the frame timings the page shows.
// stepPage is the desktop's runFrame (app/frame_loop.cpp) with those
// changes; the page calls it once per animation frame instead of looping.

#include <SDL.h>
#include <emscripten.h>

#include <cstdint>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

#include "app/engine.hpp"
#include "app/events.hpp"
#include "app/frame_clock.hpp"
#include "app/frame_loop.hpp"
#include "app/render.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"
#include "stereo/stereogram.hpp"
#include "web/page_options.hpp"
#include "world/world.hpp"
#include "world/world_file.hpp"
#include "world/world_step.hpp"

namespace tolvane {

namespace {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;

// The page's engine and what it gathers between two animation frames: the
// page is the front end, the engine's step the same as the desktop's.
struct Page {
    PageOptions options;
    Engine engine;
    FrameCommand command;
    InputState input;
    TextBuffer caption;
    FrameRate rate;
    // frozen=1 waits for the first stereogram frame.
    bool freezePending = false;
    bool pictureRequested = false;
    std::string status;
};

Page page;

void pressKey(SDLKey sym) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = sym;
    dispatchEvent(event, page.input, page.command);
}

// The demo's keys, except that K saves the picture as a download rather
// than as files in a folder nobody sees, and that there is nowhere to quit
// to.
void drainPageEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_k) {
            page.pictureRequested = true;
        } else if (event.type == SDL_QUIT || (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)) {
            continue;
        } else {
            dispatchEvent(event, page.input, page.command);
        }
    }
}

void showStatus() {
    std::string status = pageStatus(page.engine.display, page.engine.clock.timeScale == 0.0f);
    if (status == page.status) return;
    page.status = std::move(status);
    EM_ASM({ Module.showStatus(UTF8ToString($0)); }, page.status.c_str());
}

void stepPage() {
    Engine& engine = page.engine;
    const double begin = emscripten_get_now();
    const bool locked = lockDisplay() == 0;
    const std::int64_t now = steadyNanoseconds();
    if (page.rate.windowStart == kNoPreviousFrame) page.rate.windowStart = engine.clock.lastFrameNanoseconds;
    double worldMs = 0.0;
    double presentMs = 0.0;
    if (locked) {
        const double worldBegin = emscripten_get_now();
        DepthMap screen = screenDepthMap();
        stepEngine(engine, page.command, &screen, FrameTime::at(now));
        const double presentBegin = emscripten_get_now();
        showScreen();
        presentMs = emscripten_get_now() - presentBegin;
        worldMs = presentBegin - worldBegin;
        if (page.pictureRequested) {
            EM_ASM({ Module.savePicture($0); }, getOption(engine.display, OptionSlot::DepthView) == 0 ? 1 : 0);
        }
    } else {
        applyCommand(engine, page.command);
        updateFrameTimeAt(engine.clock, now);
    }
    page.command.clear();
    if (locked && page.freezePending && getOption(engine.display, OptionSlot::DepthView) == 0) {
        pressKey(SDLK_r);
        page.freezePending = false;
    }
    countFrame(page.rate, now);
    if (rebuildCaption(page.caption, engine.clock.timeScale == 0.0f ? 0.0 : page.rate.perSecond)) {
        SDL_WM_SetCaption(page.caption.data(), "");
    }
    page.pictureRequested = false;
    drainPageEvents();
    showStatus();
    // The page keeps the sums: the world step with the stereogram transform,
    // the copy into the canvas, and the whole step.
    EM_ASM({ Module.frameDone($0, $1, $2); }, worldMs, presentMs, emscripten_get_now() - begin);
}

int startPage() {
    // Emscripten's SDL would otherwise read the canvas back into the
    // surface at every lock and make every pixel opaque again: the engine
    // redraws the whole surface each frame, and its palette is opaque.
    EM_ASM({
        SDL.defaults.copyOnLock = false;
        SDL.defaults.discardOnLock = true;
        SDL.defaults.opaqueFrontBuffer = false;
    });
    char* query = emscripten_run_script_string("location.search");
    page.options = parsePageQuery(query != nullptr ? query : "");
    for (const std::string& problem : page.options.problems) {
        EM_ASM({ Module.showProblem(UTF8ToString($0)); }, problem.c_str());
    }
    EM_ASM({ Module.setScale($0); }, page.options.scale);

    Engine& engine = page.engine;
    const RenderOptions& render = page.options.render;
    initDisplay(engine.display, kScreenWidth, kScreenHeight, 1);
    // The renderer's start, so that a seeded page draws what --render
    // writes: its seed, palettes, options and camera, as the command of the
    // first step; the world lies in the packaged files' folder. Its problems
    // are told on the page as well as on the console.
    engine.worldFile = render.worldFile;
    engine.world.reportProblems = false;
    startEngine(engine, render.seeded ? render.seed : static_cast<std::uint32_t>(std::time(nullptr)));
    loadWorldOnce(engine.world, render.worldFile.c_str());
    for (const WorldProblem& problem : engine.world.problems) {
        const std::string line = escapeForDisplay(render.worldFile) + ": " + problemLine(problem);
        std::cerr << line << '\n';
        EM_ASM({ Module.showProblem(UTF8ToString($0)); }, line.c_str());
    }
    applyCommand(engine, renderCommand(render));
    if (!page.options.viewGiven) setOption(engine.display, OptionSlot::DepthView, 1);
    engine.world.world.setElapsed(render.startTime);
    page.freezePending = page.options.frozen;
    if (page.options.paused) pressKey(SDLK_p);
    updateFrameTime(engine.clock);
    emscripten_set_main_loop(stepPage, 0, 0);
    return 0;
}

}  // namespace

}  // namespace tolvane

// For measurements only: the milliseconds per frame of `frames` frames of
// the world the page shows, done as the native benchmark of a sample-world
// frame does them (clear, update, draw, renew the dots, transform) in a map
// and a world of their own, so that the browser's figure and the native one
// time the same work. The page's dots change afterwards: the frames draw
// from the same random generator.
extern "C" EMSCRIPTEN_KEEPALIVE double tolvaneMeasureFrames(int frames) {
    using namespace tolvane;
    World world;
    WorldProblems problems;
    loadWorld(world, page.options.render.worldFile.c_str(), problems);
    DepthMapPtr map = createDepthMap(kScreenWidth, kScreenHeight);
    if (!map || frames < 1) return 0.0;
    const double begin = emscripten_get_now();
    StereogramState stereogram;
    for (int i = 0; i < frames; ++i) {
        fillDepthMap(*map, 0);
        world.update(1.0f / 60.0f);
        world.draw(*map);
        renderStereogram(stereogram, page.engine.display.random, *map, PatternSettings{});
    }
    return (emscripten_get_now() - begin) / frames;
}

// SDL.h may rename main for its own entry wrapper, which needs this signature.
int main(int, char*[]) { return tolvane::startPage(); }
