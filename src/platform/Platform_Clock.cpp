#include "Platform_Clock.h"

#include <ctime>

uint64_t Platform_Clock_Now100ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 10000000u + static_cast<uint64_t>(ts.tv_nsec) / 100u;
}

void Platform_Clock_ResolutionRange(uint32_t* coarsest, uint32_t* finest) {
    // Linux timers need no request; report the span a desktop system grants so that a
    // request is clamped the same way everywhere: 15.625 ms coarsest, 0.5 ms finest.
    *coarsest = 156250;
    *finest = 5000;
}

std::string Platform_Clock_LocalTimeText() {
    const time_t now = time(nullptr);
    tm local{};
    char text[16];
    if (!localtime_r(&now, &local) || strftime(text, sizeof text, "%H:%M:%S", &local) == 0)
        return "??:??:??";
    return text;
}
