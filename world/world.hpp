#pragma once
// The world: camera offset, image catalogue and placed elements.
