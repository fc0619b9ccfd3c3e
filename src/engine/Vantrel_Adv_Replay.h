// The engine's replay record behind the public Replay table (".er" files and INP imports).
#pragma once

#include "Zelvik_ID.h"
#include "Zelvik_Replay.h"

#include <cstdint>
#include <cstdio>
#include <vector>

struct DoublyLinkedList;

enum ReplayLoadedParts : uint32_t {
    ReplayPart_Seed = 1,
    ReplayPart_Randomizer = 2,
    ReplayPart_RotationSystem = 4,
    ReplayPart_Modes = 8,
    ReplayPart_InputsDeferred = 16,
};

struct ReplayRecord {
    Replay base;                   // operation table first
    int32_t inputsState;           // 1 while the replay holds an input list
    std::vector<uint16_t>* inputs; // one word per frame, frame 0 first
    uint32_t seed;
    uint32_t loadedParts; // ReplayLoadedParts
    ZelvikID randomizer;
    ZelvikID rotationSystem;
    DoublyLinkedList* modes; // ZelvikID elements
    std::FILE* openFile;     // kept open while the input section is deferred
    Player* player;
};

Replay* Replay_Create(); // 0 when memory runs out
// Inputs are kept as the file keeps them, two bytes a frame (a list node a frame made a 64 MB
// replay take over a gigabyte); a word reads back sign-extended, as it loads from a file.
// Puts fresh, empty inputs in place of the replay's; false when memory runs out.
bool ReplayInputs_Install(ReplayRecord* r);
// Appends a frame's word; false when memory runs out.
bool ReplayInputs_Add(ReplayRecord* r, uint32_t word);
inline uint32_t ReplayInputs_Word(uint16_t stored) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(stored)));
}
// Frees the input list; the replay then holds no inputs.
int32_t Replay_Clear(Replay* r);
