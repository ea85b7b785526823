#pragma once
// SDL 1.2 is opened on first use rather than by the program loader.
//
// Debian's SDL 1.2 is a compatibility layer that opens SDL 2, and SDL 2
// about fifty libraries of its own (X11, Wayland, sound servers, codecs),
// all before main when the program is linked against it: some 20 ms of
// start-up that a conversion or a stereogram of a depth picture, which
// never open a window, should not pay. sdl_library.cpp defines the SDL
// functions the project calls; the first one that needs SDL opens
// libSDL-1.2.so.0, and each then forwards to the library's own.
//
// When the library cannot be opened, the calls fail as SDL's own do (a
// negative status or a null pointer) and SDL_GetError gives the reason, so
// every caller reports it through the path it already has.
//
// The functions are SDL's own, declared by <SDL.h>; nothing else is.
