#include "world/world_step.hpp"

#include <cstdio>
#include <string>

#include "depth/bitmap_file.hpp"
#include "markup/text.hpp"
#include "world/world.hpp"
#include "world/world_file.hpp"

namespace tolvane {

bool worldLoaded = false;

void stepWorld(DepthMap& target, float dt, bool saveScreenshot, const char* worldFile, const char* sampleWorld) {
    fillDepthMap(target, 0);
    if (!worldLoaded) {
        // Read once, whatever comes of it. An author who gets a blank or
        // half-drawn screen learns why from these lines.
        WorldProblems problems;
        loadWorld(theWorld, worldFile, problems, sampleWorld);
        worldLoaded = true;
        for (const WorldProblem& problem : problems) {
            std::fprintf(stderr, "%s: %s\n", escapeForDisplay(worldFile).c_str(), problemLine(problem).c_str());
        }
    }
    theWorld.update(dt);
    theWorld.draw(target);
    if (saveScreenshot) {
        if (const DepthOutcome saved = saveDepthMapBitmap(target, "screenshot.bmp"); !saved) {
            std::fprintf(stderr, "screenshot.bmp: could not be written: %s\n", escapeForDisplay(saved.detail).c_str());
        }
    }
}

}  // namespace tolvane
