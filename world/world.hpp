#pragma once
// The world: camera offset, image catalogue and placed elements.

#include <cstdint>

class World {
public:
    std::int32_t cameraX = 0;
    std::int32_t cameraY = 0;
};

extern World theWorld;
