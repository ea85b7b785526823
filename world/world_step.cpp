#include "world/world_step.hpp"

#include <cstdio>
#include <string>

#include "depth/bitmap_file.hpp"
#include "markup/text.hpp"
#include "world/world.hpp"
#include "world/world_file.hpp"

namespace tolvane {

void loadWorldOnce(WorldRun& run, const char* worldFile) {
    if (run.loaded) return;
    // Read once, whatever comes of it. An author who gets a blank or
    // half-drawn screen learns why from these lines.
    run.readable = loadWorld(run.world, worldFile, run.problems,
                             run.sampleWorld.empty() ? nullptr : run.sampleWorld.c_str());
    run.loaded = true;
    if (!run.reportProblems) return;
    for (const WorldProblem& problem : run.problems) {
        std::fprintf(stderr, "%s: %s\n", escapeForDisplay(worldFile).c_str(), problemLine(problem).c_str());
    }
}

void stepWorld(WorldRun& run, DepthMap& target, float dt, bool saveScreenshot, const char* worldFile) {
    fillDepthMap(target, 0);
    advanceWorld(run, dt, worldFile);
    run.world.draw(target);
    if (saveScreenshot) {
        if (const DepthOutcome saved = saveDepthMapBitmap(target, "screenshot.bmp"); !saved) {
            std::fprintf(stderr, "screenshot.bmp: could not be written: %s\n", escapeForDisplay(saved.detail).c_str());
        }
    }
}

void advanceWorld(WorldRun& run, float dt, const char* worldFile) {
    loadWorldOnce(run, worldFile);
    run.world.update(dt);
}

}  // namespace tolvane
