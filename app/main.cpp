#include <SDL.h>

#include <iostream>

#include "app/entry.hpp"

// SDL.h may rename main to hand it to SDL's own entry wrapper, which needs
// exactly this signature. The standard streams are opened here, outside the
// libraries.
int main(int argc, char* argv[]) { return tolvane::runEntry(argc, argv, std::cout, std::cerr); }
