// The "Dalmor WEXO" rotation system, loaded from the run folder, on real fields.
#include "Platform_Library.h"
#include "Vantrel_Adv_Field.h"
#include "Vantrel_Adv_Player.h"
#include "Zelvik_ID.h"
#include "Zelvik_RotationSystem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace {

struct Loaded {
    void* library =
        Platform_Library_Open(std::string(ZELVIK_GAME_DIR) + "/dlls/rotationsystem/wexo_dalmor.so");
    PluginGetIDFn getID =
        reinterpret_cast<PluginGetIDFn>(Platform_Library_Symbol(library, "GetID"));
    CreateRotationSystemInterfaceFn create = reinterpret_cast<CreateRotationSystemInterfaceFn>(
        Platform_Library_Symbol(library, "CreateRotationSystemInterface"));
};

class WexoDalmor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(plugin.create, nullptr);
        rs = plugin.create(nullptr);
        ASSERT_NE(rs, nullptr);
        field = Field_Create(10, 20, 3);
        ASSERT_NE(field, nullptr);
    }
    void TearDown() override {
        for (RotationPiece* p : pieces) rs->ops->FreePiece(rs, p);
        rs->ops->Free(rs);
        Field_Free(field);
    }
    RotationPiece* Piece(uint32_t kind) {
        RotationPiece* p = rs->ops->CreatePiece(rs, kind, 0);
        if (p) pieces.insert(p);
        return p;
    }
    std::set<std::pair<int, int>> Blocks(RotationPiece* p, int rotation) {
        std::set<std::pair<int, int>> cells;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                if (rs->ops->GetPieceBlock(rs, p, x, y, rotation)) cells.insert({x, y});
        return cells;
    }

    Loaded plugin;
    RotationSystemInterface* rs = nullptr;
    Field* field = nullptr;
    std::set<RotationPiece*> pieces;
};

TEST_F(WexoDalmor, IdentifiesItself) {
    ZelvikID id;
    std::memset(&id, 0, sizeof id);
    id.size = 147;
    EXPECT_EQ(plugin.getID(&id), 0u);
    EXPECT_EQ(id.kind, 0);
    id.size = sizeof id;
    EXPECT_EQ(plugin.getID(&id), 1u);
    EXPECT_EQ(id.kind, PluginKind_RotationSystem);
    EXPECT_EQ(id.version, 0x0000000100000000ull);
    EXPECT_EQ(id.build, 0x4b1968a0);
    char16_t text[32];
    std::memcpy(text, reinterpret_cast<char*>(&id) + offsetof(ZelvikID, name), sizeof text);
    EXPECT_EQ(std::u16string(text), u"Dalmor WEXO");
    std::memcpy(text, reinterpret_cast<char*>(&id) + offsetof(ZelvikID, author), sizeof text);
    EXPECT_EQ(std::u16string(text), u"Pemlow");
    ZelvikID viaObject;
    std::memset(&viaObject, 0, sizeof viaObject);
    viaObject.size = sizeof viaObject;
    EXPECT_EQ(rs->ops->GetID(rs, &viaObject), 1u);
    EXPECT_EQ(std::memcmp(&id, &viaObject, sizeof id), 0);
}

TEST_F(WexoDalmor, PiecesTurnClockwiseAboutTheirBox) {
    for (uint32_t kind = Piece_I; kind <= Piece_T; ++kind) {
        RotationPiece* p = Piece(kind);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->kind, kind);
        EXPECT_EQ(p->width, 4);
        EXPECT_EQ(p->height, 4);
        EXPECT_EQ(p->rotations, 4);
        EXPECT_EQ(p->spawnOffset, 0);
        for (int r = 0; r < 4; ++r) {
            const auto now = Blocks(p, r);
            ASSERT_EQ(now.size(), 4u) << kind << " " << r;
            std::set<std::pair<int, int>> turned;
            // I turns in its 4x4 box, O stays, the others turn in the top-left 3x3 box.
            for (auto [x, y] : now) {
                if (kind == Piece_I)
                    turned.insert({3 - y, x});
                else if (kind == Piece_O)
                    turned.insert({x, y});
                else
                    turned.insert({2 - y, x});
            }
            EXPECT_EQ(Blocks(p, r + 1), turned) << "kind " << kind << " state " << r;
        }
    }
    // Spot checks of the states the turns start from.
    EXPECT_EQ(Blocks(Piece(Piece_I), 0),
              (std::set<std::pair<int, int>>{{0, 1}, {1, 1}, {2, 1}, {3, 1}}));
    EXPECT_EQ(Blocks(Piece(Piece_T), 0),
              (std::set<std::pair<int, int>>{{1, 0}, {0, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(Blocks(Piece(Piece_Z), 0),
              (std::set<std::pair<int, int>>{{0, 0}, {1, 0}, {1, 1}, {2, 1}}));
    EXPECT_EQ(Blocks(Piece(Piece_S), 0),
              (std::set<std::pair<int, int>>{{1, 0}, {2, 0}, {0, 1}, {1, 1}}));
    EXPECT_EQ(Blocks(Piece(Piece_J), 0),
              (std::set<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(Blocks(Piece(Piece_L), 0),
              (std::set<std::pair<int, int>>{{2, 0}, {0, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(Blocks(Piece(Piece_O), 0),
              (std::set<std::pair<int, int>>{{1, 0}, {2, 0}, {1, 1}, {2, 1}}));
}

TEST_F(WexoDalmor, CellsCarryColourAndFlags) {
    const uint32_t colours[8] = {0,        0xFFFF00, 0x0000FF, 0x00FF00,
                                 0xFF0000, 0x00AAFF, 0x00FFFF, 0xFF0099};
    for (uint32_t kind = Piece_I; kind <= Piece_T; ++kind) {
        RotationPiece* p = Piece(kind);
        for (const FieldCell& c : p->cells) {
            EXPECT_EQ(uint32_t{c.data}, colours[kind]) << kind;
            EXPECT_EQ(uint32_t{c.flags}, 0u);
        }
    }
    RotationPiece* flagged = rs->ops->CreatePiece(rs, Piece_T, 0x40);
    EXPECT_EQ(uint32_t{rs->ops->GetPieceCell(rs, flagged, 1, 0, 0)->flags}, 0x40u);
    rs->ops->FreePiece(rs, flagged);

    EXPECT_EQ(rs->ops->CreatePiece(rs, 0, 0), nullptr);
    EXPECT_EQ(rs->ops->CreatePiece(rs, 8, 0), nullptr);
    EXPECT_EQ(rs->ops->FreePiece(rs, nullptr), 0);
}

TEST_F(WexoDalmor, CellLookupsStayInsideTheBox) {
    RotationPiece* t = Piece(Piece_T);
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, 1, 0, 0), &t->cells[1]);
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, 1, 0, 2), &t->cells[1 + 4 * (0 + 2 * 4)]);
    // -1 is state 3, 5 is state 1.
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, 0, 1, -1), rs->ops->GetPieceCell(rs, t, 0, 1, 3));
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, 0, 1, 5), rs->ops->GetPieceCell(rs, t, 0, 1, 1));
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, -1, 0, 0), nullptr);
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, 4, 0, 0), nullptr);
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, 0, 4, 0), nullptr);
    EXPECT_EQ(rs->ops->GetPieceCell(rs, t, 0, -1, 0), nullptr);
    EXPECT_EQ(rs->ops->GetPieceCell(rs, nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(rs->ops->GetPieceBlock(rs, t, 1, 0, 0), 1);
    EXPECT_EQ(rs->ops->GetPieceBlock(rs, t, 9, 0, 0), 0);
    EXPECT_EQ(rs->ops->GetPieceBlock(rs, t, 1, 0, INT32_MIN),
              rs->ops->GetPieceBlock(rs, t, 1, 0, 0));
}

TEST_F(WexoDalmor, TopRowPutsTheTopBlockInRowZero) {
    EXPECT_EQ(rs->ops->GetTopRow(rs, Piece(Piece_I), 0), -1);
    EXPECT_EQ(rs->ops->GetTopRow(rs, Piece(Piece_I), 2), -2);
    EXPECT_EQ(rs->ops->GetTopRow(rs, Piece(Piece_I), 1), 0);
    for (uint32_t kind = Piece_Z; kind <= Piece_T; ++kind)
        EXPECT_EQ(rs->ops->GetTopRow(rs, Piece(kind), 0), 0) << kind;
    EXPECT_EQ(rs->ops->GetTopRow(rs, Piece(Piece_T), 2), -1);
    EXPECT_EQ(rs->ops->GetTopRow(rs, Piece(Piece_T), -2), -1);
    EXPECT_EQ(rs->ops->GetTopRow(rs, nullptr, 0), -3);
}

TEST_F(WexoDalmor, CollidesWithWallsFloorAndBlocks) {
    RotationPiece* i = Piece(Piece_I);
    RotationPiece* t = Piece(Piece_T);
    EXPECT_EQ(rs->ops->Collides(rs, nullptr, field, 0, 0, 0), 7);
    EXPECT_EQ(rs->ops->Collides(rs, t, nullptr, 0, 0, 0), 7);
    // State 1 of I stands in box column 2.
    EXPECT_EQ(rs->ops->Collides(rs, i, field, -2, 0, 1), 0);
    EXPECT_EQ(rs->ops->Collides(rs, i, field, -3, 0, 1), 1);
    EXPECT_EQ(rs->ops->Collides(rs, i, field, 7, 0, 1), 0);
    EXPECT_EQ(rs->ops->Collides(rs, i, field, 8, 0, 1), 1);
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, 18, 0), 0); // rows 18 and 19
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, 19, 0), 1); // the floor
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, -3, 0), 0); // top hidden row
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, -4, 0), 1); // above it
    // The empty rows of the box may lie outside the field.
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 7, 17, 0), 0);
    Field_SetCell(field, 4, 10, 1, 0, 0);
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, 9, 0), 1);  // centre block on it
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, 10, 0), 1); // top block on it
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, 8, 2), 1);  // state 2's stem on it
    EXPECT_EQ(rs->ops->Collides(rs, t, field, 3, 7, 2), 0);  // resting on it
}

TEST_F(WexoDalmor, DropRowIsTheLowestFitInTheColumn) {
    RotationPiece* o = Piece(Piece_O);
    RotationPiece* i = Piece(Piece_I);
    EXPECT_EQ(rs->ops->FindDropRow(rs, o, field, 3, 0), 18);
    EXPECT_EQ(rs->ops->FindDropRow(rs, i, field, 3, 0), 18); // blocks in box row 1
    EXPECT_EQ(rs->ops->FindDropRow(rs, i, field, 3, 1), 16);
    // An overhang above does not stop the scan from below.
    Field_SetCell(field, 4, 5, 1, 0, 0);
    EXPECT_EQ(rs->ops->FindDropRow(rs, o, field, 3, 0), 18);
    Field_SetCell(field, 5, 19, 1, 0, 0);
    EXPECT_EQ(rs->ops->FindDropRow(rs, o, field, 3, 0), 17);
    // Nothing fits in a column beyond the wall.
    EXPECT_EQ(rs->ops->FindDropRow(rs, o, field, 9, 0), 0);
    EXPECT_EQ(rs->ops->FindDropRow(rs, nullptr, field, 3, 0), 0);
    EXPECT_EQ(rs->ops->FindDropRow(rs, o, nullptr, 3, 0), 0);
}

TEST_F(WexoDalmor, PlacePieceWritesItsBlocksIntoTheField) {
    RotationPiece* l = Piece(Piece_L);
    const uint32_t before = Field_Checksum(field);
    rs->ops->PlacePiece(rs, nullptr, field, 0, 0, 0);
    rs->ops->PlacePiece(rs, l, nullptr, 0, 0, 0);
    EXPECT_EQ(Field_Checksum(field), before);

    rs->ops->PlacePiece(rs, l, field, 0, 18, 1); // state 1: (1,0) (1,1) (1,2) (2,2)
    int count = 0;
    for (int y = -3; y < 20; ++y)
        for (int x = 0; x < 10; ++x)
            if (Field_GetCell(field, x, y)->block) ++count;
    // Box row 2 lies below the floor and is dropped by the field.
    EXPECT_EQ(count, 2);
    EXPECT_EQ(Field_GetCell(field, 1, 18)->block, 1);
    EXPECT_EQ(Field_GetCell(field, 1, 19)->block, 1);
    EXPECT_EQ(uint32_t{Field_GetCell(field, 1, 19)->data}, 0x00AAFFu);

    Field_Clear(field);
    rs->ops->PlacePiece(rs, l, field, 3, 5, -1); // state 3: (0,0) (1,0) (1,1) (1,2)
    EXPECT_EQ(Field_GetCell(field, 3, 5)->block, 1);
    EXPECT_EQ(Field_GetCell(field, 4, 5)->block, 1);
    EXPECT_EQ(Field_GetCell(field, 4, 6)->block, 1);
    EXPECT_EQ(Field_GetCell(field, 4, 7)->block, 1);
    EXPECT_EQ(Field_GetCell(field, 3, 6)->block, 0);
}

// Turns asked by a real player: the player owns the rotation-system object and the piece.
class WexoDalmorTurns : public ::testing::Test {
protected:
    void SetUp() override {
        p = Player_Create(nullptr, 1); // 10 x 20, 3 hidden rows
        ASSERT_NE(p, nullptr);
        ASSERT_NE(plugin.create, nullptr);
        p->RotationSystem = rs = plugin.create(nullptr);
        ASSERT_NE(rs, nullptr);
    }
    void TearDown() override { Player_Free(p); }
    void Take(uint32_t kind, int32_t x, int32_t y, int32_t rotation = 0) {
        if (p->Piece) rs->ops->FreePiece(rs, p->Piece);
        p->Piece = rs->ops->CreatePiece(rs, kind, 0);
        p->X = x;
        p->Y = y;
        p->Rotation = rotation;
    }
    int32_t Press(uint32_t now, uint32_t before = 0) {
        p->InputUsed = now;
        p->PreviousInput = before;
        return rs->ops->Rotate(rs, p);
    }
    void Block(int32_t x, int32_t y) { Field_SetCell(p->Field, x, y, 1, 0, 0); }

    Loaded plugin;
    Player* p = nullptr;
    RotationSystemInterface* rs = nullptr;
};

TEST_F(WexoDalmorTurns, OnlyNewPressesTurn) {
    Take(Piece_T, 3, 5);
    EXPECT_EQ(Press(0), 0);
    EXPECT_EQ(Press(Input_RotCW, Input_RotCW), 0); // held, not new
    EXPECT_EQ(p->Rotation, 0);
    EXPECT_EQ(Press(Input_RotCW2), 1);
    EXPECT_EQ(p->Rotation, 1);
    EXPECT_EQ(Press(Input_RotCCW | Input_RotCW), 1); // both new: counter-clockwise wins
    EXPECT_EQ(p->Rotation, 0);
    EXPECT_EQ(Press(Input_RotCCW2), 1);
    EXPECT_EQ(p->Rotation, 3);
    EXPECT_EQ(p->X, 3);
    EXPECT_EQ(p->Y, 5);
    // The third pair of keys is the host's to map; it does not turn by itself.
    EXPECT_EQ(Press(Input_RotCW3 | Input_RotCCW3), 0);
    // Any rotation value is taken modulo 4.
    p->Rotation = -1;
    EXPECT_EQ(Press(Input_RotCW), 1);
    EXPECT_EQ(p->Rotation, 0);
}

TEST_F(WexoDalmorTurns, KicksTryTheTableInOrder) {
    // T in state 0 against the left wall: state 1 would put no block outside, (0, 0) fits.
    Take(Piece_T, 0, 5);
    EXPECT_EQ(Press(Input_RotCW), 1);
    EXPECT_EQ(p->X, 0);
    // State 1 at the left wall: state 0 sticks out to column -1, the first kick (1, 0) fits.
    Take(Piece_T, -1, 5, 1);
    EXPECT_EQ(Press(Input_RotCCW), 1);
    EXPECT_EQ(p->Rotation, 0);
    EXPECT_EQ(p->X, 0);
    EXPECT_EQ(p->Y, 5);
    // Walled in to its own four cells: nothing fits, state and position stay.
    Take(Piece_T, 3, 5);
    ASSERT_EQ(p->ops->TestMove(p, 0, 0, 0), 0);
    for (int x = 0; x < 10; ++x)
        for (int y = 2; y < 12; ++y)
            if (!(y == 6 && x >= 3 && x <= 5) && !(y == 5 && x == 4)) Block(x, y);
    ASSERT_EQ(p->ops->TestMove(p, 0, 0, 0), 0);
    EXPECT_EQ(Press(Input_RotCW), 0);
    EXPECT_EQ(p->Rotation, 0);
    EXPECT_EQ(p->X, 3);
    EXPECT_EQ(p->Y, 5);
}

TEST_F(WexoDalmorTurns, TheIPieceHasItsOwnKicks) {
    // Horizontal I on the floor row turning to state 1: (0, 0) and (2, 0) leave the column
    // below the floor, (-1, 0) too; (-1, -2) is the first that fits.
    Take(Piece_I, 3, 18);
    EXPECT_EQ(Press(Input_RotCW), 1);
    EXPECT_EQ(p->Rotation, 1);
    EXPECT_EQ(p->X, 2);
    EXPECT_EQ(p->Y, 16);
}

TEST_F(WexoDalmorTurns, TheSquareTurnsInPlaceOrNotAtAll) {
    Take(Piece_O, 3, 5);
    EXPECT_EQ(Press(Input_RotCCW), 1);
    EXPECT_EQ(p->Rotation, 3);
    EXPECT_EQ(p->X, 3);
    Block(3, 5); // beside it, inside its box: still free
    EXPECT_EQ(Press(Input_RotCW), 1);
    Block(4, 5); // under one of its blocks
    EXPECT_EQ(Press(Input_RotCW), 0);
    EXPECT_EQ(p->Rotation, 0);
    EXPECT_EQ(p->X, 3);
}

TEST_F(WexoDalmorTurns, InitialRotationUsesHeldKeysWithoutKicks) {
    Take(Piece_T, 3, 0);
    p->InputUsed = Input_RotCCW;
    p->PreviousInput = Input_RotCCW; // held since before the spawn
    EXPECT_EQ(rs->ops->InitialRotation(rs, p), 1);
    EXPECT_EQ(p->Rotation, -1);
    EXPECT_EQ(Press(Input_RotCCW), 1); // later turns continue from state 3
    EXPECT_EQ(p->Rotation, 2);

    Take(Piece_T, 3, 0);
    p->InputUsed = Input_RotCW2;
    EXPECT_EQ(rs->ops->InitialRotation(rs, p), 1);
    EXPECT_EQ(p->Rotation, 1);

    Take(Piece_T, 3, 0);
    Block(4, 2); // state 1's lowest block
    p->InputUsed = Input_RotCW;
    EXPECT_EQ(rs->ops->InitialRotation(rs, p), 0);
    EXPECT_EQ(p->Rotation, 0);
    EXPECT_EQ(p->X, 3);
    p->InputUsed = 0;
    EXPECT_EQ(rs->ops->InitialRotation(rs, p), 0);

    p->PlayerFlags = 0;
    EXPECT_EQ(rs->ops->StartPlayer(rs, p), 0);
    EXPECT_EQ(p->PlayerFlags, uint32_t(Flag_InitialRotation));
}

TEST_F(WexoDalmorTurns, NoPieceNoTurn) {
    p->InputUsed = Input_RotCW;
    EXPECT_EQ(rs->ops->Rotate(rs, p), 0);
}

} // namespace
