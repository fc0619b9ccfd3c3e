// The frame loop on its own: a player in a mode's own phase runs frames without any piece, so
// frame counting, input masks and the remote-player order show without plug-ins.
#include "DoublyLinkedList.h"
#include "Vantrel_Adv_Player.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class PlayerUpdate : public ::testing::Test {
protected:
    Player* p = Make();
    static Player* Make() {
        Player* player = Player_Create(nullptr, 0);
        player->State = State_ModePause;
        player->PlayerFlags |= Flag_Paused;
        return player;
    }
    void TearDown() override { Player_Free(p); } // frees the remote players too
    int32_t Run(uint32_t frames, uint32_t input = 0, int32_t maxFrames = -1) {
        p->FrameTarget = p->FrameCounter + frames;
        return Player_Update(p, input, maxFrames);
    }
};

TEST_F(PlayerUpdate, PausedFramesFollowTheTargetAcrossACounterWrap) {
    p->FrameCounter = 0xFFFFFFF0u;
    p->FrameTarget = 5;
    EXPECT_EQ(Player_Update(p, 0, -1), 21);
    EXPECT_EQ(p->FrameCounter, 5u);
    EXPECT_EQ(Player_Update(p, 0, -1), 0);
    p->FrameTarget = 2; // behind the counter: nothing runs
    EXPECT_EQ(Player_Update(p, 0, -1), 0);
    EXPECT_EQ(p->FrameTarget, 2u) << "paused: the host's target stays";
    EXPECT_EQ(Run(10, 0, 3), 3);
    EXPECT_EQ(Run(10, 0, 0), 0);
    EXPECT_EQ(Run(10, 0, -2), 0);
    EXPECT_EQ(p->GameTime, 24) << "a mode's phase counts game time";
}

TEST_F(PlayerUpdate, MasksCarryAndDisableKeys) {
    p->InputCarried = Input_Left | Input_Hold;
    Run(1, Input_Left | Input_Right | 0xF000);
    EXPECT_EQ(p->InputRead, uint32_t(Input_Left | Input_Right)) << "low eleven bits only";
    EXPECT_EQ(p->InputUsed, uint32_t(Input_Right)) << "left is carried over the lock";
    EXPECT_EQ(p->InputCarried, uint32_t(Input_Left)) << "hold was released";
    Run(1, Input_Right);
    Run(1, Input_Left);
    EXPECT_EQ(p->InputUsed, uint32_t(Input_Left)) << "released once, pressed again";
    // A frame hook disables keys for the frame it runs in.
    Player_AddHook(
        p, Event_Frame,
        [](Player* pl, uintptr_t, uintptr_t) { pl->InputDisabled = Input_HardDrop; }, 0, 0);
    Run(1, Input_HardDrop | Input_Left);
    EXPECT_EQ(p->InputUsed, uint32_t(Input_Left));
}

TEST_F(PlayerUpdate, RemotePlayersRunInIdOrderWithTheFramesLeft) {
    static std::vector<uint32_t> order;
    order.clear();
    auto track = [](Player* pl, uintptr_t, uintptr_t) { order.push_back(pl->Id); };
    Player_AddHook(p, Event_EndOfFrame, track, 0, 0);
    Player* low = Make();
    Player* high = Make();
    low->Id = p->Id - 1;
    high->Id = p->Id + 1;
    for (Player* remote : {high, low}) {
        *static_cast<Player**>(p->RemotePlayers->ops->AddElement(p->RemotePlayers)) = remote;
        Player_AddHook(remote, Event_EndOfFrame, track, 0, 0);
        remote->FrameTarget = 10;
    }
    EXPECT_EQ(Run(10, 0, 3), 3);
    EXPECT_EQ(low->FrameCounter, 3u);
    EXPECT_EQ(high->FrameCounter, 0u) << "no frames left for the larger id";
    EXPECT_EQ(order, (std::vector<uint32_t>{low->Id, low->Id, low->Id, p->Id, p->Id, p->Id}));
    Run(0, 0, -1);
    EXPECT_EQ(high->FrameCounter, 10u);
}

} // namespace
