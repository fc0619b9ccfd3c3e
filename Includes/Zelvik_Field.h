// The playfield grid and its 9-byte cell, shared by the engine, the plug-ins and the client.
#pragma once

#include <cstddef>
#include <cstdint>

struct DoublyLinkedList;
struct ClientInterface;
struct Player;

#pragma pack(push, 1)
struct FieldCell {
    uint8_t block; // 0 = empty
    uint32_t data; // appearance, handed to the renderer unchanged
    uint32_t flags; // FieldCellFlags
};
#pragma pack(pop)
static_assert(sizeof(FieldCell) == 9);
static_assert(offsetof(FieldCell, data) == 1);
static_assert(offsetof(FieldCell, flags) == 5);

enum FieldCellFlags : uint32_t {
    CellFlag_Ghost = 1, // only in draw calls, never stored
    CellFlag_LeftOpen = 2,
    CellFlag_RightOpen = 4,
    CellFlag_TopOpen = 8,
    CellFlag_BottomOpen = 16,
    CellFlag_RowFull = 32,
    CellFlag_NotDrawn = 64,
};

enum FieldStateBits : uint32_t {
    FieldState_RowsMarked = 1,
    FieldState_AllClear = 2,
};

struct Field;
using FieldCellCallback = void (*)(FieldCell* cell, uintptr_t userdata);

struct FieldOps {
    int32_t (*GetWidth)(Field* f);
    int32_t (*GetHeight)(Field* f);
    int32_t (*GetHiddenRows)(Field* f);
    FieldCell* (*GetCell)(Field* f, int32_t x, int32_t y);
    int32_t (*SetCell)(Field* f, int32_t x, int32_t y, uint8_t block, uint32_t data, uint32_t flags);
    int32_t (*IsBlocked)(Field* f, int32_t x, int32_t y);
    int32_t (*AttachPlayer)(Field* f, Player* player);
    int32_t (*DetachPlayer)(Field* f, Player* player);
    int32_t (*Clear)(Field* f);
    int32_t (*Free)(Field* f);
    uint8_t* (*Save)(Field* f, uint32_t* size); // caller frees with std::free
    int32_t (*Load)(Field* f, const uint8_t* buffer, uint32_t size);
    uint32_t (*Checksum)(Field* f);
    int32_t (*MarkFullRows)(Field* f);
    int32_t (*ClearFullRows)(Field* f);
    int32_t (*CollapseRows)(Field* f);
    int32_t (*RaisePendingRows)(Field* f);
    int32_t (*Draw)(Field* f, ClientInterface* ci, uint32_t flags, uintptr_t userdata);
    int32_t (*ForEachCell)(Field* f, uint32_t flags, FieldCellCallback callback, uintptr_t userdata);
};
static_assert(sizeof(FieldOps) == 19 * sizeof(void*));

struct Field {
    const FieldOps* ops;
    int32_t width;
    int32_t height;     // visible rows
    int32_t hiddenRows; // rows above the visible top (negative y)
    FieldCell* cells;   // width x (height + hiddenRows), row-major
    FieldCell* pending; // width x height rows waiting to be pushed in from the bottom
    int32_t pendingCount;
    DoublyLinkedList* players; // Player* elements; owned by the field
    uint32_t state;            // FieldStateBits
};
