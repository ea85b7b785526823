#pragma once
// The random-dot stereogram transform, in place over a depth map.

#include "depth/depth_map.hpp"

// Creates the pattern on first use (PatternWidth x PatternHeight), renews it
// while PatternEveryFrame is 1, then transforms `map` in place.
void renderStereogram(DepthMap& map);
void fillRandom(DepthMap& map);
void releasePattern();
const DepthMap* currentPattern();  // null before the first stereogram frame

// The transform alone, with a given pattern. Returns false, leaving `map`
// untouched, when the pattern cannot serve the map (pattern empty or wider
// than the map).
bool transformStereogram(DepthMap& map, const DepthMap& pattern);
