// One monotonic clock for every module, in 100-ns units, and the (no-op) resolution request.
#pragma once

#include <cstdint>
#include <string>

uint64_t Platform_Clock_Now100ns();
// The range the system offers for a timer-resolution request, in 100-ns units.
void Platform_Clock_ResolutionRange(uint32_t* coarsest, uint32_t* finest);
// The local time of day as "HH:MM:SS" (log lines carry it); "??:??:??" when it is unknown.
std::string Platform_Clock_LocalTimeText();
