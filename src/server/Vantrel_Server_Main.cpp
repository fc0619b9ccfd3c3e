// Zelvik_Server: the dedicated-server window, run from the game folder.
#include "Platform_Display.h"
#include "Vantrel_Server.h"

#include <cstdio>
#include <string>

int main() {
    // Checked before the game port is taken: a server without its window cannot be stopped
    // or watched (SDL_VIDEODRIVER=dummy runs it headless on purpose).
    std::string reason;
    if (!Platform_Display_Start(&reason)) {
        std::fprintf(stderr, "Zelvik_Server: %s\n", reason.c_str());
        return 1;
    }
    return ServerWindow_Main();
}
