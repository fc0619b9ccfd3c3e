// Level tables of the game modes and the small arithmetic every mode shares: ranged look-ups,
// threshold crossings and frame counts from seconds.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

inline constexpr int32_t kOpenEnd = std::numeric_limits<int32_t>::max();

// One inclusive range of a level (or grade, or score) table.
struct LevelRange {
    int32_t first;
    int32_t last;
    int32_t value;
};

// The value of the range holding key; 0 when no range holds it.
template <size_t N> constexpr int32_t LevelTable_Lookup(const LevelRange (&table)[N], int32_t key) {
    for (const LevelRange& r : table)
        if (key >= r.first && key <= r.last) return r.value;
    return 0;
}

// A step from level by n crosses x when it starts below x and ends at or above it, so a step
// over several thresholds fires each of them once.
constexpr bool Mode_Crosses(int32_t level, int32_t n, int32_t x) {
    return level < x && level + n >= x;
}

// Ceiling of a non-negative quotient, in integers so no floating-point mode can change it.
constexpr int32_t Mode_CeilDiv(int32_t a, int32_t b) {
    return (a + b - 1) / b;
}

// Frames for a value given in seconds (or any product with the frame rate), to the nearest.
inline int32_t Mode_RoundFrames(double frames) {
    return static_cast<int32_t>(std::lround(frames));
}

// Adds to a score without overflowing it.
constexpr int32_t Mode_AddScore(int32_t score, int64_t points) {
    const int64_t sum = static_cast<int64_t>(score) + points;
    if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (sum < 0) return 0;
    return static_cast<int32_t>(sum);
}
