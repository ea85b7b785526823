#pragma once
// The frame loop's one call into the world.

void stepWorld();
