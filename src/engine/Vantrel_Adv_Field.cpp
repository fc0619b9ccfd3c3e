#include "Vantrel_Adv_Field.h"

#include "DoublyLinkedList.h"
#include "Zelvik_Player.h"
#include "Zelvik_RotationSystem.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const FieldOps kFieldOps = {
    Field_GetWidth,
    Field_GetHeight,
    Field_GetHiddenRows,
    Field_GetCell,
    Field_SetCell,
    Field_IsBlocked,
    Field_AttachPlayer,
    Field_DetachPlayer,
    Field_Clear,
    Field_Free,
    Field_Save,
    Field_Load,
    Field_Checksum,
    Field_MarkFullRows,
    Field_ClearFullRows,
    Field_CollapseRows,
    Field_RaisePendingRows,
    Field_Draw,
    Field_ForEachCell,
};

// Stored rows are numbered from 0 (the top hidden row) to StoredRows - 1 (the floor row).
int32_t StoredRows(const Field* f) {
    return f->height + f->hiddenRows;
}

size_t CellCount(const Field* f) {
    return static_cast<size_t>(f->width) * static_cast<size_t>(StoredRows(f));
}

size_t PendingCount(const Field* f) {
    return static_cast<size_t>(f->width) * static_cast<size_t>(f->height);
}

FieldCell* StoredRow(Field* f, int32_t row) {
    return f->cells + static_cast<size_t>(row) * static_cast<size_t>(f->width);
}

bool RowFull(Field* f, int32_t row) {
    const FieldCell* cells = StoredRow(f, row);
    for (int32_t x = 0; x < f->width; x++)
        if (cells[x].block == 0) return false;
    return true;
}

bool RowEmpty(Field* f, int32_t row) {
    const FieldCell* cells = StoredRow(f, row);
    for (int32_t x = 0; x < f->width; x++)
        if (cells[x].block != 0) return false;
    return true;
}

// Repairs the edge bits across the seam between stored row `upper` and the row below it.
void RepairSeam(Field* f, int32_t upper) {
    FieldCell* top = StoredRow(f, upper);
    if (upper + 1 >= StoredRows(f)) {
        for (int32_t x = 0; x < f->width; x++) top[x].flags &= ~uint32_t(CellFlag_BottomOpen);
        return;
    }
    FieldCell* bottom = StoredRow(f, upper + 1);
    for (int32_t x = 0; x < f->width; x++) {
        const bool a = top[x].block != 0, b = bottom[x].block != 0;
        if (a && b) {
            top[x].flags &= ~uint32_t(CellFlag_BottomOpen);
            bottom[x].flags &= ~uint32_t(CellFlag_TopOpen);
        } else if (a) {
            top[x].flags |= CellFlag_BottomOpen;
        } else if (b) {
            bottom[x].flags |= CellFlag_TopOpen;
        }
    }
}

} // namespace

Field* Field_Create(int32_t width, int32_t height, int32_t hiddenRows) {
    if (width < 1 || height < 1 || hiddenRows < 0 || width > kFieldMaxDimension ||
        height > kFieldMaxDimension || hiddenRows > kFieldMaxDimension)
        return nullptr;
    auto* f = static_cast<Field*>(std::calloc(1, sizeof(Field)));
    if (!f) return nullptr;
    f->ops = &kFieldOps;
    f->width = width;
    f->height = height;
    f->hiddenRows = hiddenRows;
    f->cells = static_cast<FieldCell*>(std::calloc(CellCount(f), sizeof(FieldCell)));
    f->pending = static_cast<FieldCell*>(std::calloc(PendingCount(f), sizeof(FieldCell)));
    f->players = DoublyLinkedList_Create(sizeof(Player*));
    if (!f->cells || !f->pending || !f->players) {
        std::free(f->cells);
        std::free(f->pending);
        DoublyLinkedList_FreeList(f->players);
        std::free(f);
        return nullptr;
    }
    f->pendingCount = 0;
    f->state = FieldState_AllClear;
    return f;
}

int32_t Field_GetWidth(Field* f) {
    return f ? f->width : 0;
}
int32_t Field_GetHeight(Field* f) {
    return f ? f->height : 0;
}
int32_t Field_GetHiddenRows(Field* f) {
    return f ? f->hiddenRows : 0;
}

FieldCell* Field_GetCell(Field* f, int32_t x, int32_t y) {
    if (!f || x < 0 || x >= f->width || y < -f->hiddenRows || y >= f->height) return nullptr;
    return StoredRow(f, y + f->hiddenRows) + x;
}

int32_t Field_SetCell(Field* f, int32_t x, int32_t y, uint8_t block, uint32_t data,
                      uint32_t flags) {
    FieldCell* cell = Field_GetCell(f, x, y);
    if (!cell) return 0;
    cell->block = block;
    cell->data = data;
    cell->flags = flags;
    if (block != 0) {
        // Neighbour offset, the neighbour's edge bit facing us, and our own edge bit facing it.
        struct Side {
            int32_t dx, dy;
            uint32_t theirs, ours;
        };
        static constexpr Side kSides[4] = {
            {0, -1, CellFlag_BottomOpen, CellFlag_TopOpen},
            {1, 0, CellFlag_LeftOpen, CellFlag_RightOpen},
            {0, 1, CellFlag_TopOpen, CellFlag_BottomOpen},
            {-1, 0, CellFlag_RightOpen, CellFlag_LeftOpen},
        };
        for (const Side& s : kSides) {
            if (Field_IsBlocked(f, x + s.dx, y + s.dy)) {
                if (FieldCell* n = Field_GetCell(f, x + s.dx, y + s.dy)) n->flags &= ~s.theirs;
            } else {
                cell->flags |= s.ours;
            }
        }
    }
    Field_MarkFullRows(f);
    return 1;
}

int32_t Field_IsBlocked(Field* f, int32_t x, int32_t y) {
    const FieldCell* cell = Field_GetCell(f, x, y);
    return cell ? cell->block : 1;
}

int32_t Field_AttachPlayer(Field* f, Player* player) {
    if (!f) return 0;
    DoublyLinkedList* list = f->players;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next)
        if (*static_cast<Player**>(DoublyLinkedList_Data(e)) == player) return 0;
    if (auto* slot = static_cast<Player**>(list->ops->AddElement(list))) *slot = player;
    return 0;
}

int32_t Field_DetachPlayer(Field* f, Player* player) {
    if (!f) return 0;
    DoublyLinkedList* list = f->players;
    list->ops->ResetList(list);
    while (auto* slot = static_cast<Player**>(list->ops->NextElement(list))) {
        if (*slot == player) {
            list->ops->DeleteElement(list);
            break;
        }
    }
    list->ops->ResetList(list);
    return 0;
}

int32_t Field_Clear(Field* f) {
    if (!f) return 0;
    std::memset(f->cells, 0, CellCount(f) * sizeof(FieldCell));
    std::memset(f->pending, 0, PendingCount(f) * sizeof(FieldCell));
    return 0;
}

int32_t Field_Free(Field* f) {
    if (!f) return 0;
    std::free(f->cells);
    std::free(f->pending);
    DoublyLinkedList_FreeList(f->players);
    std::free(f);
    return 1;
}

uint32_t Field_SaveSize(const Field* f) {
    return f ? static_cast<uint32_t>((CellCount(f) + PendingCount(f)) * sizeof(FieldCell)) : 0;
}

uint8_t* Field_Save(Field* f, uint32_t* size) {
    if (!f) return nullptr;
    const size_t cellBytes = CellCount(f) * sizeof(FieldCell);
    const size_t pendingBytes = PendingCount(f) * sizeof(FieldCell);
    auto* buffer = static_cast<uint8_t*>(std::malloc(cellBytes + pendingBytes));
    if (!buffer) return nullptr;
    std::memcpy(buffer, f->cells, cellBytes);
    std::memcpy(buffer + cellBytes, f->pending, pendingBytes);
    if (size) *size = static_cast<uint32_t>(cellBytes + pendingBytes);
    return buffer;
}

int32_t Field_Load(Field* f, const uint8_t* buffer, uint32_t size) {
    if (!f || !buffer || size != Field_SaveSize(f)) return 0;
    const size_t cellBytes = CellCount(f) * sizeof(FieldCell);
    std::memcpy(f->cells, buffer, cellBytes);
    std::memcpy(f->pending, buffer + cellBytes, size - cellBytes);
    return 1;
}

uint32_t Field_Checksum(Field* f) {
    if (!f) return 0;
    // zlib hands back a uLong (64-bit here); the checksum itself is 32 bits.
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(f->cells),
                static_cast<uInt>(CellCount(f) * sizeof(FieldCell)));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(f->pending),
                static_cast<uInt>(PendingCount(f) * sizeof(FieldCell)));
    return static_cast<uint32_t>(crc);
}

int32_t Field_MarkFullRows(Field* f) {
    if (!f) return 0;
    int32_t count = 0;
    f->state |= FieldState_AllClear;
    for (int32_t row = 0; row < StoredRows(f); row++) {
        if (RowFull(f, row)) {
            FieldCell* cells = StoredRow(f, row);
            for (int32_t x = 0; x < f->width; x++) cells[x].flags |= CellFlag_RowFull;
            f->state |= FieldState_RowsMarked;
            count++;
        } else if (!RowEmpty(f, row)) {
            f->state &= ~uint32_t(FieldState_AllClear);
        }
    }
    return count;
}

int32_t Field_ClearFullRows(Field* f) {
    if (!f) return 0;
    int32_t count = 0;
    for (int32_t row = StoredRows(f) - 1; row >= 0; row--) {
        if (!RowFull(f, row)) continue;
        FieldCell* cells = StoredRow(f, row);
        FieldCell* above = row > 0 ? StoredRow(f, row - 1) : nullptr;
        FieldCell* below = row + 1 < StoredRows(f) ? StoredRow(f, row + 1) : nullptr;
        for (int32_t x = 0; x < f->width; x++) {
            cells[x].block = 0;
            cells[x].flags |= CellFlag_RowFull;
            if (above && above[x].block) above[x].flags |= CellFlag_BottomOpen;
            if (below && below[x].block) below[x].flags |= CellFlag_TopOpen;
        }
        count++;
    }
    f->state &= ~uint32_t(FieldState_RowsMarked);
    return count;
}

int32_t Field_CollapseRows(Field* f) {
    if (!f) return 0;
    int32_t count = 0;
    const size_t rowBytes = static_cast<size_t>(f->width) * sizeof(FieldCell);
    int32_t row = StoredRows(f) - 1;
    while (row >= 1) {
        if (StoredRow(f, row)[0].flags & CellFlag_RowFull) {
            std::memmove(StoredRow(f, 1), StoredRow(f, 0), static_cast<size_t>(row) * rowBytes);
            // The vacated top row is empty: copying the old top row down would duplicate it,
            // and a marked top row would be collapsed forever.
            std::memset(StoredRow(f, 0), 0, rowBytes);
            RepairSeam(f, row);
            count++;
        } else {
            row--;
        }
    }
    return count;
}

int32_t Field_RaisePendingRows(Field* f) {
    if (!f) return 0;
    // The pending buffer holds at most `height` rows; a larger count is cut to it.
    const int32_t n = std::clamp(f->pendingCount, 0, f->height);
    f->pendingCount = 0;
    if (n == 0) return 0;
    const size_t rowBytes = static_cast<size_t>(f->width) * sizeof(FieldCell);
    const int32_t rows = StoredRows(f);
    std::memmove(StoredRow(f, 0), StoredRow(f, n), static_cast<size_t>(rows - n) * rowBytes);
    std::memcpy(StoredRow(f, rows - n), f->pending, static_cast<size_t>(n) * rowBytes);
    return 0;
}

int32_t Field_ForEachCell(Field* f, uint32_t flags, FieldCellCallback callback,
                          uintptr_t userdata) {
    if (!f || !callback) return 0;
    for (int32_t y = (flags & 1) ? -f->hiddenRows : 0; y < f->height; y++)
        for (int32_t x = 0; x < f->width; x++) callback(Field_GetCell(f, x, y), userdata);
    return 0;
}

namespace {

// Lock progress of a piece: 0 while falling, rising to 100 as the lock delay runs out.
int32_t LockPercent(const Player* p) {
    if (p->State != State_Landed) return 0;
    if (p->Settings.LockDelay == 0) return 100;
    const int64_t percent = 100 - int64_t(p->LockTimer) * 100 / p->Settings.LockDelay;
    return static_cast<int32_t>(std::clamp<int64_t>(percent, 0, 100));
}

void DrawActivePiece(Field* f, Player* p, ClientInterface* ci, int32_t firstRow,
                     uintptr_t userdata) {
    RotationSystemInterface* rs = p->RotationSystem;
    RotationPiece* piece = p->Piece;
    const int32_t percent = LockPercent(p);
    const bool ghost = (p->PlayerFlags & Flag_Ghost) != 0 && rs->ops->FindDropRow;
    const int32_t ghostY = ghost ? rs->ops->FindDropRow(rs, piece, f, p->X, p->Rotation) : 0;
    // The piece record holds a 4 x 4 box per rotation; a larger size is a foreign record's slip.
    const int32_t width = std::clamp(piece->width, 0, 4);
    const int32_t height = std::clamp(piece->height, 0, 4);
    for (int32_t i = 0; i < width; i++) {
        for (int32_t j = 0; j < height; j++) {
            const FieldCell* cell = rs->ops->GetPieceCell(rs, piece, i, j, p->Rotation);
            if (!cell || cell->block == 0 || (cell->flags & CellFlag_NotDrawn)) continue;
            if (p->Y + j < firstRow) continue;
            if (ghost)
                ci->ops->DrawFieldBlock(ci, p->X + i, ghostY + j, cell->data, percent,
                                        cell->flags | CellFlag_Ghost, userdata);
            ci->ops->DrawFieldBlock(ci, p->X + i, p->Y + j, cell->data, percent, cell->flags,
                                    userdata);
        }
    }
}

} // namespace

int32_t Field_Draw(Field* f, ClientInterface* ci, uint32_t flags, uintptr_t userdata) {
    if (!f || !ci || !ci->ops || !ci->ops->DrawFieldBlock) return 0;
    const int32_t firstRow = (flags & 1) ? -f->hiddenRows : 0;
    auto* rowFlags = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(f->height), 1));
    for (int32_t y = firstRow; y < f->height; y++) {
        for (int32_t x = 0; x < f->width; x++) {
            const FieldCell* cell = Field_GetCell(f, x, y);
            if (cell->block != 0 && !(cell->flags & CellFlag_NotDrawn))
                ci->ops->DrawFieldBlock(ci, x, y, cell->data, 100, cell->flags, userdata);
        }
        if (y >= 0 && rowFlags && (Field_GetCell(f, f->width - 1, y)->flags & CellFlag_RowFull))
            rowFlags[y] = 1;
    }
    if (rowFlags && ci->ops->LineClearEffect)
        ci->ops->LineClearEffect(ci, rowFlags, f->height, userdata);
    std::free(rowFlags);

    for (DoublyLinkedListElement* e = f->players->First; e; e = e->Next) {
        Player* p = *static_cast<Player**>(DoublyLinkedList_Data(e));
        if (!p || !p->Piece || !p->RotationSystem || !p->RotationSystem->ops ||
            !p->RotationSystem->ops->GetPieceCell)
            continue;
        if (p->State != State_Falling && p->State != State_Landed) continue;
        DrawActivePiece(f, p, ci, firstRow, userdata);
    }
    return 0;
}
