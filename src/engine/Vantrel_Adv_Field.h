// The playfield: cells with edge flags, full-row handling, save/load/checksum, and drawing
// of the settled cells and the attached players' active pieces through the host's callbacks.
#pragma once

#include "Zelvik_ClientInterface.h"
#include "Zelvik_Field.h"

#include <cstdint>

// Largest width, height or hidden-row count a field may have, so that every buffer size and
// the Save length stay far inside 32 bits.
constexpr int32_t kFieldMaxDimension = 1024;

// 0 when a dimension is out of range (width or height below 1, hiddenRows below 0, any above
// kFieldMaxDimension) or memory runs out. State bits start at FieldState_AllClear.
Field* Field_Create(int32_t width, int32_t height, int32_t hiddenRows);

int32_t Field_GetWidth(Field* f);
int32_t Field_GetHeight(Field* f);
int32_t Field_GetHiddenRows(Field* f);
// 0 outside 0 <= x < width, -hiddenRows <= y < height.
FieldCell* Field_GetCell(Field* f, int32_t x, int32_t y);
// 1, or 0 outside the field. Updates the neighbours' edge bits and marks full rows.
int32_t Field_SetCell(Field* f, int32_t x, int32_t y, uint8_t block, uint32_t data, uint32_t flags);
// The cell's block byte; 1 outside the field (walls, floor and above the hidden rows).
int32_t Field_IsBlocked(Field* f, int32_t x, int32_t y);
int32_t Field_AttachPlayer(Field* f, Player* player);
int32_t Field_DetachPlayer(Field* f, Player* player);
int32_t Field_Clear(Field* f);
// Frees the buffers, the player list (not the players) and the object; 0 for a null field.
int32_t Field_Free(Field* f);
// New buffer (free with std::free): the cells, then the pending rows; 0 when memory runs out.
uint8_t* Field_Save(Field* f, uint32_t* size);
// 0 when buffer is null or size is not exactly the Save length; the field is then unchanged.
int32_t Field_Load(Field* f, const uint8_t* buffer, uint32_t size);
// zlib crc32 of the Save data.
uint32_t Field_Checksum(Field* f);
int32_t Field_MarkFullRows(Field* f);
int32_t Field_ClearFullRows(Field* f);
int32_t Field_CollapseRows(Field* f);
int32_t Field_RaisePendingRows(Field* f);
// flags bit 0: include the hidden rows.
int32_t Field_Draw(Field* f, ClientInterface* ci, uint32_t flags, uintptr_t userdata);
int32_t Field_ForEachCell(Field* f, uint32_t flags, FieldCellCallback callback, uintptr_t userdata);

// Bytes of the Save data: width x (2 x height + hiddenRows) cells.
uint32_t Field_SaveSize(const Field* f);
