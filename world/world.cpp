// placeholder until the world lands
#include "world/world.hpp"
World theWorld;
