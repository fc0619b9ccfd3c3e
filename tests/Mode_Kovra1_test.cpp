// KOVRA1: lock pause, checkpoints, time limit and grade from score, driven through the engine.
#include "../src/modes/Mode_Kovra1.h"
#include "Mode_TestGame.h"

using namespace modetest;

namespace {

TEST(Kovra1Tables, GradeByScoreAndCheckpoints) {
    using namespace Kovra1;
    ExpectTableText([](int32_t s) { return LevelTable_Lookup(kGradeByScore, s) + 1; },
                    "0-399: 1; 400-799: 2; 800-1399: 3; 1400-1999: 4; 2000-3499: 5; "
                    "3500-5499: 6; 5500-7999: 7; 8000-11999: 8; 12000-15999: 9; 16000-21999: 10; "
                    "22000-29999: 11; 30000-39999: 12; 40000-51999: 13; 52000-65999: 14; "
                    "66000-81999: 15; 82000-99999: 16; 100000-120000: 17; 120001 and above: 18",
                    0, 130000);
    EXPECT_EQ(LevelTable_Lookup(kGradeByScore, 2000000000), 17);
    EXPECT_EQ(kCheckpoints[0].level, 300);
    EXPECT_EQ(kCheckpoints[0].score, 12000);
    EXPECT_EQ(kCheckpoints[0].seconds, 255);
    EXPECT_EQ(kCheckpoints[1].level, 500);
    EXPECT_EQ(kCheckpoints[1].score, 40000);
    EXPECT_EQ(kCheckpoints[1].seconds, 450);
    EXPECT_EQ(kCheckpoints[2].level, 999);
    EXPECT_EQ(kCheckpoints[2].score, 126000);
    EXPECT_EQ(kCheckpoints[2].seconds, 810);
    EXPECT_EQ(kCheckpoints[0].bit | kCheckpoints[1].bit | kCheckpoints[2].bit, 11);
}

TEST(Kovra1Library, Identity) {
    ExpectIdentity("kovra1", u"KOVRA1", 0x0001000000000000ull, 0x4B196898);
}

struct Kovra1Game : ModeGame {
    Kovra1Game() : ModeGame(u"KOVRA1") {}
    // Locks and runs the pause up to the frame before the mode decides.
    void LockAndWait(int32_t frames) {
        ASSERT_TRUE(g.Lock());
        ASSERT_EQ(g.p->State, State_ModeLockPause);
        g.Step(0, frames);
    }
};

TEST_F(Kovra1Game, StartSettings) {
    Player* p = g.p;
    EXPECT_EQ(p->Settings.ReadyTime, 179);
    EXPECT_EQ(p->Settings.EntryDelay, 27);
    EXPECT_EQ(p->Settings.ShiftDelay, 14);
    EXPECT_EQ(p->Settings.LineEntryDelay, 27);
    EXPECT_EQ(p->Settings.LineClearDelay, 41);
    EXPECT_EQ(p->Settings.LockDelay, 30);
    EXPECT_EQ(p->Settings.Gravity, 4);
    EXPECT_TRUE(g.IsLive(u"GMCondition"));
    EXPECT_TRUE(g.IsLive(u"Grade"));
    EXPECT_EQ(g.Value(u"Grade"), 0);
    // READY lasts 179 frames.
    g.Step(0, 178);
    EXPECT_EQ(p->State, State_Ready);
    g.Step(0, 1);
    EXPECT_EQ(p->State, State_Falling);
}

TEST_F(Kovra1Game, LockWithoutClearPausesFourFramesThenEntersTheDelay) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    LockAndWait(3);
    EXPECT_EQ(g.p->State, State_ModeLockPause);
    EXPECT_EQ(g.Value(u"score_combo"), INT32_MIN); // not scored yet
    g.Step();
    EXPECT_EQ(g.p->State, State_EntryDelay);
    EXPECT_EQ(g.p->LastClearRows, 0);
    EXPECT_EQ(g.Value(u"score_combo"), 1);
}

TEST_F(Kovra1Game, LockWithRowsGoesOnToTheLineClear) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.Fill(0, 17);
    g.PrepareClear(2);
    LockAndWait(3);
    EXPECT_EQ(g.Value(u"score"), 0);
    g.Step();
    EXPECT_EQ(g.p->State, State_LineClear);
    // No hard-drop term and no level bonus: (ceil(2/4) + 1 soft frame) x 2 rows x combo 3.
    EXPECT_EQ(g.Value(u"score"), 12);
    EXPECT_EQ(g.Value(u"score_sonic"), 36); // shown doubled all the same
    EXPECT_EQ(g.Value(u"level"), 2);
}

TEST_F(Kovra1Game, CheckpointAt300NeedsScoreAndTime) {
    for (int32_t gameTime : {15300, 15301}) {
        TestGame t;
        ASSERT_TRUE(t.Open(u"KOVRA1"));
        ASSERT_TRUE(t.Start());
        t.SetLive(u"level", 299);
        t.SetLive(u"score", 12000);
        ASSERT_TRUE(t.LockClearing(1));
        // Three pause frames are counted before the mode scores on the fourth.
        t.p->GameTime = gameTime - 3;
        t.Step(0, 4);
        EXPECT_EQ(t.Value(u"level"), 300);
        EXPECT_EQ(t.Value(u"GMCondition"), gameTime == 15300 ? 1 : 0) << gameTime;
    }
}

TEST_F(Kovra1Game, SectionChangeTakesAFrameOff) {
    g.SetLive(u"level", 99);
    ASSERT_TRUE(g.NextPiece(Piece_T));
    g.PrepareClear(1);
    LockAndWait(3);
    const int32_t before = g.p->GameTime;
    g.Step(); // scores, crosses 100: counted once, taken off once
    EXPECT_EQ(g.Value(u"level"), 100);
    EXPECT_EQ(g.p->GameTime, before);
    EXPECT_EQ(g.client.Count(Sound_SectionUp), 1);
}

TEST_F(Kovra1Game, Crossing999SetsTheTimeLimitAndAddsAFrame) {
    g.SetLive(u"level", 998);
    ASSERT_TRUE(g.NextPiece(Piece_T));
    g.PrepareClear(1);
    LockAndWait(3);
    const int32_t before = g.p->GameTime;
    g.Step();
    EXPECT_EQ(g.Value(u"level"), 999);
    EXPECT_TRUE(g.p->PlayerFlags & Flag_TimeLimitActive);
    EXPECT_EQ(g.p->TimeLimit, 2968);
    // The crossing adds one; from then on the frames count against the limit instead.
    EXPECT_EQ(g.p->GameTime, before + 1);
    // Later clears add nothing.
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    g.Step(0, 4);
    EXPECT_EQ(g.Value(u"level"), 999);
}

TEST_F(Kovra1Game, GameOverAddsAFrame) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    const int32_t before = g.p->GameTime;
    g.p->ops->GameOver(g.p, 1);
    EXPECT_EQ(g.p->GameTime, before + 1);
}

TEST_F(Kovra1Game, GradeFromScore) {
    g.SetLive(u"score", 120000);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    LockAndWait(4);
    EXPECT_EQ(g.Value(u"Grade"), 16);
    EXPECT_EQ(g.client.Count(Sound_GradeUp), 1);
    g.SetLive(u"score", 120001);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    LockAndWait(4);
    EXPECT_EQ(g.Value(u"Grade"), 17);
    EXPECT_EQ(g.client.Count(Sound_GradeUp), 2);
    g.SetLive(u"GMCondition", 11);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    LockAndWait(4);
    EXPECT_EQ(g.Value(u"Grade"), 19);
    EXPECT_EQ(g.client.Count(Sound_Gm), 1);
}

} // namespace

namespace {

TEST(Kovra1Checkpoints, ScoreAndTimeAt500And999) {
    struct Case {
        int32_t level, score, limit, bit;
    };
    for (const Case c : {Case{499, 40000, 27000, 2}, Case{998, 126000, 48600, 8}}) {
        for (int32_t late : {0, 1}) {
            TestGame t;
            ASSERT_TRUE(t.Open(u"KOVRA1"));
            ASSERT_TRUE(t.Start());
            t.SetLive(u"level", c.level);
            t.SetLive(u"score", c.score);
            ASSERT_TRUE(t.LockClearing(1));
            t.p->GameTime = c.limit + late - 3;
            t.Step(0, 4);
            EXPECT_EQ(t.Value(u"GMCondition"), late ? 0 : c.bit) << c.level << " " << late;
        }
    }
}

} // namespace
