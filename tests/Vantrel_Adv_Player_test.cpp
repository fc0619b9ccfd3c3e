#include "DoublyLinkedList.h"
#include "Platform_Path.h"
#include "Vantrel_Adv_Field.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Zelvik_RotationSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(Player, IdsGrowAndNamesTakeTheirTwoForms) {
    Player* a = Player_Create(nullptr, 0);
    Player* b = Player_Create(nullptr, 0);
    ASSERT_TRUE(a && b);
    EXPECT_GT(b->Id, a->Id);
    a->Id = 7;
    EXPECT_EQ(std::u16string(Player_GetName(a)), u"Player7");
    Player_SetName(a, u"Bo");
    EXPECT_EQ(std::u16string(Player_GetName(a)), u"(7)Bo");
    const std::u16string longName(400, u'n');
    Player_SetName(a, longName.c_str());
    EXPECT_EQ(std::u16string(a->NameBuffer).size(), 255u);
    EXPECT_EQ(a->PreviewCount, 3);
    EXPECT_EQ(a->SpawnColumn, 3);
    EXPECT_EQ(a->State, State_Idle);
    Player_Free(a);
    Player_Free(b);
    EXPECT_EQ(Player_Free(nullptr), 0);
}

TEST(Player, ResetKeepsOnlyTheReplayFlagsAndDrawsANewSeed) {
    Player* p = Player_Create(nullptr, 1);
    p->PlayerFlags = 0xFFFFFFFF;
    p->Settings.LockDelay = 30;
    p->FrameCounter = 99;
    const uint32_t seed = p->Seed;
    bool seedChanged = false;
    for (int i = 0; i < 4 && !seedChanged; ++i) { // 1 in 2^32 per try to draw the same
        Player_Reset(p);
        seedChanged = p->Seed != seed;
    }
    EXPECT_TRUE(seedChanged);
    EXPECT_EQ(p->PlayerFlags, uint32_t(Flag_RecordReplay | Flag_PlayReplay));
    EXPECT_EQ(p->Settings.LockDelay, 30) << "settings belong to the modes";
    EXPECT_EQ(p->FrameCounter, 0u);
    EXPECT_EQ(p->PacketSent, 1u);
    ASSERT_NE(p->InputQueue, nullptr);
    ASSERT_NE(p->SyncQueue, nullptr);
    Player_Free(p);
}

TEST(Player, SnapshotHoldsTheFieldBehindAFixedHeader) {
    Player* bare = Player_Create(nullptr, 0);
    uint32_t size = 0;
    uint8_t* snap = Player_SaveSnapshot(bare, &size);
    EXPECT_EQ(size, 268u);
    ASSERT_NE(snap, nullptr);
    for (uint32_t i = 0; i < size; ++i) ASSERT_EQ(snap[i], 0) << i;
    std::free(snap);
    EXPECT_EQ(Player_GetFieldChecksum(bare), 0u);

    Player* p = Player_Create(nullptr, 1);
    ASSERT_NE(p->Field, nullptr);
    EXPECT_EQ(p->Field->width, 10);
    EXPECT_EQ(p->Field->height, 20);
    EXPECT_EQ(p->Field->hiddenRows, 3);
    Field_SetCell(p->Field, 2, 5, 1, 0xABCDEF, 0);
    uint32_t n = 0;
    uint8_t* data = Field_Save(p->Field, &n);
    snap = Player_SaveSnapshot(p, &size);
    ASSERT_EQ(size, n + 268);
    EXPECT_EQ(snap[260] | snap[261] << 8 | snap[262] << 16 | uint32_t(snap[263]) << 24, n);
    EXPECT_EQ(std::memcmp(snap + 264, data, n), 0);
    EXPECT_EQ(Player_GetFieldChecksum(p), Field_Checksum(p->Field));
    std::free(snap);
    std::free(data);
    Player_Free(p);
    Player_Free(bare);
}

TEST(Player, TheLastPlayerOnASharedFieldFreesIt) {
    Player* a = Player_Create(nullptr, 1);
    Player* b = Player_Create(nullptr, 0);
    Field* shared = a->Field;
    Player_SetField(b, shared);
    EXPECT_EQ(shared->players->Count, 2);
    Player_Free(a);
    EXPECT_EQ(shared->players->Count, 1) << "still alive for the second player";
    EXPECT_EQ(Player_GetField(b), shared);
    Player_Free(b); // the leak checker would report the field otherwise
}

TEST(Player, FreeLeavesItsGameAndTheHostNeedsAGame) {
    static Game* game = Game_Create(nullptr); // games live as long as their host
    Player* loner = Player_Create(nullptr, 0);
    ClientInterface host{};
    EXPECT_EQ(Player_SetClientInterface(loner, &host), 0);
    EXPECT_EQ(Player_Start(loner), 0) << "no game";
    Player* p = Game_AddPlayer(game, 0);
    ASSERT_NE(p, nullptr);
    Player_SetClientInterface(p, &host);
    EXPECT_EQ(game->clientInterface, &host);
    game->clientInterface = nullptr;
    EXPECT_EQ(game->players->Count, 1);
    Player_Free(p);
    EXPECT_EQ(game->players->Count, 0);
    Player_Free(loner);
}

// Players of one game with the installed rotation system and randomizer, and the timings a mode
// would write. Frames run one by one, paused, so that nothing depends on the clock.
class PlayerGame : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Plugin_Init();
        const std::filesystem::path dlls = std::filesystem::path(ZELVIK_GAME_DIR) / "dlls";
        Plugin_ScanFolder(Platform_Path_FromUtf8((dlls / "rotationsystem").string()));
        Plugin_ScanFolder(Platform_Path_FromUtf8((dlls / "randomizer").string()));
    }
    void TearDown() override {
        for (Player* p : players) Player_Free(p);
    }
    Player* Make(uint32_t seed) {
        static Game* game = Game_Create(nullptr); // games live as long as their host
        Player* p = Game_AddPlayer(game, 0);
        if (!p) return nullptr;
        players.push_back(p);
        Player_SetField(p, Field_Create(10, 20, 3));
        const ZelvikID* rs = Plugin_FindByName(PluginKind_RotationSystem, u"Dalmor WEXO");
        const ZelvikID* rand = Plugin_FindByName(PluginKind_Randomizer, u"PEXA");
        if (!rs || !rand || p->ops->SetRotationSystem(p, rs) != 1 ||
            p->ops->SetRandomizer(p, rand) != 1)
            return nullptr;
        p->Settings.EntryDelay = 10;
        p->Settings.LineEntryDelay = 40;
        p->Settings.LockDelay = 30;
        p->Settings.ShiftDelay = 14;
        p->Settings.Gravity = 20 * 256; // straight to the floor
        p->Settings.FramesPerSecond = 60.0;
        p->Seed = seed;
        return p;
    }
    static void Frame(Player* p, uint32_t input = 0) {
        p->PlayerFlags |= Flag_Paused;
        p->FrameTarget = p->FrameCounter + 1;
        Player_Update(p, input, -1);
    }
    // Starts the player and counts the frames until its first piece has locked.
    static int FramesToFirstLock(Player* p) {
        if (Player_Start(p) != 1) return -1;
        for (int frame = 1; frame <= 1000; ++frame) {
            Frame(p);
            if (p->PiecesLocked > 0) return frame;
        }
        return -1;
    }
    static std::vector<uint32_t> Queue(const Player* p) {
        std::vector<uint32_t> kinds;
        for (const RotationPiece* piece : p->NextQueue) kinds.push_back(piece ? piece->kind : 0);
        return kinds;
    }
    std::vector<Player*> players;
};

TEST_F(PlayerGame, AResetPlayerLocksItsFirstPieceWhenAFreshOneDoes) {
    Player* fresh = Make(1234);
    Player* reset = Make(1234);
    ASSERT_TRUE(fresh && reset);
    // A game that ended just after a line clear, with its timers still running.
    reset->LastClearRows = 1;
    reset->StateTimer = 17;
    reset->LockTimer = 3;
    reset->ShiftCounter = 9;
    Player_Reset(reset);
    reset->Seed = 1234;
    const int expected = FramesToFirstLock(fresh);
    ASSERT_GT(expected, 0);
    EXPECT_EQ(FramesToFirstLock(reset), expected);
}

TEST_F(PlayerGame, AStartAfterAGameOverWithoutResetDealsTheSeedsPieces) {
    Player* fresh = Make(99);
    Player* again = Make(99);
    ASSERT_TRUE(fresh && again);
    ASSERT_GT(FramesToFirstLock(again), 0);
    for (int i = 0; i < 40; ++i) Frame(again);
    Player_GameOver(again, 1);
    for (int i = 0; i < 300 && again->State != State_Idle; ++i) Frame(again);
    ASSERT_EQ(again->State, State_Idle);
    again->Seed = 99;
    ASSERT_EQ(Player_Start(again), 1);
    ASSERT_EQ(Player_Start(fresh), 1);
    EXPECT_EQ(Queue(again), Queue(fresh));
}

} // namespace
