// placeholder until the world lands: the step only clears the depth map
#include "world/world_step.hpp"
#include "depth/depth_map.hpp"
#include "display/display.hpp"
void stepWorld() { fillDepthMap(screenDepthMap(), 0); }
