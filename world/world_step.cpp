#include "world/world_step.hpp"

#include <cstdio>

#include "app/frame_clock.hpp"
#include "depth/bitmap_file.hpp"
#include "display/display.hpp"
#include "markup/xml.hpp"
#include "world/world.hpp"

bool worldLoaded = false;

namespace {

// Reads the description once; the tree lives only while the world is built.
// An author who gets a blank or half-drawn screen learns why from these lines.
void loadWorld() {
    WorldProblems problems;
    {
        XmlNode root;
        const bool opened = root.loadFile("world.xml");
        const XmlNode* w = root.findFirst("World");
        if (!opened) {
            problems.push_back("cannot be read from the working folder; the world is empty");
        } else if (w == nullptr) {
            problems.push_back("has no \"World\" element; the world is empty");
        }
        theWorld.build(w, &problems);
        worldLoaded = true;
    }
    for (const std::string& line : problems) std::fprintf(stderr, "world.xml: %s\n", line.c_str());
}

}  // namespace

void stepWorld(DepthMap& target) {
    fillDepthMap(target, 0);
    if (!worldLoaded) loadWorld();
    theWorld.update(frameDt);
    theWorld.draw(target);
    if (screenshotRequested) {
        screenshotRequested = false;
        if (const DepthOutcome saved = saveDepthMapBitmap(target, "screenshot.bmp"); !saved) {
            std::fprintf(stderr, "screenshot.bmp: could not be written: %s\n", saved.detail.c_str());
        }
    }
}

void stepWorld() { stepWorld(screenDepthMap()); }
