#pragma once
// For tests and benchmarks only: a look at the renderer's pattern.

#include "depth/depth_map.hpp"

namespace tolvane {

// The pattern renderStereogram keeps between frames; null before the first
// stereogram frame and after releasePattern.
const DepthMap* currentPattern();

}  // namespace tolvane
