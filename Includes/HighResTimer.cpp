#include "HighResTimer.h"

#include "Platform_Clock.h"

HighResTimerClock GetMilliseconds = HighResTimer_Milliseconds;
HighResTimerClock GetMicroseconds = HighResTimer_Microseconds;

namespace {
uint32_t grantedResolution = 0;
}

uint64_t HighResTimer_InterruptTime() {
    return Platform_Clock_Now100ns();
}

uint32_t HighResTimer_Milliseconds() {
    return static_cast<uint32_t>(HighResTimer_InterruptTime() / 10000u);
}

uint32_t HighResTimer_Microseconds() {
    return static_cast<uint32_t>(HighResTimer_InterruptTime() / 10u);
}

// The tick pair reads the same source at millisecond grain.
uint32_t HighResTimer_TickMilliseconds() {
    return HighResTimer_Milliseconds();
}

uint32_t HighResTimer_TickMicroseconds() {
    return HighResTimer_TickMilliseconds() * 1000u;
}

uint32_t HighResTimer_SetResolution(uint32_t resolution) {
    uint32_t coarsest = 0, finest = 0;
    Platform_Clock_ResolutionRange(&coarsest, &finest);
    if (resolution == 0) {
        // Withdrawn: the system falls back to its default, the coarsest resolution.
        grantedResolution = coarsest;
        return grantedResolution;
    }
    if (resolution > coarsest) resolution = coarsest;
    if (resolution < finest) resolution = finest;
    grantedResolution = resolution;
    return grantedResolution;
}

uint32_t HighResTimer_Init() {
    HighResTimer_SetResolution(5000);
    return 1;
}

void HighResTimer_ChooseClocks() {
    if (HighResTimer_Init()) {
        GetMilliseconds = HighResTimer_Milliseconds;
        GetMicroseconds = HighResTimer_Microseconds;
    } else {
        GetMilliseconds = HighResTimer_TickMilliseconds;
        GetMicroseconds = HighResTimer_TickMicroseconds;
    }
}
