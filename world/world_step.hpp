#pragma once
// The frame loop's one call into the world.

#include "depth/depth_map.hpp"

namespace tolvane {

// True once the first step has tried to build the world, whatever came of it.
extern bool worldLoaded;

// One frame of the world, with what the frame loop measured and was asked:
// clears `target` to 0; on the first call reads the description `worldFile`
// (images relative to its folder), builds theWorld from it and prints to
// standard error one line per problem found, each starting with `worldFile`;
// then advances theWorld by `dt` seconds, draws it into `target` and, when
// `saveScreenshot` is set, saves `target` as "screenshot.bmp" in the working
// folder, wherever the world lies (a line on standard error when that
// fails). The caller owns the request and clears it once a step has seen it.
// `sampleWorld`, when given, is named in the line for a bare `worldFile`
// that cannot be read (see loadWorld).
void stepWorld(DepthMap& target, float dt, bool saveScreenshot, const char* worldFile = "world.xml",
               const char* sampleWorld = nullptr);

}  // namespace tolvane
