// Tables of the Nuro Pelune mode: timings, gravity by level and the twenty stage layouts with
// their colours and target markers.
#pragma once

#include "Mode_Tables.h"

#include <array>
#include <cstdint>

namespace NuroPelune {

inline constexpr int32_t kEntryDelay = 27;
inline constexpr int32_t kShiftDelay = 14;
inline constexpr int32_t kLineEntryDelay = 27;
inline constexpr int32_t kLineClearDelay = 40;
inline constexpr int32_t kLockDelay = 30;
inline constexpr int32_t kStartSeconds = 180;
inline constexpr int32_t kPreviewCount = 3;

inline constexpr LevelRange kGravity[] = {
    {0, 19, 4},      {20, 29, 32},     {30, 32, 64},    {33, 35, 96},     {36, 38, 128},
    {39, 42, 160},   {43, 46, 192},    {47, 50, 224},   {51, 99, 256},    {100, 129, 512},
    {130, 159, 768}, {160, 249, 1024}, {250, 299, 768}, {300, 999, 5120},
};

// Level step of a lock by its cleared rows 0-4.
inline constexpr int32_t kLevelStepByRows[5] = {0, 1, 2, 4, 6};

inline constexpr int32_t kStageCount = 20;
inline constexpr int32_t kStageWidth = 10;
inline constexpr int32_t kStageHeight = 20;
inline constexpr uint32_t kTargetFlag = 0x80; // cell flag of a target block (marker << 7)

// One stage cell: the cell's colour (ARGB, 0 = empty) and its marker (1 = target block).
struct StageCell {
    uint32_t colour;
    uint8_t marker;
};
using StageLayout = std::array<StageCell, kStageWidth * kStageHeight>; // row-major, row 0 on top

// Colour letters: upper case a plain block, lower case a target block.
constexpr uint32_t LetterColour(char c) {
    switch (c | 0x20) {
    case 'a':
        return 0xFF00FFFFu;
    case 'b':
        return 0xFFFF0000u;
    case 'c':
        return 0xFF0000FFu;
    case 'd':
        return 0xFF1A96F4u;
    case 'e':
        return 0xFF58E9A7u;
    case 'f':
        return 0xFFA450A7u;
    case 'g':
        return 0xFFFCF2AFu;
    default:
        return 0;
    }
}

// The stages as drawn, one text row per field row, top row first.
struct StagePicture {
    const char* rows[kStageHeight];
};

inline constexpr StagePicture kStagePictures[kStageCount] = {
    // stage 1
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..dc..fF..", ".eGGGGGGa.", ".gAAAAAAb.",
    }},
    // stage 2
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "....EBBF..", "....GGGG..", ".....cad..", ".bGGGGGGg.", ".BBBBBBBg.",
    }},
    // stage 3
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "...cFDf...", "....Dd....", "....ea....", ".FDFDFDFD.", ".bFDFDFDg.",
    }},
    // stage 4
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "...cFDf...", "..aEEeE...", "...cebB...", "e.aEEEEE..", "BgBBBBBBg.",
    }},
    // stage 5
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", ".bGDGeGDg.", "..........", "..........", "..........",
        "..........", "..........", "..GDGDGD..", ".dDGDGDGa.", ".cGDGDGDf.",
    }},
    // stage 6
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "....da....", "..c.BA.f..", "....AB....", ".eABgABAb.",
    }},
    // stage 7
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        ".ge.CECE..", "....dfEC..", "C...CEda..", "ECECECEC..", "CECECECEb.",
    }},
    // stage 8
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "...bFFFFFg", ".........F", ".........F", ".aAAAAAAAe", "..........",
        "..........", "BBBBBBa...", "B.........", "f.........", "DDDDDDDDc.",
    }},
    // stage 9
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "...aFFFF..", "...GGGGe..",
        "FFFdfc....", "GGGGGGGG..", "FFFFFFFF..", "GGGGGGGGg.", "FFFFFFFFb.",
    }},
    // stage 10
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "...gEEb...", "..eEEEEa..",
        ".fEEEEEEd.", "....G.....", "....G.....", "....G.D...", "....cDD...",
    }},
    // stage 11
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "....DD....", "....c.....",
        "....Cd....", ".....f....", "....DD....", "....ea....", "gEE.DD.EEb",
    }},
    // stage 12
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", ".......EEa", "..CeC...aE", ".CgCbC...f", "CCCcCCC...",
    }},
    // stage 13
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "G........b", "GG......gG", "GGG....eGG", "BBBB..aBBB", ".fBBBdBBc.",
    }},
    // stage 14
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "...ACA....", "c..aACe...", "...ACACAGb", ".......dAC", "......fACg",
    }},
    // stage 15
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..B....B..", "..BABBAB..", "...ABBA...",
        "....dd....", "..........", "....fc....", "...eAAg...", "..bAAAAA..",
    }},
    // stage 16
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..d....b..", "..G....G..", "..G..e.G..",
        "..G.gc.G..", "..G....G..", "..aGGGGf..", "..........", "..........",
    }},
    // stage 17
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "d..E..F..a", "...E..F...", "...E..d...", "...E..F...", "...f..F...",
        "...E..F...", "...E..e...", "...E..F...", "...E..F...", ".FFFbgEEE.",
    }},
    // stage 18
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "...AbAA...",
        "..a....A..", ".D..gc..d.", ".f..ae..D.", ".CD....DC.", ".CCDDDDCC.",
    }},
    // stage 19
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "......d...", ".....D....", "....DCD...", ".D..DCCD..", ".DD..cCC..",
        "..fC.CCCC.", "..CCCCAeDD", ".CDAaAAAAD", ".DDAAGGGGg", "..DABBbBBB",
    }},
    // stage 20
    {{
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..........", "..........", "..........", "..........", "..........",
        "..bBBBBB..", "G..gGGG..G", "EE..eE..EE", "AAd....aAA", "CCCc..fCCC",
    }},
};

consteval StageLayout BuildStage(const StagePicture& picture) {
    StageLayout layout{};
    for (int32_t y = 0; y < kStageHeight; y++) {
        for (int32_t x = 0; x < kStageWidth; x++) {
            const char c = picture.rows[y][x];
            StageCell& cell = layout[y * kStageWidth + x];
            cell.colour = LetterColour(c);
            cell.marker = (c >= 'a' && c <= 'g') ? 1 : 0;
        }
    }
    return layout;
}

consteval std::array<StageLayout, kStageCount> BuildStages() {
    std::array<StageLayout, kStageCount> stages{};
    for (int32_t s = 0; s < kStageCount; s++) stages[s] = BuildStage(kStagePictures[s]);
    return stages;
}

// Stage s (1-20) is kStages[s - 1].
inline constexpr std::array<StageLayout, kStageCount> kStages = BuildStages();

} // namespace NuroPelune
