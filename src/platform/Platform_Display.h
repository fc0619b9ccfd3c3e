// The display the programs show their windows on. SDL falls back on its own to an invisible
// driver (offscreen) when no display can be reached, which leaves a program running with no
// window and no word; the programs start their video here instead.
#pragma once

#include <string>

// Starts SDL's video (once more when it runs already, as SDL counts them). Unless
// SDL_VIDEODRIVER names a driver (dummy and offscreen run headless on purpose), only the drivers
// that reach a real display are tried. False when none opens; *reason (when given) then says
// which display was wanted and SDL's reason. Once started, SIGTERM and SIGINT are watched
// (Platform_Process_TerminationRequested).
bool Platform_Display_Start(std::string* reason);
