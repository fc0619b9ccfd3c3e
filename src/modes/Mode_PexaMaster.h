// Tables of the PEXA Master mode: timings and gravity by level, grade points, combo and level
// factors, displayed grades and the decay of grade points. The gravity table is also KOVRA1's.
#pragma once

#include "Mode_Tables.h"

namespace PexaMaster {

inline constexpr LevelRange kEntryDelay[] = {{0, 700, 27}, {701, 800, 18}, {801, 999, 14}};
inline constexpr LevelRange kShiftDelay[] = {{0, 499, 14}, {500, 899, 8}, {900, 999, 6}};
inline constexpr LevelRange kLineEntryDelay[] = {
    {0, 600, 27}, {601, 700, 18}, {701, 800, 14}, {801, 999, 8}};
inline constexpr LevelRange kLineClearDelay[] = {
    {0, 499, 40}, {500, 600, 25}, {601, 700, 16}, {701, 800, 12}, {801, 999, 6}};
inline constexpr LevelRange kLockDelay[] = {{0, 900, 30}, {901, 999, 17}};

// 1/256 rows per frame.
inline constexpr LevelRange kGravity[] = {
    {0, 29, 4},       {30, 34, 6},      {35, 39, 8},      {40, 49, 10},    {50, 59, 12},
    {60, 69, 16},     {70, 79, 32},     {80, 89, 48},     {90, 99, 64},    {100, 119, 80},
    {120, 139, 96},   {140, 159, 112},  {160, 169, 128},  {170, 199, 144}, {200, 219, 4},
    {220, 229, 32},   {230, 232, 64},   {233, 235, 96},   {236, 238, 128}, {239, 242, 160},
    {243, 246, 192},  {247, 250, 224},  {251, 299, 256},  {300, 329, 512}, {330, 359, 768},
    {360, 399, 1024}, {400, 419, 1280}, {420, 449, 1024}, {450, 499, 768}, {500, 999, 5120},
};

// Base grade points of a clear by internal grade, one table per row count 1-4.
inline constexpr LevelRange kBaseSingle[] = {{0, 4, 10}, {5, 9, 5}, {10, kOpenEnd, 2}};
inline constexpr LevelRange kBaseDouble[] = {
    {0, 2, 20}, {3, 5, 15}, {6, 9, 10}, {10, kOpenEnd, 12}};
inline constexpr LevelRange kBaseTriple[] = {
    {0, 0, 40}, {1, 3, 30}, {4, 6, 20}, {7, 9, 15}, {10, kOpenEnd, 13}};
inline constexpr LevelRange kBaseFour[] = {{0, 0, 50}, {1, 4, 40}, {5, kOpenEnd, 30}};

constexpr int32_t BasePoints(int32_t rows, int32_t internalGrade) {
    switch (rows) {
    case 1:
        return LevelTable_Lookup(kBaseSingle, internalGrade);
    case 2:
        return LevelTable_Lookup(kBaseDouble, internalGrade);
    case 3:
        return LevelTable_Lookup(kBaseTriple, internalGrade);
    case 4:
        return LevelTable_Lookup(kBaseFour, internalGrade);
    default:
        return 0;
    }
}

// Combo factors, single precision, [combo 1-10][rows 1-4].
inline constexpr float kComboFactor[10][4] = {
    {1.0f, 1.0f, 1.0f, 1.0f}, {1.2f, 1.4f, 1.5f, 1.0f}, {1.2f, 1.5f, 1.8f, 1.0f},
    {1.4f, 1.6f, 2.0f, 1.0f}, {1.4f, 1.7f, 2.2f, 1.0f}, {1.4f, 1.8f, 2.3f, 1.0f},
    {1.4f, 1.9f, 2.4f, 1.0f}, {1.5f, 2.0f, 2.5f, 1.0f}, {1.5f, 2.1f, 2.6f, 1.0f},
    {2.0f, 2.5f, 3.0f, 1.0f},
};

// Combo 1 gives 1 whatever the rows; any combo above 10 (or rows outside 1-4) gives 0.
constexpr float ComboFactor(int32_t combo, int32_t rows) {
    if (combo == 1) return 1.0f;
    if (combo < 1 || combo > 10 || rows < 1 || rows > 4) return 0.0f;
    return kComboFactor[combo - 1][rows - 1];
}

inline constexpr LevelRange kLevelFactor[] = {
    {0, 249, 1}, {250, 499, 2}, {500, 749, 3}, {750, 999, 4}};

inline constexpr LevelRange kDisplayedGrade[] = {
    {0, 0, 0},    {1, 1, 1},    {2, 2, 2},    {3, 3, 3},    {4, 4, 4},    {5, 6, 5},
    {7, 8, 6},    {9, 11, 7},   {12, 14, 8},  {15, 17, 9},  {18, 18, 10}, {19, 19, 11},
    {20, 22, 12}, {23, 24, 13}, {25, 26, 14}, {27, 28, 15}, {29, 30, 16}, {31, kOpenEnd, 17},
};

// Frames per grade point taken away, by internal grade.
inline constexpr LevelRange kDecayFrames[] = {
    {0, 0, 125},  {1, 2, 80},   {3, 3, 50},   {4, 6, 45},         {7, 11, 40},
    {12, 14, 30}, {15, 19, 20}, {20, 29, 15}, {30, kOpenEnd, 10},
};

inline constexpr int32_t kPauseFrames = 120; // the pause at 999 ends when its timer passes this
inline constexpr int32_t kFinalPhaseFrames = 3690;
inline constexpr int32_t kTopGrade = 19;

} // namespace PexaMaster
