// The mode interface a mode plug-in offers, and the per-player state's method table.
#pragma once

#include "Zelvik_ID.h"

#include <cstdint>

struct DoublyLinkedList;
struct ModeInterface;
struct ModeState;

struct ModeInterfaceOps {
    int32_t (*StartPlayer)(ModeInterface* mode, Player* player);
    int32_t (*StopPlayer)(ModeInterface* mode, Player* player);
    int32_t (*GetInterfaceVersion)(ModeInterface* mode); // 8
    ModeInterface* (*AttachPlayer)(ModeInterface* mode, Player* player);
    ModeInterface* (*DetachPlayer)(ModeInterface* mode, Player* player);
    int32_t (*Free)(ModeInterface* mode);
    uint32_t (*GetID)(ModeInterface* mode, ZelvikID* id);
};
static_assert(sizeof(ModeInterfaceOps) == 7 * sizeof(void*));

struct ModeInterface {
    const ModeInterfaceOps* ops; // the library's static table
    DoublyLinkedList* states;    // ModeState* elements, one per attached player
};

struct ModeStateOps {
    int32_t (*Start)(ModeState* state);
    int32_t (*AddLevel)(ModeState* state, int32_t levels);
    int32_t (*OnLinesCleared)(ModeState* state, int32_t rows);
    int32_t (*Free)(ModeState* state);
};
static_assert(sizeof(ModeStateOps) == 4 * sizeof(void*));

constexpr int32_t kModeInterfaceVersion = 8;
