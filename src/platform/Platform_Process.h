// Starting another program without waiting for it.
#pragma once

#include <string>
#include <vector>

// Starts program with args (not counting argv[0]) in workingFolder ("" = ours). False when it
// cannot be started. The child is reaped in the background, so it never lingers as a zombie.
bool Platform_Process_Start(const std::string& program, const std::vector<std::string>& args,
                            const std::string& workingFolder);

// The environment variable `name` when it is set and not empty; otherwise `fallback`, which is
// also put into the environment (when not empty) so that code reading only the variable (the
// engine) sees the same value. Used for settings a variable overrides, such as ZELVIK_MASTER.
std::string Platform_Process_EnvOrSet(const char* name, const std::string& fallback);

// From this call on, SIGTERM and SIGINT are noted before they go to the handler that was in
// place (SDL's, which turns them into a quit event; or the default, which ends the program).
// Programs call it once their SDL events run.
void Platform_Process_WatchTermination();
// True once SIGTERM or SIGINT arrived after Platform_Process_WatchTermination: nobody may be
// there to answer a box any more, and the program is on its way out.
bool Platform_Process_TerminationRequested();
