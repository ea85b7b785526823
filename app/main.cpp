#include <SDL.h>

#include "app/entry.hpp"

// SDL.h may rename main to hand it to SDL's own entry wrapper, which needs
// exactly this signature.
int main(int argc, char* argv[]) { return tolvane::runEntry(argc, argv); }
