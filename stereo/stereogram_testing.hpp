#pragma once
// For tests and benchmarks only: a look at the renderer's pattern.

#include "depth/depth_map.hpp"
#include "stereo/stereogram.hpp"

namespace tolvane {

// The pattern renderStereogram keeps between frames; null before the first
// stereogram frame and after releasePattern.
inline const DepthMap* currentPattern(const StereogramState& state) { return state.pattern.get(); }

}  // namespace tolvane
