#pragma once
// The frame loop's one call into the world.

#include "depth/depth_map.hpp"

// True once the first step has tried to build the world, whatever came of it.
extern bool worldLoaded;

// Clears `target` to 0; on the first call reads "world.xml" from the working
// folder, builds theWorld from it and prints to standard error one line per
// problem found; then advances theWorld by frameDt, draws it into `target`
// and, when a screenshot was requested, saves `target` as "screenshot.bmp".
void stepWorld(DepthMap& target);
// The same over the screen's depth map.
void stepWorld();
