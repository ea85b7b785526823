#pragma once
// Reading a world description from a file, wherever it lies.

#include <string>

#include "world/world.hpp"

namespace tolvane {

// Reads the description `worldFile` and builds `world` from its "World"
// element. Image files named with a relative "file" are opened from the
// folder of `worldFile`, so a world can be started from any working folder;
// with a bare name such as "world.xml" that is the working folder. What
// cannot be shown as written is added to `problems`: first what the markup
// reader does not read as meant (a byte order mark or blank space before the
// first "<", a declaration or a comment, elements nested too deep), by its
// cause and with an empty `element`, then the problems of the images and
// elements. False, with an empty world and one last problem saying why
// (CannotReadDescription or OutOfMemory), when the description cannot be
// read at all: it is missing, not a file, larger than kMaxMarkupFileBytes or
// unreadable, or it does not fit in memory. When a bare name cannot be read
// and `sampleWorld` is given, that line also says where the sample world
// lies, for a user who started the program in a folder without a world.
bool loadWorld(World& world, const char* worldFile, WorldProblems& problems, const char* sampleWorld = nullptr);

// Where an image file named `file` in the description `worldFile` is opened:
// a relative name joined to the description's folder; an absolute or empty
// one as it stands.
std::string worldRelativePath(const char* worldFile, const char* file);

}  // namespace tolvane
