// Tables of the PEXA Death mode: timings by level and the two time checks.
#pragma once

#include "Mode_Tables.h"

namespace PexaDeath {

inline constexpr LevelRange kEntryDelay[] = {
    {0, 100, 18}, {101, 300, 14}, {301, 400, 8}, {401, 499, 7}, {500, 999, 6}};
inline constexpr LevelRange kShiftDelay[] = {
    {0, 199, 10}, {200, 299, 9}, {300, 399, 8}, {400, 999, 6}};
inline constexpr LevelRange kLineEntryDelay[] = {
    {0, 100, 14}, {101, 400, 8}, {401, 499, 7}, {500, 999, 6}};
inline constexpr LevelRange kLineClearDelay[] = {
    {0, 100, 12}, {101, 400, 6}, {401, 499, 5}, {500, 999, 4}};
inline constexpr LevelRange kLockDelay[] = {
    {0, 100, 30}, {101, 200, 26}, {201, 300, 22}, {301, 400, 18}, {401, 999, 15}};
inline constexpr int32_t kGravity = 5120;

inline constexpr int32_t kLevel500Seconds = 205; // level 500 must be reached within this
inline constexpr int32_t kFinalPhaseFrames = 1845;
inline constexpr int32_t kGradeAt500 = 18;
inline constexpr int32_t kGradeAt999 = 19;

} // namespace PexaDeath
