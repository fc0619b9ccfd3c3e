// Tables of the Nuro Varkel mode: timings by level up to 1300. Levels above 1300 play with the
// level-1300 timings (the table has no row for them).
#pragma once

#include "Mode_Tables.h"

#include <algorithm>

namespace NuroVarkel {

inline constexpr int32_t kLastTableLevel = 1300;

inline constexpr LevelRange kEntryDelay[] = {{0, 299, 10}, {300, kOpenEnd, 4}};
inline constexpr LevelRange kShiftDelay[] = {{0, 99, 8}, {100, 499, 6}, {500, 1300, 4}};
inline constexpr LevelRange kLineEntryDelay[] = {
    {0, 99, 6}, {100, 199, 5}, {200, 499, 4}, {500, 1299, 3}, {1300, 1300, 4}};
inline constexpr LevelRange kLineClearDelay[] = {
    {0, 99, 6}, {100, 199, 5}, {200, 499, 4}, {500, 1299, 3}, {1300, 1300, 6}};
inline constexpr LevelRange kLockDelay[] = {
    {0, 199, 18},    {200, 299, 17},   {300, 499, 15},  {500, 599, 13},
    {600, 1099, 12}, {1100, 1199, 10}, {1200, 1299, 8}, {1300, 1300, 15},
};
inline constexpr int32_t kGravity = 5120;

// The table row used for a level.
constexpr int32_t TableLevel(int32_t level) {
    return std::min(level, kLastTableLevel);
}

} // namespace NuroVarkel
