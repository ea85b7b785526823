#pragma once
// The random-dot stereogram transform, in place over a depth map.
//
// Each row is rewritten right to left: the rightmost P pixels take bytes of
// the pattern row (y mod Q), every other pixel copies the pixel P - d to its
// right, so the dots repeat with a period that shrinks where the depth is
// nearer. P and Q are the pattern's width and height.

#include "depth/depth_map.hpp"

// Creates the pattern on first use (PatternWidth x PatternHeight), renews it
// while PatternEveryFrame is 1, then transforms `map` in place. The pattern's
// size is fixed once created. When the pattern cannot be created or cannot
// serve the map (see transformStereogram), the map is left untouched.
void renderStereogram(DepthMap& map);
// Every pixel byte, in storage order, becomes rand() & 0xFF.
void fillRandom(DepthMap& map);
void releasePattern();
const DepthMap* currentPattern();  // null before the first stereogram frame

// The transform alone, with a given pattern. Returns false, leaving `map`
// untouched, when the pattern cannot serve the map: pattern empty or wider
// than the map. Depths above P - 1 are taken as P - 1, the nearest depth
// whose source pixel still lies to the right, so that no input reads outside
// the row or the pattern.
bool transformStereogram(DepthMap& map, const DepthMap& pattern);

