// Starting another program without waiting for it.
#pragma once

#include <string>
#include <vector>

// Starts program with args (not counting argv[0]) in workingFolder ("" = ours). False when it
// cannot be started. The child is reaped in the background, so it never lingers as a zombie.
bool Platform_Process_Start(const std::string& program, const std::vector<std::string>& args,
                            const std::string& workingFolder);
