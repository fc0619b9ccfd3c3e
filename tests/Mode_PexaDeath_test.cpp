// PEXA Death: timings by level, the level-500 time check and the final phase from 999.
#include "../src/modes/Mode_PexaDeath.h"
#include "Mode_TestGame.h"

using namespace modetest;

namespace {

TEST(PexaDeathTables, TimingsByLevel) {
    using namespace PexaDeath;
    auto at = [](const auto& table) {
        return [&table](int32_t l) { return LevelTable_Lookup(table, l); };
    };
    ExpectTableText(at(kEntryDelay), "0-100: 18; 101-300: 14; 301-400: 8; 401-499: 7; 500-999: 6",
                    0, 999);
    ExpectTableText(at(kShiftDelay), "0-199: 10; 200-299: 9; 300-399: 8; 400-999: 6", 0, 999);
    ExpectTableText(at(kLineEntryDelay), "0-100: 14; 101-400: 8; 401-499: 7; 500-999: 6", 0, 999);
    ExpectTableText(at(kLineClearDelay), "0-100: 12; 101-400: 6; 401-499: 5; 500-999: 4", 0, 999);
    ExpectTableText(at(kLockDelay), "0-100: 30; 101-200: 26; 201-300: 22; 301-400: 18; 401-999: 15",
                    0, 999);
    EXPECT_EQ(kGravity, 5120);
}

TEST(PexaDeathLibrary, Identity) {
    ExpectIdentity("pexa_death", u"PEXA Death", 0x0001000000000000ull, 0x4B19689B);
}

struct PexaDeathGame : ModeGame {
    PexaDeathGame() : ModeGame(u"PEXA Death") {}
};

TEST_F(PexaDeathGame, StartSettings) {
    Player* p = g.p;
    EXPECT_EQ(p->InputRelockMask, uint32_t{Input_SoftDrop});
    EXPECT_EQ(p->Settings.Gravity, 5120);
    EXPECT_EQ(p->Settings.EntryDelay, 18);
    EXPECT_EQ(p->Settings.ShiftDelay, 10);
    EXPECT_EQ(p->Settings.LineEntryDelay, 14);
    EXPECT_EQ(p->Settings.LineClearDelay, 12);
    EXPECT_EQ(p->Settings.LockDelay, 30);
    EXPECT_EQ(g.Value(u"grade"), INT32_MIN); // not published until level 500
}

TEST_F(PexaDeathGame, FourRowClearAcross500InTime) {
    for (uint32_t frame : {12300u, 12301u}) {
        TestGame t;
        ASSERT_TRUE(t.Open(u"PEXA Death"));
        ASSERT_TRUE(t.Start());
        t.SetLive(u"level", 498);
        ASSERT_TRUE(t.LockClearing(4, Piece_I, true));
        t.p->FrameCounter = frame; // the scoring frame is frame number `frame`
        t.Step();
        if (frame == 12300) {
            EXPECT_EQ(t.Value(u"grade"), 18);
            EXPECT_EQ(t.Value(u"level"), 502);
            EXPECT_EQ(t.p->State, State_LineClear);
            EXPECT_EQ(t.p->Settings.LockDelay, 15);
            EXPECT_EQ(t.client.Count(Sound_Gm), 1);
            ASSERT_FALSE(t.client.music.empty());
            EXPECT_EQ(t.client.music.back(), 2);
        } else {
            EXPECT_EQ(t.Value(u"level"), 500);
            EXPECT_EQ(t.p->State, State_GameOver);
            EXPECT_EQ(t.Value(u"grade"), INT32_MIN);
        }
    }
}

TEST_F(PexaDeathGame, NewPieceAt499DoesNotStep) {
    g.SetLive(u"level", 499);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    ASSERT_TRUE(g.Lock());
    g.Step(0);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    EXPECT_EQ(g.Value(u"level"), 499);
    EXPECT_EQ(g.p->State, State_Falling);
}

TEST_F(PexaDeathGame, Crossing999StartsTheFinalPhase) {
    g.SetLive(u"level", 997);
    ASSERT_TRUE(g.ClearRows(2));
    EXPECT_EQ(g.Value(u"level"), 999);
    EXPECT_EQ(g.Value(u"grade"), 19);
    EXPECT_TRUE(g.p->PlayerFlags & Flag_TimeLimitActive);
    EXPECT_EQ(g.p->TimeLimit, 1845);
    const int32_t score = g.Value(u"score");
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"level"), 999);
    EXPECT_EQ(g.Value(u"score"), score); // no scoring against the clock
    g.p->TimeCounter = 1844;
    g.Step(0, 3);
    EXPECT_EQ(g.p->State, State_Finished);
}

TEST_F(PexaDeathGame, FourRowMedalThresholds) {
    for (int32_t i = 0; i < 5; i++) {
        ASSERT_TRUE(g.ClearRows(4)) << i;
        EXPECT_EQ(g.Value(u"medal_sk"), i < 4 ? -1 : 0) << i;
    }
}

} // namespace

namespace {

TEST_F(PexaDeathGame, SecondGameOnTheSameStateKeepsTheFourRowCount) {
    for (int32_t i = 0; i < 5; i++) ASSERT_TRUE(g.ClearRows(4));
    ASSERT_EQ(g.Value(u"medal_sk"), 0);
    g.p->ops->Reset(g.p);
    ASSERT_TRUE(g.Start());
    EXPECT_EQ(g.Value(u"medal_sk"), -1);
    ASSERT_TRUE(g.ClearRows(4)); // the sixth of this state: past the first threshold at once
    EXPECT_EQ(g.Value(u"medal_sk"), 0);
}

} // namespace

namespace {

TEST_F(PexaDeathGame, ScoreOfAKnownDouble) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.Fill(0, 17);
    g.PrepareClear(2);
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"score_sonic"), 36);
    EXPECT_EQ(g.Value(u"score_speed"), 203);
    EXPECT_EQ(g.Value(u"score"), 228 + 204);
}

} // namespace
