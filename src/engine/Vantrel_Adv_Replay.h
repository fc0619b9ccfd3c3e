// The engine's replay record behind the public Replay table (".er" files and INP imports).
#pragma once

#include "Zelvik_ID.h"
#include "Zelvik_Replay.h"

#include <cstdint>
#include <cstdio>

struct DoublyLinkedList;

enum ReplayLoadedParts : uint32_t {
    ReplayPart_Seed = 1,
    ReplayPart_Randomizer = 2,
    ReplayPart_RotationSystem = 4,
    ReplayPart_Modes = 8,
    ReplayPart_InputsDeferred = 16,
};

struct ReplayRecord {
    Replay base;               // operation table first
    int32_t inputsState;       // 1 while the replay holds an input list
    DoublyLinkedList* inputs;  // u32 per frame, frame 0 first
    uint32_t seed;
    uint32_t loadedParts;      // ReplayLoadedParts
    ZelvikID randomizer;
    ZelvikID rotationSystem;
    DoublyLinkedList* modes;   // ZelvikID elements
    std::FILE* openFile;       // kept open while the input section is deferred
    Player* player;
};

Replay* Replay_Create(); // 0 when memory runs out
// Frees the input list; the replay then holds no inputs.
int32_t Replay_Clear(Replay* r);
