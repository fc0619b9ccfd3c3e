#include "Platform_Display.h"

#include "Platform_Process.h"

#include <SDL.h>

namespace {

// Drivers that show nothing: chosen only when asked for by name.
bool isInvisibleDriver(const char* name) {
    for (const char* invisible : {"offscreen", "dummy", "evdev"})
        if (SDL_strcasecmp(name, invisible) == 0) return true;
    return false;
}

// SDL's compiled-in drivers that reach a real display, in SDL's order, comma-separated.
std::string realDrivers() {
    std::string list;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const char* name = SDL_GetVideoDriver(i);
        if (!name || isInvisibleDriver(name)) continue;
        if (!list.empty()) list += ',';
        list += name;
    }
    return list;
}

std::string wantedDisplay() {
    const char* x = SDL_getenv("DISPLAY");
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    std::string text = x && *x ? std::string("DISPLAY=") + x : "DISPLAY is not set";
    if (wayland && *wayland) text += std::string(", WAYLAND_DISPLAY=") + wayland;
    return text;
}

} // namespace

bool Platform_Display_Start(std::string* reason) {
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    const bool chosen = asked && *asked;
    const std::string drivers = chosen ? std::string() : realDrivers();
    // Kept for the whole run: a later start of the video (after a window closed it) must not
    // fall back either.
    if (!drivers.empty()) SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        // SDL's own handlers now turn SIGTERM and SIGINT into quit events; a box must also know
        // of one that some other loop took first.
        Platform_Process_WatchTermination();
        return true;
    }
    if (reason)
        *reason = "no display could be opened (" + wantedDisplay() + "): " + SDL_GetError() +
                  "; SDL_VIDEODRIVER=dummy runs without one";
    return false;
}
