#include "HighResTimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(HighResTimer, ResolutionRequestIsClamped) {
    // The range offered is 0.5 ms to 15.625 ms, in 100-ns units.
    EXPECT_EQ(HighResTimer_SetResolution(1), 5000u);
    EXPECT_EQ(HighResTimer_SetResolution(4999), 5000u);
    EXPECT_EQ(HighResTimer_SetResolution(5000), 5000u);
    EXPECT_EQ(HighResTimer_SetResolution(10000), 10000u);
    EXPECT_EQ(HighResTimer_SetResolution(156250), 156250u);
    EXPECT_EQ(HighResTimer_SetResolution(156251), 156250u);
    EXPECT_EQ(HighResTimer_SetResolution(UINT32_MAX), 156250u);
    // Withdrawing answers the default the system falls back to.
    EXPECT_EQ(HighResTimer_SetResolution(0), 156250u);
}

TEST(HighResTimer, ModuleChoosesThePreciseClocks) {
    EXPECT_EQ(GetMilliseconds, &HighResTimer_Milliseconds); // usable before the choice
    EXPECT_EQ(HighResTimer_Init(), 1u);
    HighResTimer_ChooseClocks();
    EXPECT_EQ(GetMilliseconds, &HighResTimer_Milliseconds);
    EXPECT_EQ(GetMicroseconds, &HighResTimer_Microseconds);
}

TEST(HighResTimer, ClocksShareOneSourceAndUnit) {
    // Each reading is the interrupt time cut to 32 bits: bracket it by two raw readings.
    const uint64_t before = HighResTimer_InterruptTime();
    const uint32_t ms = HighResTimer_Milliseconds();
    const uint32_t us = HighResTimer_Microseconds();
    const uint64_t after = HighResTimer_InterruptTime();
    EXPECT_LE(uint32_t(ms - uint32_t(before / 10000)), uint32_t(after / 10000 - before / 10000));
    EXPECT_LE(uint32_t(us - uint32_t(before / 10)), uint32_t(after / 10 - before / 10));
    // Whole ticks in microseconds, cut to 32 bits like every reading (so past 2^32 us of
    // uptime the value is no longer a multiple of 1000); the tick may move between the reads.
    const uint32_t tick = HighResTimer_TickMilliseconds();
    const uint32_t tickUs = HighResTimer_TickMicroseconds();
    EXPECT_TRUE(tickUs == tick * 1000u || tickUs == (tick + 1) * 1000u) << tick << " " << tickUs;

    const uint32_t m0 = GetMilliseconds(), t0 = HighResTimer_TickMilliseconds();
    const uint32_t u0 = GetMicroseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint32_t dm = GetMilliseconds() - m0, dt = HighResTimer_TickMilliseconds() - t0;
    const uint32_t du = GetMicroseconds() - u0;
    // A slow machine may stretch the sleep, never shorten it.
    EXPECT_GE(dm, 200u);
    EXPECT_LT(dm, 5000u);
    EXPECT_GE(dt, 199u);
    EXPECT_LT(dt, 5000u);
    EXPECT_GE(du, 200000u);
    EXPECT_LT(du / 1000, dm + 2);
    EXPECT_GE(du / 1000 + 2, dm);
}

TEST(HighResTimer, ReadingsNeverGoBack) {
    uint32_t last = GetMicroseconds();
    uint64_t lastRaw = HighResTimer_InterruptTime();
    for (int i = 0; i < 200000; i++) {
        const uint32_t now = GetMicroseconds();
        const uint64_t raw = HighResTimer_InterruptTime();
        ASSERT_LT(uint32_t(now - last), 0x80000000u); // modulo 2^32: forward or still
        ASSERT_GE(raw, lastRaw);
        last = now;
        lastRaw = raw;
    }
}

} // namespace
