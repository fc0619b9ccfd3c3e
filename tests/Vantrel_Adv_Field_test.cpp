#include "Vantrel_Adv_Field.h"

#include "DoublyLinkedList.h"
#include "Zelvik_Player.h"
#include "Zelvik_RotationSystem.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct FieldDeleter {
    void operator()(Field* f) const { Field_Free(f); }
};
using FieldPtr = std::unique_ptr<Field, FieldDeleter>;

FieldPtr Make(int32_t w = 10, int32_t h = 20, int32_t hidden = 2) {
    return FieldPtr(Field_Create(w, h, hidden));
}

// By value: packed members cannot be bound to references.
uint32_t FlagsAt(Field* f, int32_t x, int32_t y) {
    return Field_GetCell(f, x, y)->flags;
}
uint32_t DataAt(Field* f, int32_t x, int32_t y) {
    return Field_GetCell(f, x, y)->data;
}

constexpr uint32_t kAllEdges =
    CellFlag_LeftOpen | CellFlag_RightOpen | CellFlag_TopOpen | CellFlag_BottomOpen;

void FillRow(Field* f, int32_t y, uint8_t block = 1) {
    for (int32_t x = 0; x < f->width; x++) Field_SetCell(f, x, y, block, 0x100 + x, 0);
}

int32_t Occupied(Field* f) {
    int32_t n = 0;
    for (int32_t y = -f->hiddenRows; y < f->height; y++)
        for (int32_t x = 0; x < f->width; x++) n += Field_GetCell(f, x, y)->block != 0;
    return n;
}

std::vector<uint8_t> Saved(Field* f) {
    uint32_t size = 0;
    uint8_t* data = Field_Save(f, &size);
    std::vector<uint8_t> out(data, data + size);
    std::free(data);
    return out;
}

TEST(Field, CreateChecksItsDimensions) {
    EXPECT_EQ(Field_Create(0, 20, 2), nullptr);
    EXPECT_EQ(Field_Create(10, 0, 2), nullptr);
    EXPECT_EQ(Field_Create(10, 20, -1), nullptr);
    EXPECT_EQ(Field_Create(-10, 20, 2), nullptr);
    EXPECT_EQ(Field_Create(kFieldMaxDimension + 1, 20, 2), nullptr);
    EXPECT_EQ(Field_Create(10, 20, 0x7FFFFFFF), nullptr);
    FieldPtr f = Make(10, 20, 3);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->ops->GetWidth(f.get()), 10);
    EXPECT_EQ(f->ops->GetHeight(f.get()), 20);
    EXPECT_EQ(f->ops->GetHiddenRows(f.get()), 3);
    EXPECT_EQ(f->state, uint32_t(FieldState_AllClear));
    EXPECT_EQ(f->pendingCount, 0);
    EXPECT_EQ(Field_Free(nullptr), 0);
}

TEST(Field, OutsideCellsAreBlockedAndUntouched) {
    FieldPtr f = Make(10, 20, 2);
    Field* p = f.get();
    EXPECT_EQ(Field_IsBlocked(p, -1, 0), 1);
    EXPECT_EQ(Field_IsBlocked(p, 10, 0), 1);
    EXPECT_EQ(Field_IsBlocked(p, 0, 20), 1);
    EXPECT_EQ(Field_IsBlocked(p, 0, -3), 1);
    EXPECT_EQ(Field_IsBlocked(p, 0, -2), 0);
    Field_SetCell(p, 0, -2, 7, 0, 0);
    EXPECT_EQ(Field_IsBlocked(p, 0, -2), 7);
    EXPECT_EQ(Field_GetCell(p, 0, -3), nullptr);
    EXPECT_EQ(Field_GetCell(p, 10, 5), nullptr);
    EXPECT_EQ(Field_GetCell(p, 0, 20), nullptr);
    const std::vector<uint8_t> before = Saved(p);
    EXPECT_EQ(Field_SetCell(p, -1, 0, 1, 0, 0), 0);
    EXPECT_EQ(Field_SetCell(p, 10, 19, 1, 0, 0), 0);
    EXPECT_EQ(Field_SetCell(p, 0, 20, 1, 0, 0), 0);
    EXPECT_EQ(Field_SetCell(p, 0, -3, 1, 0, 0), 0);
    EXPECT_EQ(Saved(p), before);
    // Cell (x, y) sits at (y + hiddenRows) * width + x.
    EXPECT_EQ(Field_GetCell(p, 3, 1), p->cells + (1 + 2) * 10 + 3);
}

TEST(Field, EdgeBitsFollowWallsFloorAndNeighbours) {
    FieldPtr f = Make(10, 20, 2);
    Field* p = f.get();
    Field_SetCell(p, 4, 10, 1, 0, 0);
    EXPECT_EQ(FlagsAt(p, 4, 10), kAllEdges);

    // Against the left wall and the floor those edges stay closed.
    Field_SetCell(p, 0, 19, 1, 0, 0);
    EXPECT_EQ(FlagsAt(p, 0, 19), uint32_t(CellFlag_RightOpen | CellFlag_TopOpen));
    Field_SetCell(p, 9, 5, 1, 0, 0);
    EXPECT_EQ(FlagsAt(p, 9, 5),
              uint32_t(CellFlag_LeftOpen | CellFlag_TopOpen | CellFlag_BottomOpen));
    // Above the top hidden row counts as blocked too.
    Field_SetCell(p, 5, -2, 1, 0, 0);
    EXPECT_EQ(FlagsAt(p, 5, -2),
              uint32_t(CellFlag_LeftOpen | CellFlag_RightOpen | CellFlag_BottomOpen));

    // A right neighbour closes the shared edge on both cells.
    Field_SetCell(p, 5, 10, 2, 0, 0);
    EXPECT_EQ(FlagsAt(p, 4, 10), kAllEdges & ~uint32_t(CellFlag_RightOpen));
    EXPECT_EQ(FlagsAt(p, 5, 10), kAllEdges & ~uint32_t(CellFlag_LeftOpen));
    // Above and below.
    Field_SetCell(p, 4, 9, 1, 0, 0);
    Field_SetCell(p, 4, 11, 1, 0, 0);
    EXPECT_EQ(FlagsAt(p, 4, 10), uint32_t(CellFlag_LeftOpen));
    EXPECT_EQ(FlagsAt(p, 4, 9) & (CellFlag_BottomOpen | CellFlag_TopOpen),
              uint32_t(CellFlag_TopOpen));
    EXPECT_EQ(FlagsAt(p, 4, 11) & (CellFlag_BottomOpen | CellFlag_TopOpen),
              uint32_t(CellFlag_BottomOpen));

    // The caller's flags are the base; an empty cell changes no neighbour.
    Field_SetCell(p, 7, 3, 1, 0, CellFlag_NotDrawn);
    EXPECT_EQ(FlagsAt(p, 7, 3), kAllEdges | CellFlag_NotDrawn);
    Field_SetCell(p, 5, 10, 0, 0, 0);
    EXPECT_EQ(FlagsAt(p, 4, 10), uint32_t(CellFlag_LeftOpen));
    EXPECT_EQ(Field_GetCell(p, 5, 10)->block, 0);
    EXPECT_EQ(DataAt(p, 5, 10), 0u);
}

TEST(Field, SeparatedFullRowsAreMarkedClearedAndCollapsed) {
    FieldPtr f = Make(10, 20, 2);
    Field* p = f.get();
    FillRow(p, 19);
    FillRow(p, 17);
    Field_SetCell(p, 3, 18, 5, 0x333, 0); // the partial row between them
    Field_SetCell(p, 6, 16, 6, 0x666, 0); // a block resting on the upper full row
    EXPECT_EQ(Field_MarkFullRows(p), 2);
    EXPECT_TRUE(p->state & FieldState_RowsMarked);
    EXPECT_FALSE(p->state & FieldState_AllClear);
    for (int32_t x = 0; x < 10; x++) {
        EXPECT_TRUE(FlagsAt(p, x, 19) & CellFlag_RowFull);
        EXPECT_TRUE(FlagsAt(p, x, 17) & CellFlag_RowFull);
        EXPECT_FALSE(FlagsAt(p, x, 18) & CellFlag_RowFull);
    }

    EXPECT_EQ(Field_ClearFullRows(p), 2);
    EXPECT_FALSE(p->state & FieldState_RowsMarked);
    for (int32_t x = 0; x < 10; x++) {
        EXPECT_EQ(Field_GetCell(p, x, 19)->block, 0);
        EXPECT_EQ(DataAt(p, x, 19), uint32_t(0x100 + x)); // data stays
        EXPECT_TRUE(FlagsAt(p, x, 17) & CellFlag_RowFull);
    }
    // The cells next to the cleared rows are open towards them.
    EXPECT_EQ(FlagsAt(p, 3, 18) & (CellFlag_TopOpen | CellFlag_BottomOpen),
              uint32_t(CellFlag_TopOpen | CellFlag_BottomOpen));
    EXPECT_TRUE(FlagsAt(p, 6, 16) & CellFlag_BottomOpen);

    EXPECT_EQ(Field_CollapseRows(p), 2);
    EXPECT_EQ(Occupied(p), 2);
    EXPECT_EQ(Field_GetCell(p, 3, 19)->block, 5);
    EXPECT_EQ(DataAt(p, 3, 19), 0x333u);
    EXPECT_EQ(Field_GetCell(p, 6, 18)->block, 6);
    // Floor seam: the bottom row's lower edge is closed again; the block above an empty cell is
    // open downwards.
    EXPECT_FALSE(FlagsAt(p, 3, 19) & CellFlag_BottomOpen);
    EXPECT_TRUE(FlagsAt(p, 6, 18) & CellFlag_BottomOpen);
    for (int32_t y = -2; y < 20; y++)
        for (int32_t x = 0; x < 10; x++) EXPECT_FALSE(FlagsAt(p, x, y) & CellFlag_RowFull);
}

TEST(Field, CollapseEmptiesTheVacatedTopRow) {
    FieldPtr f = Make(4, 6, 2);
    Field* p = f.get();
    Field_SetCell(p, 1, -2, 9, 0x99, 0); // something in the top hidden row
    FillRow(p, 5);
    Field_ClearFullRows(p);
    EXPECT_EQ(Field_CollapseRows(p), 1);
    EXPECT_EQ(Field_GetCell(p, 1, -1)->block, 9);
    EXPECT_EQ(DataAt(p, 1, -1), 0x99u);
    for (int32_t x = 0; x < 4; x++) {
        const FieldCell* c = Field_GetCell(p, x, -2);
        EXPECT_EQ(c->block, 0);
        EXPECT_EQ(uint32_t(c->data), 0u);
        EXPECT_EQ(uint32_t(c->flags), 0u);
    }
    EXPECT_EQ(Occupied(p), 1);
}

TEST(Field, CollapseEndsWhenTheTopRowsAreMarked) {
    FieldPtr f = Make(3, 4, 1);
    Field* p = f.get();
    FillRow(p, -1);
    FillRow(p, 0);
    EXPECT_EQ(Field_MarkFullRows(p), 2);
    EXPECT_EQ(Field_ClearFullRows(p), 2);
    // Stored row 1 is tested twice: first it takes the marked top row, then an empty one.
    EXPECT_EQ(Field_CollapseRows(p), 2);
    for (int32_t y = -1; y < 4; y++)
        for (int32_t x = 0; x < 3; x++) EXPECT_EQ(FlagsAt(p, x, y), 0u) << x << "," << y;
    EXPECT_EQ(Field_CollapseRows(p), 0);
}

TEST(Field, AllClearBitTracksWhatRemains) {
    FieldPtr f = Make(10, 20, 2);
    Field* p = f.get();
    FillRow(p, 19);
    FillRow(p, 18);
    EXPECT_EQ(Field_MarkFullRows(p), 2);
    EXPECT_TRUE(p->state & FieldState_AllClear);
    Field_SetCell(p, 0, 17, 1, 0, 0);
    EXPECT_FALSE(p->state & FieldState_AllClear);
    Field_SetCell(p, 0, 17, 0, 0, 0);
    EXPECT_TRUE(p->state & FieldState_AllClear);
    // A block in a hidden row counts as well.
    Field_SetCell(p, 2, -1, 1, 0, 0);
    EXPECT_FALSE(p->state & FieldState_AllClear);
}

TEST(Field, SaveLoadRoundTripAndWrongLength) {
    FieldPtr f = Make(10, 20, 3);
    Field* p = f.get();
    Field_SetCell(p, 2, 5, 3, 0xABCDEF, CellFlag_NotDrawn);
    Field_SetCell(p, 9, -3, 4, 0x1234, 0);
    p->pending[7] = FieldCell{2, 0x55, 0x66};
    uint32_t size = 0;
    uint8_t* data = Field_Save(p, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 10u * (2 * 20 + 3) * 9);
    EXPECT_EQ(size, Field_SaveSize(p));
    EXPECT_EQ(std::memcmp(data, p->cells, 10 * 23 * 9), 0);
    EXPECT_EQ(std::memcmp(data + 10 * 23 * 9, p->pending, 10 * 20 * 9), 0);
    // Byte layout of one cell: block, data LE, flags LE.
    const uint8_t* c = data + ((5 + 3) * 10 + 2) * 9;
    const uint8_t expected[9] = {3, 0xEF, 0xCD, 0xAB, 0, 0x40 | 0x1E, 0, 0, 0};
    EXPECT_EQ(std::memcmp(c, expected, 9), 0);

    const std::vector<uint8_t> saved(data, data + size);
    Field_Clear(p);
    EXPECT_EQ(Occupied(p), 0);
    EXPECT_EQ(p->pending[7].block, 0);
    EXPECT_EQ(Field_Load(p, data, size), 1);
    EXPECT_EQ(Saved(p), saved);

    Field_Clear(p);
    const std::vector<uint8_t> cleared = Saved(p);
    EXPECT_EQ(Field_Load(p, data, size - 1), 0);
    EXPECT_EQ(Field_Load(p, nullptr, size), 0);
    std::vector<uint8_t> longer(saved);
    longer.push_back(0);
    EXPECT_EQ(Field_Load(p, longer.data(), static_cast<uint32_t>(longer.size())), 0);
    EXPECT_EQ(Saved(p), cleared);
    std::free(data);
}

TEST(Field, ChecksumIsZlibCrcOfTheSaveData) {
    FieldPtr f = Make(10, 20, 3);
    Field* p = f.get();
    std::vector<uint8_t> zeros(10 * (2 * 20 + 3) * 9, 0);
    const uint32_t fresh = static_cast<uint32_t>(crc32(0L, zeros.data(), zeros.size()));
    EXPECT_EQ(Field_Checksum(p), fresh);

    Field_SetCell(p, 1, 1, 1, 0xFFFFFFFF, 0);
    Field_SetCell(p, 0, -3, 2, 7, 0);
    std::vector<uint8_t> saved = Saved(p);
    EXPECT_EQ(Field_Checksum(p), static_cast<uint32_t>(crc32(0L, saved.data(), saved.size())));
    EXPECT_NE(Field_Checksum(p), fresh);

    // The pending rows are part of it.
    const uint32_t before = Field_Checksum(p);
    p->pending[0].data = 1;
    EXPECT_NE(Field_Checksum(p), before);
    saved = Saved(p);
    EXPECT_EQ(Field_Checksum(p), static_cast<uint32_t>(crc32(0L, saved.data(), saved.size())));
}

TEST(Field, PendingRowsRiseFromTheBottom) {
    FieldPtr f = Make(3, 4, 1);
    Field* p = f.get();
    Field_SetCell(p, 0, -1, 1, 0xA, 0); // dropped by a raise of two
    Field_SetCell(p, 1, 0, 1, 0xD, 0);  // dropped as well
    Field_SetCell(p, 1, 1, 1, 0xB, 0);
    Field_SetCell(p, 2, 3, 1, 0xC, 0);
    for (int32_t i = 0; i < 6; i++) p->pending[i] = FieldCell{2, uint32_t(0x20 + i), 0};
    p->pendingCount = 2;
    EXPECT_EQ(Field_RaisePendingRows(p), 0);
    EXPECT_EQ(p->pendingCount, 0);
    EXPECT_EQ(DataAt(p, 1, -1), 0xBu);
    EXPECT_EQ(DataAt(p, 2, 1), 0xCu);
    for (int32_t x = 0; x < 3; x++) {
        EXPECT_EQ(DataAt(p, x, 2), uint32_t(0x20 + x));
        EXPECT_EQ(DataAt(p, x, 3), uint32_t(0x23 + x));
    }
    EXPECT_EQ(Occupied(p), 8);

    // A count beyond the buffer's rows is cut to them.
    p->pendingCount = 1000;
    Field_RaisePendingRows(p);
    EXPECT_EQ(p->pendingCount, 0);
    // Raised by the whole height: the old floor row is the top hidden row now, the pending rows
    // fill the visible field in order.
    EXPECT_EQ(DataAt(p, 0, -1), 0x23u);
    EXPECT_EQ(DataAt(p, 2, 0), 0x22u);
    EXPECT_EQ(DataAt(p, 2, 1), 0x25u);
    EXPECT_EQ(Field_GetCell(p, 2, 3)->block, 0);
    p->pendingCount = -5;
    Field_RaisePendingRows(p);
    EXPECT_EQ(p->pendingCount, 0);
}

TEST(Field, PlayersAttachOnceAndDetach) {
    FieldPtr f = Make();
    Field* p = f.get();
    auto* a = reinterpret_cast<Player*>(uintptr_t(0x1000));
    auto* b = reinterpret_cast<Player*>(uintptr_t(0x2000));
    Field_AttachPlayer(p, a);
    Field_AttachPlayer(p, a);
    Field_AttachPlayer(p, b);
    EXPECT_EQ(p->players->Count, 2);
    Field_DetachPlayer(p, reinterpret_cast<Player*>(uintptr_t(0x3000)));
    EXPECT_EQ(p->players->Count, 2);
    Field_DetachPlayer(p, a);
    ASSERT_EQ(p->players->Count, 1);
    EXPECT_EQ(*static_cast<Player**>(DoublyLinkedList_Data(p->players->First)), b);
    // Field_Free releases the list with its remaining entry (the leak checker watches).
}

TEST(Field, ForEachCellVisitsRowsInOrder) {
    FieldPtr f = Make(3, 4, 2);
    Field* p = f.get();
    std::vector<FieldCell*> seen;
    auto collect = [](FieldCell* cell, uintptr_t ud) {
        reinterpret_cast<std::vector<FieldCell*>*>(ud)->push_back(cell);
    };
    Field_ForEachCell(p, 0, collect, reinterpret_cast<uintptr_t>(&seen));
    ASSERT_EQ(seen.size(), 12u);
    EXPECT_EQ(seen.front(), Field_GetCell(p, 0, 0));
    EXPECT_EQ(seen[4], Field_GetCell(p, 1, 1));
    EXPECT_EQ(seen.back(), Field_GetCell(p, 2, 3));
    seen.clear();
    Field_ForEachCell(p, 1, collect, reinterpret_cast<uintptr_t>(&seen));
    ASSERT_EQ(seen.size(), 18u);
    EXPECT_EQ(seen.front(), Field_GetCell(p, 0, -2));
    EXPECT_EQ(Field_ForEachCell(p, 1, nullptr, 0), 0);
}

// A host that records every call the field makes.
struct DrawCall {
    int32_t x, y;
    uint32_t data;
    int32_t percent;
    uint32_t flags;
    uintptr_t userdata;
    bool operator==(const DrawCall&) const = default;
};

struct Recorder {
    ClientInterface base;
    std::vector<DrawCall> blocks;
    std::vector<std::vector<uint8_t>> lineClears;
    size_t blocksBeforeLineClear = 0;
    uintptr_t lineClearUserdata = 0;

    static Recorder* Of(ClientInterface* ci) { return reinterpret_cast<Recorder*>(ci); }
    static int32_t Draw(ClientInterface* ci, int32_t x, int32_t y, uint32_t data, int32_t percent,
                        uint32_t flags, uintptr_t ud) {
        Of(ci)->blocks.push_back({x, y, data, percent, flags, ud});
        return 0;
    }
    static int32_t LineClear(ClientInterface* ci, const uint8_t* rows, int32_t height,
                             uintptr_t ud) {
        Of(ci)->lineClearUserdata = ud;
        Of(ci)->blocksBeforeLineClear = Of(ci)->blocks.size();
        Of(ci)->lineClears.emplace_back(rows, rows + height);
        return 0;
    }
    static constexpr ClientInterfaceOps kOps = {Draw,    nullptr, nullptr, nullptr, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, LineClear};
    Recorder() : base{&kOps} {}
    ClientInterface* ci() { return &base; }
};

// A T piece: three blocks on box row 1, one above the middle, in rotation state 0; the other
// states hold the same cells so that a wrong rotation index still shows in the draw calls'
// colours.
struct TestRotationSystem {
    RotationSystemInterface base;
    std::vector<std::vector<int32_t>> dropRowCalls; // x, rotation

    static TestRotationSystem* Of(RotationSystemInterface* rs) {
        return reinterpret_cast<TestRotationSystem*>(rs);
    }
    static FieldCell* Cell(RotationSystemInterface*, RotationPiece* piece, int32_t x, int32_t y,
                           int32_t rotation) {
        if (!piece || x < 0 || x >= piece->width || y < 0 || y >= piece->height) return nullptr;
        return &piece->cells[(rotation & 3) * 16 + y * 4 + x];
    }
    // The lowest row at which the box fits in column x.
    static int32_t DropRow(RotationSystemInterface* rs, RotationPiece* piece, Field* field,
                           int32_t x, int32_t rotation) {
        Of(rs)->dropRowCalls.push_back({x, rotation});
        for (int32_t n = Field_GetHeight(field) - 1; n >= 0; n--) {
            bool fits = true;
            for (int32_t i = 0; i < 4 && fits; i++)
                for (int32_t j = 0; j < 4 && fits; j++) {
                    const FieldCell* c = Cell(rs, piece, j, i, rotation);
                    if (c && c->block && Field_IsBlocked(field, x + j, n + i)) fits = false;
                }
            if (fits) return n;
        }
        return 0;
    }
    static constexpr RotationSystemOps kOps = {nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, Cell,    nullptr, nullptr, nullptr,
                                               DropRow, nullptr, nullptr};
    TestRotationSystem() : base{&kOps} {}
};

RotationPiece MakeT() {
    RotationPiece piece{};
    piece.kind = Piece_T;
    piece.width = 4;
    piece.height = 4;
    piece.rotations = 4;
    for (int32_t r = 0; r < 4; r++) {
        FieldCell* cells = piece.cells + r * 16;
        const uint32_t colour = 0xC0 + r;
        cells[1 * 4 + 0] = {7, colour, CellFlag_LeftOpen};
        cells[1 * 4 + 1] = {7, colour, 0};
        cells[1 * 4 + 2] = {7, colour, CellFlag_RightOpen};
        cells[0 * 4 + 1] = {7, colour, CellFlag_TopOpen};
    }
    // A block that is never drawn (it still takes part in collisions).
    piece.cells[2 * 16 + 1 * 4 + 3] = {7, 0xEE, CellFlag_NotDrawn};
    return piece;
}

struct PlayerDeleter {
    void operator()(Player* p) const { std::free(p); }
};

std::unique_ptr<Player, PlayerDeleter> MakePlayer(RotationSystemInterface* rs, RotationPiece* piece,
                                                  int32_t state, int32_t x, int32_t y) {
    std::unique_ptr<Player, PlayerDeleter> p(static_cast<Player*>(std::calloc(1, sizeof(Player))));
    p->RotationSystem = rs;
    p->Piece = piece;
    p->State = state;
    p->X = x;
    p->Y = y;
    p->Rotation = 2;
    p->Settings.LockDelay = 30;
    return p;
}

TEST(Field, DrawSettledCellsAndLineClearFlags) {
    FieldPtr f = Make(4, 5, 2);
    Field* p = f.get();
    Field_SetCell(p, 1, -1, 3, 0x11, 0);
    Field_SetCell(p, 2, 1, 3, 0x22, 0);
    Field_SetCell(p, 3, 1, 3, 0x33, CellFlag_NotDrawn);
    FillRow(p, 4);

    Recorder rec;
    Field_Draw(p, rec.ci(), 0, 77);
    ASSERT_EQ(rec.lineClears.size(), 1u);
    EXPECT_EQ(rec.lineClears[0], (std::vector<uint8_t>{0, 0, 0, 0, 1}));
    EXPECT_EQ(rec.blocksBeforeLineClear, rec.blocks.size());
    EXPECT_EQ(rec.lineClearUserdata, 77u);
    // Neighbours in the floor row closed each other's side edges; (3, 1) closed (2, 1)'s right.
    const uint32_t rowFlags = CellFlag_RowFull | CellFlag_TopOpen;
    const std::vector<DrawCall> expected = {
        {2, 1, 0x22, 100, kAllEdges & ~uint32_t(CellFlag_RightOpen), 77},
        {0, 4, 0x100, 100, rowFlags, 77},
        {1, 4, 0x101, 100, rowFlags, 77},
        {2, 4, 0x102, 100, rowFlags, 77},
        {3, 4, 0x103, 100, rowFlags, 77},
    };
    EXPECT_EQ(rec.blocks, expected);

    // Bit 0 adds the hidden rows.
    Recorder all;
    Field_Draw(p, all.ci(), 1, 77);
    ASSERT_EQ(all.blocks.size(), 6u);
    EXPECT_EQ(all.blocks[0], (DrawCall{1, -1, 0x11, 100, kAllEdges, 77}));
    EXPECT_EQ(all.lineClears[0].size(), 5u);

    // No host: nothing to call, nothing breaks.
    EXPECT_EQ(Field_Draw(p, nullptr, 0, 0), 0);
}

TEST(Field, DrawActivePieceWithGhostAndLockPercent) {
    FieldPtr f = Make(10, 20, 2);
    Field* p = f.get();
    FillRow(p, 19);
    Field_MarkFullRows(p);
    TestRotationSystem rs;
    RotationPiece piece = MakeT();
    auto player = MakePlayer(&rs.base, &piece, State_Landed, 3, 5);
    player->LockTimer = 15;
    player->PlayerFlags = Flag_Ghost;
    Field_AttachPlayer(p, player.get());

    Recorder rec;
    Field_Draw(p, rec.ci(), 0, 77);
    ASSERT_EQ(rs.dropRowCalls.size(), 1u);
    EXPECT_EQ(rs.dropRowCalls[0], (std::vector<int32_t>{3, 2}));
    // Settled row first, then for each box column and row the ghost cell before the piece.
    ASSERT_EQ(rec.blocks.size(), 10u + 8u);
    const int32_t ghostY = 17; // box row 1 rests on the full floor row
    const uint32_t c = 0xC2;
    const std::vector<DrawCall> piecesExpected = {
        {3, ghostY + 1, c, 50, CellFlag_LeftOpen | CellFlag_Ghost, 77},
        {3, 6, c, 50, CellFlag_LeftOpen, 77},
        {4, ghostY + 0, c, 50, CellFlag_TopOpen | CellFlag_Ghost, 77},
        {4, 5, c, 50, CellFlag_TopOpen, 77},
        {4, ghostY + 1, c, 50, CellFlag_Ghost, 77},
        {4, 6, c, 50, 0, 77},
        {5, ghostY + 1, c, 50, CellFlag_RightOpen | CellFlag_Ghost, 77},
        {5, 6, c, 50, CellFlag_RightOpen, 77},
    };
    EXPECT_EQ(std::vector<DrawCall>(rec.blocks.begin() + 10, rec.blocks.end()), piecesExpected);

    // Lock progress: 0 while falling, 100 - timer * 100 / delay while landed.
    auto percentOf = [&](int32_t state, int32_t timer, int32_t delay) {
        player->State = state;
        player->LockTimer = timer;
        player->Settings.LockDelay = delay;
        Recorder r;
        Field_Draw(p, r.ci(), 0, 77);
        return r.blocks.size() > 10 ? r.blocks.back().percent : -1;
    };
    EXPECT_EQ(percentOf(State_Landed, 30, 30), 0);
    EXPECT_EQ(percentOf(State_Landed, 0, 30), 100);
    EXPECT_EQ(percentOf(State_Landed, 20, 30), 34);
    EXPECT_EQ(percentOf(State_Landed, 5, 0), 100);
    EXPECT_EQ(percentOf(State_Falling, 15, 30), 0);
    EXPECT_EQ(percentOf(State_EntryDelay, 15, 30), -1);
    EXPECT_EQ(percentOf(State_LineClear, 15, 30), -1);
    Field_DetachPlayer(p, player.get());
}

TEST(Field, DrawSkipsPieceRowsAboveTheFirstDrawnRow) {
    FieldPtr f = Make(10, 20, 2);
    Field* p = f.get();
    TestRotationSystem rs;
    RotationPiece piece = MakeT();
    auto player = MakePlayer(&rs.base, &piece, State_Falling, 0, -1);
    player->Rotation = 0;
    Field_AttachPlayer(p, player.get());

    Recorder visible;
    Field_Draw(p, visible.ci(), 0, 5);
    // Box row 0 lies at y -1: only the three blocks of row 1 are drawn, without ghost.
    ASSERT_EQ(visible.blocks.size(), 3u);
    for (const DrawCall& c : visible.blocks) {
        EXPECT_EQ(c.y, 0);
        EXPECT_EQ(c.percent, 0);
        EXPECT_EQ(c.userdata, 5u);
    }
    EXPECT_TRUE(rs.dropRowCalls.empty());

    Recorder all;
    Field_Draw(p, all.ci(), 1, 5);
    EXPECT_EQ(all.blocks.size(), 4u);

    // A player without a piece draws nothing of its own.
    player->Piece = nullptr;
    Recorder none;
    Field_Draw(p, none.ci(), 1, 5);
    EXPECT_TRUE(none.blocks.empty());
    Field_DetachPlayer(p, player.get());
}

} // namespace
