// One monotonic clock for every module, in 100-ns units, and the (no-op) resolution request.
#pragma once

#include <cstdint>

uint64_t Platform_Clock_Now100ns();
// The range the system offers for a timer-resolution request, in 100-ns units.
void Platform_Clock_ResolutionRange(uint32_t* coarsest, uint32_t* finest);
