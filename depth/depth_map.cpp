// placeholder until the raster lands
#include "depth/depth_map.hpp"
#include <cstring>
std::int32_t rowPhase = 0;
void fillDepthMap(DepthMap& map, std::uint8_t value) { std::memset(map.pixels, value, std::size_t(map.area.w) * std::size_t(map.area.h)); }
