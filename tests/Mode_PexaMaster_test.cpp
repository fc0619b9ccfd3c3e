// PEXA Master and the common mode frame, driven through the engine.
#include "../src/modes/Mode_PexaMaster.h"
#include "Mode_TestGame.h"

#include <cmath>

using namespace modetest;

namespace {

// ---- tables, checked against the published text ----

TEST(PexaMasterTables, TimingsByLevel) {
    using namespace PexaMaster;
    auto at = [](const auto& table) {
        return [&table](int32_t l) { return LevelTable_Lookup(table, l); };
    };
    ExpectTableText(at(kEntryDelay), "0-700: 27; 701-800: 18; 801-999: 14", -5, 1005);
    ExpectTableText(at(kShiftDelay), "0-499: 14; 500-899: 8; 900-999: 6", -5, 1005);
    ExpectTableText(at(kLineEntryDelay), "0-600: 27; 601-700: 18; 701-800: 14; 801-999: 8", -5,
                    1005);
    ExpectTableText(at(kLineClearDelay),
                    "0-499: 40; 500-600: 25; 601-700: 16; 701-800: 12; 801-999: 6", -5, 1005);
    ExpectTableText(at(kLockDelay), "0-900: 30; 901-999: 17", -5, 1005);
}

TEST(PexaMasterTables, GravityByLevel) {
    using namespace PexaMaster;
    ExpectTableText([](int32_t l) { return LevelTable_Lookup(kGravity, l); },
                    "0-29: 4; 30-34: 6; 35-39: 8; 40-49: 10; 50-59: 12; 60-69: 16; 70-79: 32; "
                    "80-89: 48; 90-99: 64; 100-119: 80; 120-139: 96; 140-159: 112; 160-169: 128; "
                    "170-199: 144; 200-219: 4; 220-229: 32; 230-232: 64; 233-235: 96; "
                    "236-238: 128; 239-242: 160; 243-246: 192; 247-250: 224; 251-299: 256; "
                    "300-329: 512; 330-359: 768; 360-399: 1024; 400-419: 1280; 420-449: 1024; "
                    "450-499: 768; 500-999: 5120",
                    0, 999);
}

TEST(PexaMasterTables, GradeTables) {
    using namespace PexaMaster;
    ExpectTableText([](int32_t g) { return BasePoints(1, g); }, "0-4: 10; 5-9: 5; 10 and above: 2",
                    0, 100);
    ExpectTableText([](int32_t g) { return BasePoints(2, g); },
                    "0-2: 20; 3-5: 15; 6-9: 10; 10 and above: 12", 0, 100);
    ExpectTableText([](int32_t g) { return BasePoints(3, g); },
                    "0: 40; 1-3: 30; 4-6: 20; 7-9: 15; 10 and above: 13", 0, 100);
    ExpectTableText([](int32_t g) { return BasePoints(4, g); }, "0: 50; 1-4: 40; 5 and above: 30",
                    0, 100);
    EXPECT_EQ(BasePoints(0, 0), 0);
    ExpectTableText([](int32_t g) { return LevelTable_Lookup(kDisplayedGrade, g); },
                    "0: 0; 1: 1; 2: 2; 3: 3; 4: 4; 5-6: 5; 7-8: 6; 9-11: 7; 12-14: 8; 15-17: 9; "
                    "18: 10; 19: 11; 20-22: 12; 23-24: 13; 25-26: 14; 27-28: 15; 29-30: 16; "
                    "31 and above: 17",
                    0, 200);
    ExpectTableText([](int32_t g) { return LevelTable_Lookup(kDecayFrames, g); },
                    "0: 125; 1-2: 80; 3: 50; 4-6: 45; 7-11: 40; 12-14: 30; 15-19: 20; 20-29: 15; "
                    "30 and above: 10",
                    0, 200);
    ExpectTableText([](int32_t l) { return LevelTable_Lookup(kLevelFactor, l); },
                    "0-249: 1; 250-499: 2; 500-749: 3; 750-999: 4", 0, 999);
}

TEST(PexaMasterTables, ComboFactorsAreSinglePrecision) {
    using namespace PexaMaster;
    const float written[10][4] = {{1.0f, 1.0f, 1.0f, 1.0f}, {1.2f, 1.4f, 1.5f, 1.0f},
                                  {1.2f, 1.5f, 1.8f, 1.0f}, {1.4f, 1.6f, 2.0f, 1.0f},
                                  {1.4f, 1.7f, 2.2f, 1.0f}, {1.4f, 1.8f, 2.3f, 1.0f},
                                  {1.4f, 1.9f, 2.4f, 1.0f}, {1.5f, 2.0f, 2.5f, 1.0f},
                                  {1.5f, 2.1f, 2.6f, 1.0f}, {2.0f, 2.5f, 3.0f, 1.0f}};
    for (int c = 1; c <= 10; c++)
        for (int r = 1; r <= 4; r++) EXPECT_EQ(ComboFactor(c, r), written[c - 1][r - 1]);
    EXPECT_EQ(ComboFactor(11, 1), 0.0f);
    EXPECT_EQ(ComboFactor(2, 5), 0.0f);
    EXPECT_EQ(ComboFactor(1, 0), 1.0f);
    // The product rounds to single precision first: 10 x 1.2f is exactly 12 there.
    EXPECT_EQ(std::ceil(10.0f * ComboFactor(2, 1)), 12.0f);
    EXPECT_EQ(std::ceil(10.0 * static_cast<double>(ComboFactor(2, 1))), 13.0);
}

TEST(PexaMasterLibrary, Identity) {
    ExpectIdentity("pexa_master", u"PEXA Master", 0x0001000000000000ull, 0x4B19689A);
}

// ---- games ----

struct PexaMasterGame : ModeGame {
    PexaMasterGame() : ModeGame(u"PEXA Master") {}
};

TEST_F(PexaMasterGame, StartPublishesValuesAndLevelZeroSettings) {
    Player* p = g.p;
    for (const char16_t* key :
         {u"level", u"levelstop", u"score", u"medal_ac", u"medal_ro", u"medal_st", u"medal_sk",
          u"medal_re", u"medal_co", u"GMCondition", u"InternalGradePoints", u"InternalGrade",
          u"InternalGradePoints_DecayCountdown"})
        EXPECT_TRUE(g.IsLive(key)) << std::u16string(key).size();
    EXPECT_EQ(g.Value(u"level"), 0);
    EXPECT_EQ(g.Value(u"levelstop"), 100);
    EXPECT_EQ(g.Value(u"medal_ac"), -1);
    EXPECT_EQ(g.Value(u"medal_co"), -1);
    EXPECT_EQ(g.Value(u"InternalGradePoints_DecayCountdown"), 125);
    EXPECT_EQ(p->Settings.ReadyTime, 100);
    EXPECT_EQ(p->Settings.FramesPerSecond, 60.0);
    EXPECT_EQ(p->Settings.SoftDropSpeed, 256);
    EXPECT_EQ(p->PreviewCount, 1);
    EXPECT_TRUE(p->PlayerFlags & Flag_LockWhenResting);
    EXPECT_EQ(p->Settings.EntryDelay, 27);
    EXPECT_EQ(p->Settings.ShiftDelay, 14);
    EXPECT_EQ(p->Settings.LineEntryDelay, 27);
    EXPECT_EQ(p->Settings.LineClearDelay, 40);
    EXPECT_EQ(p->Settings.LockDelay, 30);
    EXPECT_EQ(p->Settings.Gravity, 4);
    ASSERT_NE(p->Field, nullptr);
    EXPECT_EQ(p->Field->width, 10);
    EXPECT_EQ(p->Field->height, 20);
    EXPECT_EQ(p->Field->hiddenRows, 2);
    ASSERT_FALSE(g.client.music.empty());
    EXPECT_EQ(g.client.music[0], 0);
}

TEST_F(PexaMasterGame, ScoreOfAKnownDouble) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.Fill(0, 17); // keeps the field from being empty after the clear
    g.PrepareClear(2);
    ASSERT_EQ(g.DropDistance(), 18);
    g.DropAndLock();
    // combo 1 + 2*2 - 2 = 3; soft 1 frame; sonic 18 rows doubled; speed (30 - 1) x 7.
    EXPECT_EQ(g.Value(u"score_combo"), 3);
    EXPECT_EQ(g.Value(u"score_soft"), 1);
    EXPECT_EQ(g.Value(u"score_sonic"), 36);
    EXPECT_EQ(g.Value(u"score_speed"), 203);
    EXPECT_EQ(g.Value(u"score_bravo"), 1);
    // (ceil(2/4) + 1 + 36) x 2 x 3, then level 2: ceil(2/2) + 203.
    EXPECT_EQ(g.Value(u"score"), 228 + 204);
    EXPECT_EQ(g.Value(u"level"), 2);
    EXPECT_EQ(g.Value(u"medal_ac"), -1);
}

TEST_F(PexaMasterGame, AllClearQuadruplesAndRaisesTheMedal) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.PrepareClear(2);
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"score_bravo"), 4);
    EXPECT_EQ(g.Value(u"score"), 38 * 2 * 3 * 4 + 204);
    EXPECT_EQ(g.Value(u"medal_ac"), 0);
    EXPECT_EQ(g.client.Count(Sound_Medal), 1);
}

TEST_F(PexaMasterGame, ComboGrowsWithDoublesAndResetsOnAPlainLock) {
    ASSERT_TRUE(g.ClearRows(2));
    EXPECT_EQ(g.Value(u"score_combo"), 3);
    ASSERT_TRUE(g.ClearRows(2));
    EXPECT_EQ(g.Value(u"score_combo"), 5);
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"score_combo"), 5);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"score_combo"), 1);
    EXPECT_EQ(g.Value(u"score_speed"), 203); // no clear: no level bonus, but the term is shown
}

TEST_F(PexaMasterGame, NewPiecesStopBeforeTheSectionEnd) {
    g.SetLive(u"level", 98);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    ASSERT_TRUE(g.NextPiece(Piece_O));
    EXPECT_EQ(g.Value(u"level"), 99);
    g.DropAndLock();
    ASSERT_TRUE(g.NextPiece(Piece_O));
    EXPECT_EQ(g.Value(u"level"), 99); // only a clear moves on from 99
    g.PrepareClear(1);
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"level"), 100);
    EXPECT_EQ(g.Value(u"levelstop"), 200);
    EXPECT_EQ(g.client.Count(Sound_SectionUp), 1);
    EXPECT_EQ(g.p->Settings.Gravity, 80);
}

TEST_F(PexaMasterGame, GradePointsWithComboAndLevelFactors) {
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 10);
    ASSERT_TRUE(g.ClearRows(2));
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 30); // combo 1: 20
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 42); // combo 2: ceil(10 x 1.2f) = 12
    g.SetLive(u"level", 300);
    g.SetLive(u"InternalGradePoints", 0);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock(); // resets the combo
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 20); // level factor 2
}

TEST_F(PexaMasterGame, GradeUpSoundOnlyWhenTheDisplayedGradeChanges) {
    g.SetLive(u"InternalGrade", 4);
    g.SetLive(u"InternalGradePoints", 95);
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"InternalGrade"), 5);
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 0);
    EXPECT_EQ(g.Value(u"grade"), 5);
    EXPECT_EQ(g.Value(u"InternalGradePoints_DecayCountdown"), 45);
    EXPECT_EQ(g.client.Count(Sound_GradeUp), 1);
    g.SetLive(u"InternalGradePoints", 99);
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"InternalGrade"), 6);
    EXPECT_EQ(g.Value(u"grade"), 5);
    EXPECT_EQ(g.client.Count(Sound_GradeUp), 1);
}

TEST_F(PexaMasterGame, DecayOnlyWhileAPieceIsInPlay) {
    g.SetLive(u"InternalGradePoints", 99);
    g.Step(0, 60); // READY: no piece in play
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 99);
    EXPECT_EQ(g.Value(u"InternalGradePoints_DecayCountdown"), 125);
    ASSERT_TRUE(g.StepUntil(State_Falling));
    g.Step(0, 1); // the countdown starts running here
    g.Step(0, 124);
    ASSERT_EQ(g.p->State, State_Falling); // gravity 4: still on its way down
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 99);
    EXPECT_EQ(g.Value(u"InternalGradePoints_DecayCountdown"), 1);
    g.Step(0, 1);
    EXPECT_EQ(g.Value(u"InternalGradePoints"), 98);
    EXPECT_EQ(g.Value(u"InternalGradePoints_DecayCountdown"), 125);
}

TEST_F(PexaMasterGame, NoDecayWhileAChainRuns) {
    ASSERT_TRUE(g.ClearRows(2)); // combo 2
    const int32_t points = g.Value(u"InternalGradePoints");
    ASSERT_TRUE(g.StepUntil(State_Falling));
    g.Step(0, 200);
    EXPECT_EQ(g.Value(u"InternalGradePoints"), points);
}

TEST_F(PexaMasterGame, FourRowMedalAndSectionCondition) {
    ASSERT_TRUE(g.ClearRows(4));
    ASSERT_TRUE(g.ClearRows(4));
    EXPECT_EQ(g.Value(u"level"), 9); // 4, a new piece, 4
    g.SetLive(u"level", 99);
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"GMCondition") & 1, 1);
}

TEST_F(PexaMasterGame, SectionConditionNeedsTwoFourRowClears) {
    ASSERT_TRUE(g.ClearRows(4));
    g.SetLive(u"level", 99);
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"GMCondition") & 1, 0);
}

TEST_F(PexaMasterGame, SectionConditionTimeLimit) {
    ASSERT_TRUE(g.ClearRows(4));
    ASSERT_TRUE(g.ClearRows(4));
    g.SetLive(u"level", 99);
    ASSERT_TRUE(g.NextPiece(Piece_T));
    g.PrepareClear(1);
    g.p->GameTime = 3901 - 1; // the scoring frame adds one: 3901 frames > round(60 x 65)
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"level"), 100);
    EXPECT_EQ(g.Value(u"GMCondition") & 1, 0);
}

TEST_F(PexaMasterGame, EndingPauseFieldClearFinalPhaseAndTopGrade) {
    g.SetLive(u"level", 995);
    g.SetLive(u"levelstop", 999);
    ASSERT_TRUE(g.ClearRows(4));
    EXPECT_EQ(g.Value(u"level"), 999);
    EXPECT_EQ(g.Value(u"levelstop"), 999);
    EXPECT_TRUE(g.p->PlayerFlags & Flag_TimerStopped);
    EXPECT_EQ(g.client.Count(Sound_Gm), 1);
    // The next entry delay becomes the pause; 121 frames later the field is cleared.
    ASSERT_TRUE(g.StepUntil(State_ModePause));
    g.Fill(0, 19);
    int32_t frames = 1;
    while (g.p->State == State_ModePause && frames < 500) {
        g.Step();
        frames++;
    }
    EXPECT_EQ(frames, 121);
    EXPECT_EQ(g.p->State, State_EntryDelay);
    EXPECT_EQ(g.F()->ops->GetCell(g.F(), 0, 19)->block, 0);
    EXPECT_TRUE(g.p->PlayerFlags & Flag_TimeLimitActive);
    EXPECT_EQ(g.p->TimeLimit, 3690);
    // All eleven conditions met: blocks are not drawn during the final phase.
    g.SetLive(u"GMCondition", 0x7FF);
    g.Fill(0, 19);
    g.Step();
    EXPECT_TRUE(g.F()->ops->GetCell(g.F(), 0, 19)->flags & CellFlag_NotDrawn);
    const int32_t scoreBefore = g.Value(u"score");
    g.p->TimeCounter = 3685;
    for (int i = 0; i < 20 && g.p->State != State_Finished; i++) g.Step();
    ASSERT_EQ(g.p->State, State_Finished);
    EXPECT_FALSE(g.F()->ops->GetCell(g.F(), 0, 19)->flags & CellFlag_NotDrawn);
    EXPECT_EQ(g.Value(u"GMCondition"), 0xFFF);
    EXPECT_EQ(g.Value(u"grade"), 19);
    EXPECT_EQ(g.client.Count(Sound_Gm), 2);
    EXPECT_EQ(g.Value(u"score"), scoreBefore);
}

TEST_F(PexaMasterGame, EndingWithAMissedConditionKeepsBlocksVisible) {
    g.SetLive(u"level", 998);
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    ASSERT_TRUE(g.StepUntil(State_ModePause));
    ASSERT_TRUE(g.StepUntil(State_EntryDelay));
    g.Fill(0, 19);
    g.Step();
    EXPECT_FALSE(g.F()->ops->GetCell(g.F(), 0, 19)->flags & CellFlag_NotDrawn);
    const int32_t grade = g.Value(u"grade");
    g.p->TimeCounter = 3689;
    g.Step(0, 3);
    ASSERT_EQ(g.p->State, State_Finished);
    EXPECT_EQ(g.Value(u"GMCondition") & 0x800, 0x800);
    EXPECT_EQ(g.Value(u"grade"), grade);
}

TEST_F(PexaMasterGame, SirenStartsOnceAndStopsWhenTheTopClears) {
    for (int32_t y = 0; y < 5; y++)
        for (int32_t x : {0, 1, 2, 7, 8, 9}) g.Fill(x, y);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    EXPECT_EQ(g.client.Count(Sound_Siren), 1);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    EXPECT_EQ(g.client.Count(Sound_Siren), 1);
    EXPECT_EQ(g.client.StopCount(Sound_Siren), 0);
    for (int32_t y = 0; y < 5; y++)
        for (int32_t x : {0, 1, 2, 7, 8, 9}) g.F()->ops->SetCell(g.F(), x, y, 0, 0, 0);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    EXPECT_EQ(g.client.StopCount(Sound_Siren), 1);
}

TEST_F(PexaMasterGame, RecoverMedalAfterAHighStack) {
    // 17 rows of 7 blocks with column 9 open, and columns 4-5 filled up to row 5.
    for (int32_t y = 3; y < 20; y++)
        for (int32_t x : {0, 1, 2, 3, 6, 7, 8}) g.Fill(x, y);
    for (int32_t y = 5; y < 20; y++) g.Fill(4, y), g.Fill(5, y);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock(); // 119 + 30 + 4 = 153 cells: armed
    EXPECT_EQ(g.Value(u"medal_re"), -1);
    for (int32_t y = -2; y < 17; y++)
        for (int32_t x = 0; x < 10; x++) g.F()->ops->SetCell(g.F(), x, y, 0, 0, 0);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock(); // 3 rows of 9 and the new piece: 31 cells
    EXPECT_EQ(g.Value(u"medal_re"), 0);
    EXPECT_EQ(g.client.Count(Sound_Medal), 1);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock(); // not armed again: no second recovery
    EXPECT_EQ(g.Value(u"medal_re"), 0);
}

TEST_F(PexaMasterGame, NewGameOnTheSameStateScoresNothingOld) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.PrepareClear(2);
    for (int32_t i = 0; i < 10 && g.p->State == State_Falling; i++)
        g.Step(Input_HardDrop | Input_SoftDrop);
    ASSERT_EQ(g.p->State, State_LineClear); // locked, not yet scored
    g.p->ops->Reset(g.p);
    ASSERT_TRUE(g.Start());
    g.Step(0, 5);
    EXPECT_EQ(g.Value(u"score"), 0);
    EXPECT_EQ(g.Value(u"level"), 0);
}

TEST_F(PexaMasterGame, ResetGameStopsTheSiren) {
    for (int32_t y = 0; y < 5; y++)
        for (int32_t x : {0, 1, 2, 7, 8, 9}) g.Fill(x, y);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    ASSERT_EQ(g.client.Count(Sound_Siren), 1);
    g.p->ops->Reset(g.p);
    ASSERT_TRUE(g.Start());
    EXPECT_EQ(g.client.StopCount(Sound_Siren), 1);
}

TEST(PexaMasterField, SharedFieldOfTheWrongSizeIsNotFreed) {
    TestGame g;
    ASSERT_TRUE(g.Open(u"PEXA Master"));
    Engine& e = Engine::Get();
    Field* shared = e.fieldCreate(12, 20, 2);
    Player* other = g.game->ops->AddPlayer(g.game, 0);
    ASSERT_NE(other, nullptr);
    other->ops->SetField(other, shared);
    g.p->ops->SetField(g.p, shared);
    ASSERT_TRUE(g.Start());
    ASSERT_NE(g.p->Field, shared);
    EXPECT_EQ(g.p->Field->width, 10);
    EXPECT_EQ(g.p->Field->hiddenRows, 2);
    EXPECT_EQ(other->Field, shared);
    EXPECT_EQ(shared->ops->GetWidth(shared), 12);
    other->ops->Free(other);
}

TEST(PexaMasterServer, GameWithoutHostRunsTheSameRules) {
    TestGame g;
    ASSERT_TRUE(g.Open(u"PEXA Master", false));
    ASSERT_TRUE(g.Start());
    for (int32_t y = 0; y < 5; y++)
        for (int32_t x : {0, 1, 2, 7, 8, 9}) g.Fill(x, y);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.PrepareClear(2);
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"level"), 2);
    EXPECT_GT(g.Value(u"score"), 0);
}

} // namespace

namespace {

TEST_F(PexaMasterGame, MultiLevelStepFiresEachThresholdOnce) {
    g.SetLive(u"level", 494);
    const int32_t stopsBefore = g.client.musicStops;
    ASSERT_TRUE(g.ClearRows(4)); // 494 -> 498 crosses 495 only
    EXPECT_EQ(g.client.musicStops, stopsBefore + 1);
    g.SetLive(u"level", 496);
    ASSERT_TRUE(g.ClearRows(4)); // a new piece, then 497 -> 501 crosses 500
    EXPECT_EQ(g.Value(u"level"), 501);
    EXPECT_EQ(std::count(g.client.music.begin(), g.client.music.end(), 1), 1);
    EXPECT_EQ(g.client.musicStops, stopsBefore + 1);
    EXPECT_EQ(g.p->Settings.Gravity, 5120);
    EXPECT_EQ(g.p->Settings.LineClearDelay, 25);
    EXPECT_EQ(g.p->Settings.ShiftDelay, 8);
}

TEST(PexaMasterSections, Section5LimitIsTheAverageOfTheFirstFivePlusTwoSeconds) {
    for (int32_t elapsed : {6120, 6121}) {
        TestGame g;
        ASSERT_TRUE(g.Open(u"PEXA Master"));
        ASSERT_TRUE(g.Start());
        g.SetLive(u"level", 496);
        ASSERT_TRUE(g.LockClearing(4, Piece_I, true));
        g.p->GameTime = 30000; // section 5 begins at 30000: the average section is 6000
        g.Step();
        ASSERT_EQ(g.Value(u"level"), 500);
        ASSERT_TRUE(g.ClearRows(4)); // one four-row clear in section 5
        g.SetLive(u"level", 599);
        ASSERT_TRUE(g.LockClearing(1));
        g.p->GameTime = 30000 + elapsed; // read by the next frame's scoring
        g.Step();
        ASSERT_EQ(g.Value(u"level"), 600);
        EXPECT_EQ((g.Value(u"GMCondition") >> 5) & 1, elapsed == 6120 ? 1 : 0) << elapsed;
    }
}

TEST_F(PexaMasterGame, ComboMedal) {
    ASSERT_TRUE(g.ClearRows(2));
    ASSERT_TRUE(g.ClearRows(2));
    EXPECT_EQ(g.Value(u"medal_co"), -1);
    ASSERT_TRUE(g.ClearRows(2)); // combo 4
    EXPECT_EQ(g.Value(u"medal_co"), 0);
    ASSERT_TRUE(g.ClearRows(2)); // combo 5
    EXPECT_EQ(g.Value(u"medal_co"), 1);
    ASSERT_TRUE(g.ClearRows(2));
    EXPECT_EQ(g.Value(u"medal_co"), 1);
    ASSERT_TRUE(g.ClearRows(2)); // combo 7
    EXPECT_EQ(g.Value(u"medal_co"), 2);
}

TEST_F(PexaMasterGame, ModeInterfaceAttachAndDetach) {
    ModeEntry* entry = static_cast<ModeEntry*>(DoublyLinkedList_Data(g.p->ModeList->First));
    ASSERT_NE(entry, nullptr);
    ModeInterface* mode = entry->mode;
    EXPECT_EQ(mode->ops->GetInterfaceVersion(mode), 8);
    EXPECT_EQ(mode->ops->AttachPlayer(mode, g.p), mode);
    EXPECT_EQ(mode->states->Count, 1); // the player already has its state
    const int32_t frameHooks = g.p->HookLists[Event_Frame]->Count;
    const int32_t lockHooks = g.p->HookLists[Event_PieceLocked]->Count;
    EXPECT_EQ(mode->ops->DetachPlayer(mode, g.p), mode);
    EXPECT_EQ(mode->states->Count, 0);
    EXPECT_EQ(g.p->HookLists[Event_Frame]->Count, frameHooks - 2);
    EXPECT_EQ(g.p->HookLists[Event_PieceLocked]->Count, lockHooks - 1);
    EXPECT_EQ(g.p->HookLists[Event_Finished]->Count, 0);
    EXPECT_EQ(mode->ops->DetachPlayer(mode, g.p), mode); // nothing left: no effect
    EXPECT_EQ(mode->ops->StopPlayer(mode, g.p), 0);
    ZelvikID id{};
    id.size = 148;
    EXPECT_EQ(mode->ops->GetID(mode, &id), 1u);
    EXPECT_EQ(IdText(id.name), u"PEXA Master");
}

} // namespace

namespace {

TEST_F(PexaMasterGame, NewPiecesStopAt998) {
    g.SetLive(u"level", 998);
    g.SetLive(u"levelstop", 999);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    ASSERT_TRUE(g.NextPiece(Piece_O));
    EXPECT_EQ(g.Value(u"level"), 998);
}

TEST(PexaMasterSections, LaterSectionsMayTakeThePreviousSectionsTimePlusTwoSeconds) {
    for (int32_t elapsed : {3120, 3121}) {
        TestGame g;
        ASSERT_TRUE(g.Open(u"PEXA Master"));
        ASSERT_TRUE(g.Start());
        // Sections 6 and 7 begin at 30000 and 33000: section 6 took 3000 frames.
        const std::pair<int32_t, int32_t> crossings[] = {{599, 30000}, {699, 33000}};
        for (const auto& [from, time] : crossings) {
            g.SetLive(u"level", from);
            ASSERT_TRUE(g.LockClearing(1));
            g.p->GameTime = time;
            g.Step();
        }
        ASSERT_EQ(g.Value(u"level"), 700);
        ASSERT_TRUE(g.ClearRows(4)); // one four-row clear in section 7
        g.SetLive(u"level", 799);
        ASSERT_TRUE(g.LockClearing(1));
        g.p->GameTime = 33000 + elapsed;
        g.Step();
        ASSERT_EQ(g.Value(u"level"), 800);
        EXPECT_EQ((g.Value(u"GMCondition") >> 7) & 1, elapsed == 3120 ? 1 : 0) << elapsed;
    }
}

TEST(PexaMasterSections, GradeAndTimeConditionAt999) {
    for (int32_t time : {31500, 31501}) {
        TestGame g;
        ASSERT_TRUE(g.Open(u"PEXA Master"));
        ASSERT_TRUE(g.Start());
        g.SetLive(u"level", 998);
        g.SetLive(u"InternalGrade", 31);
        ASSERT_TRUE(g.LockClearing(1));
        g.p->GameTime = time;
        g.Step();
        ASSERT_EQ(g.Value(u"level"), 999);
        EXPECT_EQ((g.Value(u"GMCondition") >> 10) & 1, time == 31500 ? 1 : 0) << time;
        EXPECT_EQ(g.p->GameTime, time); // the timer stopped in the crossing frame
    }
}

TEST_F(PexaMasterGame, StartAfterAGameOverWithoutResetKeepsOneSetOfHooks) {
    const int32_t frameHooks = g.p->HookLists[Event_Frame]->Count;
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.p->ops->GameOver(g.p, 1);
    ASSERT_TRUE(g.StepUntil(State_Idle, Input_Left, 300));
    ASSERT_TRUE(g.Start());
    EXPECT_EQ(g.p->HookLists[Event_Frame]->Count, frameHooks);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.DropAndLock();
    EXPECT_EQ(g.Value(u"level"), 0); // one frame hook: no double level step or scoring
}

} // namespace
