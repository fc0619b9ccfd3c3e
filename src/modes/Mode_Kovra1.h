// Tables of the KOVRA1 mode: fixed timings, the grade by score and the three checkpoints of the
// top grade. Its gravity comes from the PEXA Master table.
#pragma once

#include "Mode_PexaMaster.h"
#include "Mode_Tables.h"

namespace Kovra1 {

inline constexpr int32_t kReadyTime = 179;
inline constexpr int32_t kEntryDelay = 27;
inline constexpr int32_t kShiftDelay = 14;
inline constexpr int32_t kLineEntryDelay = 27;
inline constexpr int32_t kLineClearDelay = 41;
inline constexpr int32_t kLockDelay = 30;
inline constexpr int32_t kLockPauseFrames = 3; // the pause ends when its timer passes this
inline constexpr int32_t kFinalPhaseFrames = 2968;

inline constexpr LevelRange kGradeByScore[] = {
    {0, 399, 0},          {400, 799, 1},          {800, 1399, 2},     {1400, 1999, 3},
    {2000, 3499, 4},      {3500, 5499, 5},        {5500, 7999, 6},    {8000, 11999, 7},
    {12000, 15999, 8},    {16000, 21999, 9},      {22000, 29999, 10}, {30000, 39999, 11},
    {40000, 51999, 12},   {52000, 65999, 13},     {66000, 81999, 14}, {82000, 99999, 15},
    {100000, 120000, 16}, {120001, kOpenEnd, 17},
};

struct Checkpoint {
    int32_t level;
    int32_t score;   // at least this score
    int32_t seconds; // at most this game time
    int32_t bit;
};
inline constexpr Checkpoint kCheckpoints[] = {
    {300, 12000, 255, 1},
    {500, 40000, 450, 2},
    {999, 126000, 810, 8},
};
inline constexpr int32_t kAllCheckpoints = 1 | 2 | 8;
inline constexpr int32_t kTopGrade = 19;

} // namespace Kovra1
