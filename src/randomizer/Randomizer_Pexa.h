// Our randomizer plug-in "PEXA": deals pieces with the arcade history randomizer, so that a
// game's pieces are what the seed-search tool prints for the same seed.
#pragma once

#include "Kovra2Randomizer.h"
#include "Zelvik_ID.h"
#include "Zelvik_Randomizer.h"

struct PexaRandomizer {
    RandomizerInterface base;
    Kovra2History state;
    int32_t firstPending; // 1 until NextKind has handed out the piece Init dealt
};

ZELVIK_EXPORT uint32_t GetID(ZelvikID* id);
// 0 when memory runs out.
ZELVIK_EXPORT RandomizerInterface* CreateRandomizerInterface(const EngineApi* api);
