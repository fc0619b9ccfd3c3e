// Millisecond and microsecond clocks, chosen once per module when it starts; all of a
// module's code reads time through the two pointers below.
#pragma once

#include <cstdint>

using HighResTimerClock = uint32_t (*)();

// Module-wide (each module that compiles this unit has its own pair).
extern HighResTimerClock GetMilliseconds;
extern HighResTimerClock GetMicroseconds;

uint64_t HighResTimer_InterruptTime(); // 100-ns units from the monotonic source
uint32_t HighResTimer_Milliseconds();
uint32_t HighResTimer_Microseconds();
uint32_t HighResTimer_TickMilliseconds();
uint32_t HighResTimer_TickMicroseconds();
// Granted resolution in 100-ns units, clamped to what the system offers; 0 withdraws the
// request and answers the system default (the coarsest).
uint32_t HighResTimer_SetResolution(uint32_t resolution);
// 1 when the precise clocks may be used.
uint32_t HighResTimer_Init();
// Chooses the clock pair (HighResTimer_Init, then the precise or the tick pair).
void HighResTimer_ChooseClocks();
