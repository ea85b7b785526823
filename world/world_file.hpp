#pragma once
// Reading a world description from a file, wherever it lies.

#include <string>

#include "world/world.hpp"

namespace tolvane {

// Reads the description `worldFile` and builds `world` from its "World"
// element. Image files named with a relative "file" are opened from the
// folder of `worldFile`, so a world can be started from any working folder;
// with a bare name such as "world.xml" that is the working folder. What
// cannot be shown as written goes to `problems`, one line each, without the
// file's name: first what the markup reader does not read as meant (a byte
// order mark or blank space before the first "<", a declaration or a
// comment), named by its cause, then the problems of the images and
// elements. When a bare name cannot be read and `sampleWorld` is given,
// the line also says where that world lies, for a user who started the
// program in a folder without a world of its own.
void loadWorld(World& world, const char* worldFile, WorldProblems& problems, const char* sampleWorld = nullptr);

// Where an image file named `file` in the description `worldFile` is opened:
// a relative name joined to the description's folder; an absolute or empty
// one as it stands.
std::string worldRelativePath(const char* worldFile, const char* file);

}  // namespace tolvane
