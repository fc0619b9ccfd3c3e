// Nuro Varkel: the stand-alone mode; scoring in the lock event, timings changed only at locks.
#include "../src/modes/Mode_NuroVarkel.h"
#include "Mode_TestGame.h"

using namespace modetest;

namespace {

TEST(NuroVarkelTables, TimingsByLevelUpTo1300AndBeyond) {
    using namespace NuroVarkel;
    auto at = [](const auto& table) {
        return [&table](int32_t l) { return LevelTable_Lookup(table, TableLevel(l)); };
    };
    // Above 1300 the level-1300 row holds.
    ExpectTableText(at(kEntryDelay), "0-299: 10; 300 and above: 4", 0, 2000);
    ExpectTableText(at(kShiftDelay), "0-99: 8; 100-499: 6; 500 and above: 4", 0, 2000);
    ExpectTableText(at(kLineEntryDelay),
                    "0-99: 6; 100-199: 5; 200-499: 4; 500-1299: 3; 1300 and above: 4", 0, 2000);
    ExpectTableText(at(kLineClearDelay),
                    "0-99: 6; 100-199: 5; 200-499: 4; 500-1299: 3; 1300 and above: 6", 0, 2000);
    ExpectTableText(at(kLockDelay),
                    "0-199: 18; 200-299: 17; 300-499: 15; 500-599: 13; 600-1099: 12; "
                    "1100-1199: 10; 1200-1299: 8; 1300 and above: 15",
                    0, 2000);
}

TEST(NuroVarkelLibrary, Identity) {
    ExpectIdentity("nuro_varkel", u"Nuro Varkel", 0x0000000100000000ull, 0x4B196898);
}

struct NuroVarkelGame : ModeGame {
    NuroVarkelGame() : ModeGame(u"Nuro Varkel") {}
};

TEST_F(NuroVarkelGame, StartSettings) {
    Player* p = g.p;
    EXPECT_EQ(p->Settings.ReadyTime, 100);
    EXPECT_EQ(p->PreviewCount, 3);
    EXPECT_EQ(p->InputRelockMask, uint32_t{Input_SoftDrop});
    EXPECT_TRUE(p->PlayerFlags & Flag_HoldAllowed);
    EXPECT_TRUE(p->PlayerFlags & Flag_InitialHold);
    EXPECT_FALSE(p->PlayerFlags & Flag_LockWhenResting);
    EXPECT_EQ(p->Settings.Gravity, 5120);
    EXPECT_EQ(p->Settings.EntryDelay, 10);
    EXPECT_EQ(p->Settings.LockDelay, 18);
    for (const char16_t* key : {u"level", u"levelstop", u"score"}) EXPECT_TRUE(g.IsLive(key));
    EXPECT_EQ(g.Entry(u"medal_ac"), nullptr);
    EXPECT_EQ(p->Field->hiddenRows, 2);
}

TEST_F(NuroVarkelGame, LockWithoutClearScoresTheLevelBonusAndSpeed) {
    g.SetLive(u"level", 200);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    ASSERT_TRUE(g.Lock()); // timings for level 200 from here: LockDelay 17
    EXPECT_EQ(g.p->Settings.LockDelay, 17);
    // Wait until the new piece's level step is past, then put the level back to 200.
    g.Step(0);
    for (int32_t i = 0; i < 50 && !(g.p->State == State_EntryDelay && g.p->StateTimer < 3); i++)
        g.Step(0);
    g.SetLive(u"level", 200);
    const int32_t before = g.Value(u"score");
    // Both drops held through the spawn frame lock the piece there: active time 0.
    const int32_t locked = g.p->PiecesLocked;
    for (int32_t i = 0; i < 10 && g.p->PiecesLocked == locked; i++)
        g.Step(Input_HardDrop | Input_SoftDrop);
    ASSERT_EQ(g.p->State, State_EntryDelay);
    EXPECT_EQ(g.Value(u"tetromino_activetime"), 0);
    EXPECT_EQ(g.Value(u"score") - before, 117);
}

TEST_F(NuroVarkelGame, Level1299SingleGivesThe1300Row) {
    g.SetLive(u"level", 1299);
    ASSERT_TRUE(g.ClearRows(1, Piece_T));
    EXPECT_EQ(g.Value(u"level"), 1300);
    EXPECT_EQ(g.Value(u"levelstop"), 1400);
    EXPECT_EQ(g.p->Settings.LineEntryDelay, 4);
    EXPECT_EQ(g.p->Settings.LineClearDelay, 6);
    EXPECT_EQ(g.p->Settings.LockDelay, 15);
    // Further on the level is not capped and the 1300 row holds, so line clears still end.
    g.SetLive(u"level", 1500);
    ASSERT_TRUE(g.ClearRows(2));
    EXPECT_EQ(g.Value(u"level"), 1503); // the new piece's step, then the double
    EXPECT_EQ(g.p->Settings.LineClearDelay, 6);
    EXPECT_EQ(g.p->Settings.ShiftDelay, 4);
    EXPECT_EQ(g.p->Settings.LockDelay, 15);
    // The clear ends and the next piece arrives.
    for (int32_t i = 0; i < 100 && g.p->State != State_Landed; i++) g.Step();
    EXPECT_EQ(g.p->State, State_Landed);
}

TEST_F(NuroVarkelGame, TimingsChangeOnlyAtLocks) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    ASSERT_TRUE(g.Lock());
    g.SetLive(u"level", 300);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    EXPECT_EQ(g.Value(u"level"), 301); // the new piece's step
    EXPECT_EQ(g.p->Settings.EntryDelay, 10);
    EXPECT_EQ(g.p->Settings.ShiftDelay, 8);
    EXPECT_EQ(g.p->Settings.LockDelay, 18);
    ASSERT_TRUE(g.Lock());
    EXPECT_EQ(g.p->Settings.EntryDelay, 4);
    EXPECT_EQ(g.p->Settings.ShiftDelay, 6);
    EXPECT_EQ(g.p->Settings.LockDelay, 15);
}

TEST_F(NuroVarkelGame, LevelStepsAndCombo) {
    ASSERT_TRUE(g.ClearRows(3));
    EXPECT_EQ(g.Value(u"level"), 4);
    ASSERT_TRUE(g.ClearRows(4));
    EXPECT_EQ(g.Value(u"level"), 4 + 1 + 6);
    g.SetLive(u"level", 99);
    ASSERT_TRUE(g.NextPiece(Piece_O));
    ASSERT_TRUE(g.Lock());
    ASSERT_TRUE(g.NextPiece(Piece_O));
    EXPECT_EQ(g.Value(u"level"), 99);
}

TEST_F(NuroVarkelGame, GameOverLeavesTheRecord) {
    ASSERT_TRUE(g.NextPiece(Piece_O));
    g.p->ops->GameOver(g.p, 1);
    EXPECT_EQ(g.Value(u"level"), 0);
    EXPECT_EQ(g.p->State, State_GameOver);
}

} // namespace

namespace {

TEST_F(NuroVarkelGame, DetachRemovesBothHooks) {
    ModeEntry* entry = static_cast<ModeEntry*>(DoublyLinkedList_Data(g.p->ModeList->First));
    ASSERT_NE(entry, nullptr);
    ModeInterface* mode = entry->mode;
    EXPECT_EQ(mode->ops->GetInterfaceVersion(mode), 8);
    EXPECT_EQ(mode->ops->AttachPlayer(mode, g.p), mode);
    EXPECT_EQ(mode->states->Count, 1);
    const int32_t frameHooks = g.p->HookLists[Event_Frame]->Count;
    const int32_t lockHooks = g.p->HookLists[Event_PieceLocked]->Count;
    EXPECT_EQ(mode->ops->DetachPlayer(mode, g.p), mode);
    EXPECT_EQ(mode->states->Count, 0);
    EXPECT_EQ(g.p->HookLists[Event_Frame]->Count, frameHooks - 1);
    EXPECT_EQ(g.p->HookLists[Event_PieceLocked]->Count, lockHooks - 1);
    g.Step(0, 200); // the game runs on without the mode's hooks
    EXPECT_EQ(mode->ops->StopPlayer(mode, g.p), 0);
}

} // namespace
