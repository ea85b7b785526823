#pragma once
// The frame step's calls into the world.

#include "depth/depth_map.hpp"
#include "world/world.hpp"

#include <string>

namespace tolvane {

// A world as the frame step runs it: built from its description on the
// first step, whatever comes of it, and never read again.
struct WorldRun {
    World world;
    bool loaded = false;    // the first step has tried to build the world
    bool readable = false;  // ... and the description could be read (loadWorld)
    WorldProblems problems;  // what that found
    bool reportProblems = true;  // else the problems go unsaid, told by the caller
    // Named when the description is a bare name that cannot be read; empty:
    // none (see loadWorld).
    std::string sampleWorld;
};

// On the first call only: reads the description `worldFile` (images
// relative to its folder), builds run.world from it, keeps the problems
// found and prints them to standard error, one line each, starting with
// `worldFile`.
void loadWorldOnce(WorldRun& run, const char* worldFile = "world.xml");

// One frame of the world, with what the frame loop measured and was asked:
// clears `target` to 0; loads the world (loadWorldOnce); then advances it
// by `dt` seconds, draws it into `target` and, when `saveScreenshot` is set,
// saves `target` as "screenshot.bmp" in the working folder, wherever the
// world lies (a line on standard error when that fails). The caller owns
// the request and clears it once a step has seen it.
void stepWorld(WorldRun& run, DepthMap& target, float dt, bool saveScreenshot, const char* worldFile = "world.xml");

// What stepWorld does to the world, without a picture: loads it and
// advances it by `dt` seconds. Drawing changes nothing in a world, so a
// later step draws exactly what it would have.
void advanceWorld(WorldRun& run, float dt, const char* worldFile = "world.xml");

}  // namespace tolvane
