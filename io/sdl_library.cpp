#include "io/sdl_library.hpp"

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <string>

namespace tolvane {
namespace {

// Every SDL function the project calls (the tests included). A name added
// here needs its forwarding definition below, and the other way round.
#define TOLVANE_SDL_FUNCTIONS(X)                                                       \
    X(SDL_Init) X(SDL_Quit) X(SDL_GetError) X(SDL_VideoDriverName) X(SDL_GetVideoInfo) \
    X(SDL_SetVideoMode) X(SDL_GetVideoSurface) X(SDL_WM_SetCaption)                    \
    X(SDL_WM_GetCaption) X(SDL_SetColors) X(SDL_MapRGB) X(SDL_UpdateRect)              \
    X(SDL_FillRect) X(SDL_CreateRGBSurface) X(SDL_FreeSurface) X(SDL_LockSurface)      \
    X(SDL_UnlockSurface) X(SDL_PollEvent) X(SDL_PushEvent) X(SDL_GetKeyName)           \
    X(SDL_LoadBMP_RW) X(SDL_SaveBMP_RW) X(SDL_RWFromMem) X(SDL_RWFromConstMem)         \
    X(SDL_RWFromFP) X(SDL_AllocRW) X(SDL_FreeRW)

constexpr const char* kLibraryName = "libSDL-1.2.so.0";

struct Functions {
#define TOLVANE_SDL_POINTER(name) decltype(&::name) name = nullptr;
    TOLVANE_SDL_FUNCTIONS(TOLVANE_SDL_POINTER)
#undef TOLVANE_SDL_POINTER
};

// The one process-wide record of the opened library: SDL itself is
// process-wide, and the handle is never closed, since SDL 2 does not
// survive being unloaded while its threads or atexit handlers remain.
struct Library {
    std::once_flag once;
    std::atomic<bool> open{false};
    Functions functions;
    std::string failure;  // why it could not be opened; empty once open
};

Library theLibrary;

void openLibrary() {
    void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        theLibrary.failure = std::string("cannot load ") + kLibraryName + ": " +
                             (why != nullptr ? why : "unknown reason");
        return;
    }
    Functions found;
#define TOLVANE_SDL_FIND(name)                                                        \
    found.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));         \
    if (found.name == nullptr) {                                                      \
        theLibrary.failure = std::string(kLibraryName) + " has no function " + #name; \
        return;                                                                       \
    }
    TOLVANE_SDL_FUNCTIONS(TOLVANE_SDL_FIND)
#undef TOLVANE_SDL_FIND
    theLibrary.functions = found;
    theLibrary.open.store(true, std::memory_order_release);
}

// The functions, opening the library on the first call; null when it
// cannot be opened.
const Functions* sdl() {
    std::call_once(theLibrary.once, openLibrary);
    return theLibrary.open.load(std::memory_order_acquire) ? &theLibrary.functions : nullptr;
}

// The functions if the library is already open, without opening it: for
// the calls that only undo or report what an earlier call did.
const Functions* sdlIfOpen() {
    return theLibrary.open.load(std::memory_order_acquire) ? &theLibrary.functions : nullptr;
}

char* failureText() {
    // SDL_GetError hands out a char* that callers only read.
    return theLibrary.failure.data();
}

}  // namespace

}  // namespace tolvane

using tolvane::sdl;
using tolvane::sdlIfOpen;

extern "C" {

int SDL_Init(Uint32 flags) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_Init(flags) : -1;
}
void SDL_Quit() {
    if (const auto* f = sdlIfOpen()) f->SDL_Quit();
}
char* SDL_GetError() {
    if (const auto* f = sdlIfOpen()) return f->SDL_GetError();
    return tolvane::failureText();
}
char* SDL_VideoDriverName(char* namebuf, int maxlen) {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_VideoDriverName(namebuf, maxlen) : nullptr;
}
const SDL_VideoInfo* SDL_GetVideoInfo() {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_GetVideoInfo() : nullptr;
}
SDL_Surface* SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_SetVideoMode(width, height, bpp, flags) : nullptr;
}
SDL_Surface* SDL_GetVideoSurface() {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_GetVideoSurface() : nullptr;
}
void SDL_WM_SetCaption(const char* title, const char* icon) {
    if (const auto* f = sdlIfOpen()) f->SDL_WM_SetCaption(title, icon);
}
void SDL_WM_GetCaption(char** title, char** icon) {
    if (const auto* f = sdlIfOpen()) {
        f->SDL_WM_GetCaption(title, icon);
        return;
    }
    if (title != nullptr) *title = nullptr;
    if (icon != nullptr) *icon = nullptr;
}
int SDL_SetColors(SDL_Surface* surface, SDL_Color* colors, int firstcolor, int ncolors) {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_SetColors(surface, colors, firstcolor, ncolors) : 0;
}
Uint32 SDL_MapRGB(const SDL_PixelFormat* const format, const Uint8 r, const Uint8 g,
                  const Uint8 b) {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_MapRGB(format, r, g, b) : 0;
}
void SDL_UpdateRect(SDL_Surface* screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h) {
    if (const auto* f = sdlIfOpen()) f->SDL_UpdateRect(screen, x, y, w, h);
}
int SDL_FillRect(SDL_Surface* dst, SDL_Rect* dstrect, Uint32 color) {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_FillRect(dst, dstrect, color) : -1;
}
SDL_Surface* SDL_CreateRGBSurface(Uint32 flags, int width, int height, int depth, Uint32 Rmask,
                                  Uint32 Gmask, Uint32 Bmask, Uint32 Amask) {
    const auto* f = sdl();
    return f != nullptr
               ? f->SDL_CreateRGBSurface(flags, width, height, depth, Rmask, Gmask, Bmask, Amask)
               : nullptr;
}
void SDL_FreeSurface(SDL_Surface* surface) {
    if (const auto* f = sdlIfOpen()) f->SDL_FreeSurface(surface);
}
int SDL_LockSurface(SDL_Surface* surface) {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_LockSurface(surface) : -1;
}
void SDL_UnlockSurface(SDL_Surface* surface) {
    if (const auto* f = sdlIfOpen()) f->SDL_UnlockSurface(surface);
}
int SDL_PollEvent(SDL_Event* event) {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_PollEvent(event) : 0;
}
int SDL_PushEvent(SDL_Event* event) {
    const auto* f = sdlIfOpen();
    return f != nullptr ? f->SDL_PushEvent(event) : -1;
}
char* SDL_GetKeyName(SDLKey key) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_GetKeyName(key) : tolvane::failureText();
}
SDL_Surface* SDL_LoadBMP_RW(SDL_RWops* src, int freesrc) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_LoadBMP_RW(src, freesrc) : nullptr;
}
int SDL_SaveBMP_RW(SDL_Surface* surface, SDL_RWops* dst, int freedst) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_SaveBMP_RW(surface, dst, freedst) : -1;
}
SDL_RWops* SDL_RWFromMem(void* mem, int size) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_RWFromMem(mem, size) : nullptr;
}
SDL_RWops* SDL_RWFromConstMem(const void* mem, int size) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_RWFromConstMem(mem, size) : nullptr;
}
SDL_RWops* SDL_RWFromFP(FILE* fp, int autoclose) {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_RWFromFP(fp, autoclose) : nullptr;
}
SDL_RWops* SDL_AllocRW() {
    const auto* f = sdl();
    return f != nullptr ? f->SDL_AllocRW() : nullptr;
}
void SDL_FreeRW(SDL_RWops* area) {
    if (const auto* f = sdlIfOpen()) f->SDL_FreeRW(area);
}

}  // extern "C"
