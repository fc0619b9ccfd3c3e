// Nuro Pelune: stage layouts, target blocks, the count-down clock and hold during READY.
#include "../src/modes/Mode_NuroPelune.h"
#include "Mode_TestGame.h"

using namespace modetest;

namespace {

using namespace NuroPelune;

int32_t CountTargets(const StageLayout& s) {
    int32_t n = 0;
    for (const StageCell& c : s) n += c.marker;
    return n;
}

int32_t CountBlocks(const StageLayout& s) {
    int32_t n = 0;
    for (const StageCell& c : s) n += c.colour != 0;
    return n;
}

TEST(NuroPeluneTables, StageLayouts) {
    // Counted from the drawn stages.
    const int32_t targets[kStageCount] = {7, 6, 7, 11, 7, 7, 7, 7, 7, 7,
                                          7, 7, 7, 7,  7, 7, 7, 8, 7, 7};
    const int32_t blocks[kStageCount] = {20, 27, 24, 29, 30, 16, 32, 36, 50, 25,
                                         18, 21, 28, 22, 26, 19, 28, 26, 55, 32};
    for (int32_t s = 0; s < kStageCount; s++) {
        EXPECT_EQ(CountTargets(kStages[s]), targets[s]) << "stage " << s + 1;
        EXPECT_EQ(CountBlocks(kStages[s]), blocks[s]) << "stage " << s + 1;
    }
    // Stage 1, row 17: "..dc..fF..".
    EXPECT_EQ(kStages[0][17 * 10 + 2].colour, 0xFF1A96F4u);
    EXPECT_EQ(kStages[0][17 * 10 + 2].marker, 1);
    EXPECT_EQ(kStages[0][17 * 10 + 3].colour, 0xFF0000FFu);
    EXPECT_EQ(kStages[0][17 * 10 + 7].colour, 0xFFA450A7u);
    EXPECT_EQ(kStages[0][17 * 10 + 7].marker, 0);
    EXPECT_EQ(kStages[0][17 * 10 + 0].colour, 0u);
    // Stage 8 starts at row 10: "...bFFFFFg".
    EXPECT_EQ(kStages[7][10 * 10 + 3].colour, 0xFFFF0000u);
    EXPECT_EQ(kStages[7][10 * 10 + 9].colour, 0xFFFCF2AFu);
    EXPECT_EQ(kStages[7][9 * 10 + 9].colour, 0u);
    // Stage 20, row 19: "CCCc..fCCC".
    EXPECT_EQ(kStages[19][19 * 10 + 3].colour, 0xFF0000FFu);
    EXPECT_EQ(kStages[19][19 * 10 + 3].marker, 1);
    EXPECT_EQ(kStages[19][19 * 10 + 6].colour, 0xFFA450A7u);
    // No stage has a full row (it would clear at once).
    for (int32_t s = 0; s < kStageCount; s++)
        for (int32_t y = 0; y < kStageHeight; y++) {
            int32_t n = 0;
            for (int32_t x = 0; x < kStageWidth; x++) n += kStages[s][y * 10 + x].colour != 0;
            EXPECT_LT(n, 10) << "stage " << s + 1 << " row " << y;
        }
}

TEST(NuroPeluneTables, Gravity) {
    ExpectTableText([](int32_t l) { return LevelTable_Lookup(kGravity, l); },
                    "0-19: 4; 20-29: 32; 30-32: 64; 33-35: 96; 36-38: 128; 39-42: 160; "
                    "43-46: 192; 47-50: 224; 51-99: 256; 100-129: 512; 130-159: 768; "
                    "160-249: 1024; 250-299: 768; 300-999: 5120",
                    0, 999);
}

TEST(NuroPeluneLibrary, Identity) {
    ExpectIdentity("nuro_pelune", u"Nuro Pelune", 0x0001000000000000ull, 0x4B196899);
}

struct NuroPeluneGame : ModeGame {
    NuroPeluneGame() : ModeGame(u"Nuro Pelune") {}

    void ExpectStage(int32_t stage) {
        const StageLayout& layout = kStages[stage - 1];
        for (int32_t y = 0; y < 20; y++)
            for (int32_t x = 0; x < 10; x++) {
                const FieldCell* c = g.F()->ops->GetCell(g.F(), x, y);
                const StageCell& want = layout[y * 10 + x];
                ASSERT_EQ(c->block != 0, want.colour != 0) << stage << " " << x << "," << y;
                if (!want.colour) continue;
                const uint32_t data = c->data; // packed cell: read the fields by value
                const uint32_t flags = c->flags;
                // The table is ARGB; cells take the pieces' order, red in the low byte.
                const uint32_t rgb = want.colour & 0xFFFFFFu;
                EXPECT_EQ(data, (rgb >> 16) | (rgb & 0xFF00u) | ((rgb & 0xFFu) << 16))
                    << stage << " " << x << "," << y;
                EXPECT_EQ((flags & kTargetFlag) != 0, want.marker == 1)
                    << stage << " " << x << "," << y;
            }
    }
};

TEST_F(NuroPeluneGame, StartSettings) {
    Player* p = g.p;
    EXPECT_EQ(p->GameTime, 10800);
    EXPECT_TRUE(p->PlayerFlags & Flag_TimerCountsDown);
    EXPECT_TRUE(p->PlayerFlags & Flag_HoldAllowed);
    EXPECT_TRUE(p->PlayerFlags & Flag_InitialHold);
    EXPECT_EQ(p->PreviewCount, 3);
    EXPECT_EQ(p->Settings.LineClearDelay, 40);
    EXPECT_EQ(p->Settings.Gravity, 4);
    ExpectStage(1);
}

TEST_F(NuroPeluneGame, StageBlocksAreDrawnInTheColoursOfThePiecesAlike) {
    // The client paints stage blocks and pieces from the cell data alike: cyan A must carry
    // the cyan I piece's data, red b the Z piece's, blue c the J piece's.
    RotationSystemInterface* rs = g.p->RotationSystem;
    auto pieceColour = [rs](uint32_t kind) {
        RotationPiece* piece = rs->ops->CreatePiece(rs, kind, 0);
        uint32_t colour = 0;
        for (const FieldCell& c : piece->cells)
            if (c.block) colour = c.data;
        rs->ops->FreePiece(rs, piece);
        return colour;
    };
    auto stageColour = [this](int32_t x, int32_t y) -> uint32_t {
        return g.F()->ops->GetCell(g.F(), x, y)->data;
    };
    // Stage 1, row 19: ".gAAAAAAb."; row 17: "..dc..fF..".
    EXPECT_EQ(stageColour(2, 19), pieceColour(Piece_I));
    EXPECT_EQ(stageColour(8, 19), pieceColour(Piece_Z));
    EXPECT_EQ(stageColour(3, 17), pieceColour(Piece_J));
}

TEST_F(NuroPeluneGame, EveryStageLoadsAfterTheCollapseThatTakesTheLastTarget) {
    for (int32_t stage = 2; stage <= 21; stage++) {
        ASSERT_TRUE(g.NextPiece(Piece_T)) << stage;
        // Leave only plain blocks; the clear's collapse then finds no target and moves on.
        g.F()->ops->Clear(g.F());
        g.PrepareClear(1);
        ASSERT_TRUE(g.Lock());
        ASSERT_EQ(g.p->State, State_LineClear);
        const int32_t framesToCollapse = g.p->Settings.LineClearDelay;
        g.Step(0, framesToCollapse); // the stage is not loaded at the lock
        if (stage <= 20) {
            ASSERT_EQ(g.p->State, State_Ready) << stage;
            EXPECT_EQ(g.Value(u"level"), 0);
            EXPECT_EQ(g.Value(u"levelstop"), 100);
            ExpectStage(stage);
        } else {
            // After the last stage the field stays as it is and play goes on.
            EXPECT_EQ(g.p->State, State_EntryDelay);
            EXPECT_EQ(g.F()->ops->GetCell(g.F(), 4, 19)->block, 1);
        }
    }
}

TEST_F(NuroPeluneGame, ClearedTargetsAddTimeAndNoStageChangeWhileTargetsRemain) {
    ASSERT_TRUE(g.NextPiece(Piece_T));
    g.F()->ops->Clear(g.F());
    g.F()->ops->SetCell(g.F(), 0, 10, 1, 0xFF00FFFFu, kTargetFlag); // stays behind
    g.PrepareClear(1);
    // Two of the row's blocks become target blocks.
    g.F()->ops->SetCell(g.F(), 0, 19, 1, 0xFF00FFFFu, kTargetFlag);
    g.F()->ops->SetCell(g.F(), 9, 19, 1, 0xFF00FFFFu, kTargetFlag);
    ASSERT_TRUE(g.Lock());
    const int32_t before = g.p->GameTime;
    g.Step(); // scoring frame: the clock counts down one and gains two seconds
    EXPECT_EQ(g.p->GameTime, before - 1 + 120);
    g.Step(0, g.p->Settings.LineClearDelay);
    EXPECT_NE(g.p->State, State_Ready);
}

TEST_F(NuroPeluneGame, LevelStepsOfClearsAreZeroOneTwoFourSix) {
    ASSERT_TRUE(g.NextPiece(Piece_I, true));
    g.F()->ops->Clear(g.F());
    g.F()->ops->SetCell(g.F(), 0, 5, 1, 0xFF00FFFFu, kTargetFlag);
    g.PrepareClear(3);
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"level"), 4);
    g.Step(0, 60);
    ASSERT_TRUE(g.NextPiece(Piece_I, true));
    const int32_t level = g.Value(u"level");
    g.PrepareClear(4);
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"level"), level + 6);
}

TEST_F(NuroPeluneGame, HoldDuringReady) {
    Player* p = g.p;
    ASSERT_EQ(p->State, State_Ready);
    g.Step(0, 5);
    RotationPiece* first = p->NextQueue[0];
    RotationPiece* second = p->NextQueue[1];
    g.Step(Input_Hold);
    EXPECT_EQ(p->HoldPiece, first);
    EXPECT_EQ(p->NextQueue[0], second);
    g.Step(Input_Hold, 3); // still held: nothing more
    EXPECT_EQ(p->HoldPiece, first);
    g.Step(0);
    RotationPiece* third = p->NextQueue[0];
    g.Step(Input_Hold);
    EXPECT_EQ(p->HoldPiece, third);
    EXPECT_EQ(p->State, State_Ready);
}

TEST_F(NuroPeluneGame, CountDownEndsTheGame) {
    ASSERT_TRUE(g.StepUntil(State_Falling));
    g.p->GameTime = 2;
    g.Step();
    EXPECT_EQ(g.p->State, State_Falling);
    g.Step();
    EXPECT_EQ(g.p->State, State_GameOver);
}

} // namespace

namespace {

TEST_F(NuroPeluneGame, NoAllClearFactorAndNoComboMedal) {
    for (int32_t i = 0; i < 7; i++) {
        ASSERT_TRUE(g.NextPiece(Piece_O));
        g.F()->ops->Clear(g.F());
        g.F()->ops->SetCell(g.F(), 0, 0, 1, 0xFF00FFFFu, kTargetFlag); // keeps the stage
        g.PrepareClear(2);
        g.DropAndLock();
        EXPECT_EQ(g.Value(u"score_bravo"), 1);
    }
    EXPECT_EQ(g.Value(u"medal_co"), -1);
}

} // namespace

namespace {

TEST_F(NuroPeluneGame, ScoreOfAKnownDoubleIsNotScaled) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.F()->ops->Clear(g.F());
    g.F()->ops->SetCell(g.F(), 0, 0, 1, 0xFF00FFFFu, kTargetFlag); // keeps the stage
    g.PrepareClear(2);
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"score_sonic"), 18);
    EXPECT_EQ(g.Value(u"score_speed"), 29);
    // (ceil(2/4) + 1 + 18) x 2 x 3, then level 2: ceil(2/2) + 29.
    EXPECT_EQ(g.Value(u"score"), 120 + 30);
    EXPECT_EQ(g.Value(u"level"), 2);
}

} // namespace
