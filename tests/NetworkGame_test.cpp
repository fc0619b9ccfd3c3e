// Networked games over real loopback sockets: one server and two clients in this process, the
// clients' frames and the server's passes interleaved, each client stepped one frame at a time.
#include "NetTestHost.h"

#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Path.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_Game.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Vantrel_Adv_Player.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_Server.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Field.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Client = NetClient;

struct NetworkGame : ::testing::Test {
    Server* server = nullptr;
    uint16_t port = 0;

    static void SetUpTestSuite() { LoadRunFolderPlugins(); }

    void SetUp() override {
        server = CreateRuledServer(u"Loopback");
        ASSERT_NE(server, nullptr) << "no server, or a mode, rotation system or randomizer missing";
        port = Server_GetPort(server);
    }

    void TearDown() override {
        if (server) server->ops->Free(server);
    }

    // Pumps everyone (no frames for paused or idle players) until done() or the time is up.
    template <typename Done> bool Pump(std::vector<Client*> clients, Done done, int ms = 3000) {
        return PumpNet(server, clients, done, ms);
    }

    // Both clients run frames 0..frames-1 of the game in step (one frame per update), then
    // stop; every copy catches up and the field checksums agree.
    void PlayInStep(Client& x, Client& y, uint32_t frames) {
        for (Client* c : {&x, &y}) {
            c->player->PlayerFlags &= ~uint32_t(Flag_Paused);
            ASSERT_EQ(c->player->FrameCounter, 0u);
        }
        StepInStep(server, x, y, frames, false);
        ASSERT_EQ(x.player->FrameCounter, frames);
        ASSERT_EQ(y.player->FrameCounter, frames);
        const NetCopies copies(server, x, y);
        ASSERT_TRUE(copies.Complete());
        ASSERT_TRUE(Pump(
            {&x, &y}, [&] { return copies.AllAt(frames); }, 10000));
        const uint32_t sumA = NetCopies::Sum(copies.a), sumB = NetCopies::Sum(copies.b);
        EXPECT_EQ(NetCopies::Sum(copies.heldA), sumA);
        EXPECT_EQ(NetCopies::Sum(copies.remoteA), sumA);
        EXPECT_EQ(NetCopies::Sum(copies.heldB), sumB);
        EXPECT_EQ(NetCopies::Sum(copies.remoteB), sumB);
    }

    // Both ask to start; returns when both run the new game.
    void StartBoth(Client& x, Client& y) {
        // The host resets a player before it asks for a further game.
        for (Client* c : {&x, &y})
            if (c->player->State != State_Idle) c->player->ops->Reset(c->player);
        EXPECT_EQ(x.player->ops->RequestStart(x.player), 1);
        EXPECT_EQ(y.player->ops->RequestStart(y.player), 1);
        ASSERT_TRUE(Pump({&x, &y}, [&] {
            return x.player->ReadyFlag == 0 && y.player->ReadyFlag == 0 &&
                   x.player->State != State_Idle && y.player->State != State_Idle &&
                   x.player->FrameCounter == 0 && y.player->FrameCounter == 0;
        }));
    }
};

} // namespace

TEST_F(NetworkGame, TwoClientsPlayTheSameGameAsTheServer) {
    Client anna(u"Anna", port), bo(u"Bo", port);
    ASSERT_NE(anna.player, nullptr);
    ASSERT_NE(anna.player->Connection, 0u);
    ASSERT_NE(bo.player->Connection, 0u);
    ASSERT_TRUE(Pump({&anna, &bo}, [&] {
        return anna.host.connected && bo.host.connected && anna.host.joined.size() == 1 &&
               bo.host.joined.size() == 1;
    }));
    const uint32_t a = anna.player->Id, b = bo.player->Id;
    EXPECT_NE(a, b);
    ASSERT_NE(anna.Remote(b), nullptr);
    ASSERT_NE(bo.Remote(a), nullptr);
    EXPECT_EQ(anna.Remote(b)->Game, anna.game);
    EXPECT_EQ(anna.Remote(b)->Seed, server->SharedSeed);
    EXPECT_EQ(server->ops->CountPlayers(server), 2);

    EXPECT_EQ(anna.player->ops->RequestStart(anna.player), 1);
    ASSERT_TRUE(Pump({&anna, &bo}, [&] { return bo.Remote(a)->ReadyFlag == 1; }));
    EXPECT_EQ(ServerLinesStartingWith(u"Starting the game"), 0u);
    EXPECT_EQ(bo.player->ops->RequestStart(bo.player), 1);
    ASSERT_TRUE(Pump({&anna, &bo}, [&] {
        return anna.player->ReadyFlag == 0 && bo.player->ReadyFlag == 0 &&
               anna.player->State != State_Idle && bo.player->State != State_Idle;
    }));
    EXPECT_EQ(ServerLinesStartingWith(u"Starting the game"), 1u);
    EXPECT_EQ(anna.player->Seed, bo.player->Seed);
    EXPECT_EQ(server->GameRunning, 1u);

    // Several hundred frames, one per update, with the server passes in between.
    constexpr uint32_t kFrames = 401; // frames 0..400: the last (even) frame is sent at once
    for (Client* c : {&anna, &bo}) ASSERT_EQ(c->player->FrameCounter, 0u);
    StepInStep(server, anna, bo, kFrames, false);
    ASSERT_EQ(anna.player->FrameCounter, kFrames);
    ASSERT_EQ(bo.player->FrameCounter, kFrames);

    const NetCopies copies(server, anna, bo);
    ASSERT_NE(copies.heldA, nullptr);
    ASSERT_NE(copies.heldB, nullptr);
    ASSERT_TRUE(Pump(
        {&anna, &bo}, [&] { return copies.AllAt(kFrames); }, 10000))
        << copies.heldA->FrameCounter << " " << copies.heldB->FrameCounter << " "
        << copies.remoteB->FrameCounter << " " << copies.remoteA->FrameCounter;
    Player* heldA = copies.heldA;
    const uint32_t sumA = NetCopies::Sum(copies.a), sumB = NetCopies::Sum(copies.b);
    EXPECT_NE(sumA, sumB); // different scripts: a vacuous match would prove nothing
    EXPECT_EQ(NetCopies::Sum(heldA), sumA);
    EXPECT_EQ(NetCopies::Sum(copies.remoteA), sumA);
    EXPECT_EQ(NetCopies::Sum(copies.heldB), sumB);
    EXPECT_EQ(NetCopies::Sum(copies.remoteB), sumB);
    EXPECT_EQ(ServerLinesStartingWith(u"Warning: "), 0u);
    for (Client* c : {&anna, &bo})
        for (const auto& line : c->host.log)
            EXPECT_EQ(line.find(u"out of sync"), std::u16string::npos);

    // Anna's field goes wrong behind the game's back: the server notices at her next packet.
    Field* f = anna.player->Field;
    ASSERT_NE(f, nullptr);
    FieldCell* cell = f->ops->GetCell(f, 0, f->height - 1);
    ASSERT_NE(cell, nullptr);
    f->ops->SetCell(f, 0, f->height - 1, cell->block ? 0 : 1, 0x12345, 0);
    anna.player->PlayerFlags &= ~uint32_t(Flag_Paused);
    const uint32_t next = anna.player->FrameCounter; // odd: the next packet starts here
    ASSERT_TRUE(Pump(
        {&anna}, [&] { return heldA->FrameCounter > next + 4; }, 5000));
    EXPECT_EQ(ServerLinesStartingWith(u"Warning: "), 1u);
    std::u16string want = u"Warning: Anna is out of sync (frame ";
    for (char c : std::to_string(next)) want += static_cast<char16_t>(c);
    want += u")";
    EXPECT_EQ(ServerLinesStartingWith(want), 1u);
}

TEST_F(NetworkGame, DepartureIsAnnouncedAndTheServerReopensWhenEmpty) {
    auto anna = std::make_unique<Client>(u"Anna", port);
    Client bo(u"Bo", port);
    ASSERT_TRUE(Pump({anna.get(), &bo}, [&] { return bo.host.joined.size() == 1; }));
    const uint32_t a = anna->player->Id;
    anna->player->ops->RequestStart(anna->player);
    bo.player->ops->RequestStart(bo.player);
    ASSERT_TRUE(Pump({anna.get(), &bo}, [&] { return server->GameRunning == 1; }));

    // A latecomer is refused while the game runs, with the running message.
    Client late(u"Late", port);
    ASSERT_TRUE(Pump({anna.get(), &bo, &late}, [&] { return !late.host.chat.empty(); }));
    EXPECT_EQ(late.host.chat[0], u"Game is already running - You can't join now.");
    EXPECT_FALSE(late.host.connected);
    EXPECT_EQ(server->ops->CountPlayers(server), 2);
    EXPECT_EQ(server->ops->CountClients(server), 3);

    anna.reset(); // frees the player, which closes its connection
    ASSERT_TRUE(Pump({&bo, &late}, [&] { return bo.host.left.size() == 1; }));
    EXPECT_EQ(bo.Remote(a), nullptr);
    bool logged = false;
    for (const auto& l : bo.host.log)
        logged |= l == u"Player " + [&] {
            std::u16string s;
            for (char c : std::to_string(a)) s += static_cast<char16_t>(c);
            return s;
        }() + u" disconnected";
    EXPECT_TRUE(logged);
    EXPECT_EQ(server->ops->CountPlayers(server), 1);
    EXPECT_EQ(server->GameRunning, 1u); // still refused: clients remain
}

TEST_F(NetworkGame, FurtherGameStartsFromCleanCopies) {
    Client anna(u"Anna", port), bo(u"Bo", port);
    ASSERT_TRUE(Pump({&anna, &bo},
                     [&] { return anna.host.joined.size() == 1 && bo.host.joined.size() == 1; }));
    StartBoth(anna, bo);
    PlayInStep(anna, bo, 121);
    // Ready again in the middle of the game: every copy starts over, modes are not doubled.
    StartBoth(anna, bo);
    EXPECT_EQ(ServerLinesStartingWith(u"Starting the game"), 2u);
    Player* held = HeldPlayer(server, anna.player->Id);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(DoublyLinkedList_CountList(held->ModeList), 1);
    EXPECT_EQ(DoublyLinkedList_CountList(held->ChecksumQueue), 0);
    PlayInStep(anna, bo, 201);
    EXPECT_EQ(ServerLinesStartingWith(u"Warning: "), 0u);
    EXPECT_EQ(server->ops->CountPlayers(server), 2); // nobody was cut off by stale frames
}

// Anna tops out and goes back to choosing her rotation system: Bo keeps seeing how her game
// ended (its time and field), not a fresh "Go" at level 0, until the next game starts.
TEST_F(NetworkGame, OpponentWhoToppedOutKeepsTheLastGameOnShowUntilTheNextStarts) {
    Client anna(u"Anna", port), bo(u"Bo", port);
    ASSERT_TRUE(Pump({&anna, &bo},
                     [&] { return anna.host.joined.size() == 1 && bo.host.joined.size() == 1; }));
    StartBoth(anna, bo);
    const uint32_t a = anna.player->Id;
    // Anna drops every piece at once until her stack reaches the top; Bo plays on.
    const uint32_t deadline = GetMilliseconds() + 20000;
    while (anna.player->State != State_GameOver && int32_t(deadline - GetMilliseconds()) > 0) {
        server->ops->Process(server);
        Player* p = anna.player;
        p->ops->Update(p, p->FrameCounter % 2 ? 0u : uint32_t(Input_HardDrop), 1);
        bo.player->ops->Update(bo.player, Script(bo.player->FrameCounter, 1), 1);
    }
    ASSERT_EQ(anna.player->State, State_GameOver);
    Player* seen = bo.Remote(a);
    ASSERT_NE(seen, nullptr);
    ASSERT_TRUE(Pump(
        {&anna, &bo}, [&] { return seen->State == State_GameOver; }, 10000))
        << "Bo's copy of Anna is in state " << seen->State;
    const int32_t time = seen->GameTime;
    const uint32_t frames = seen->FrameCounter;
    EXPECT_GT(time, 0);

    // Back at the rotation choice, and even ready for another game: still her last game.
    anna.player->ops->Reset(anna.player);
    ASSERT_FALSE(Pump(
        {&anna, &bo}, [&] { return seen->State != State_GameOver; }, 1500))
        << "Bo's copy of Anna is in state " << seen->State << " at game time " << seen->GameTime;
    EXPECT_EQ(seen->GameTime, time);
    EXPECT_EQ(seen->FrameCounter, frames);
    EXPECT_EQ(anna.player->ops->RequestStart(anna.player), 1);
    ASSERT_TRUE(Pump({&anna, &bo}, [&] { return seen->ReadyFlag == 1; }));
    EXPECT_EQ(seen->State, State_GameOver);
    EXPECT_EQ(seen->GameTime, time);

    // The next game starts every copy afresh.
    bo.player->ops->Reset(bo.player);
    EXPECT_EQ(bo.player->ops->RequestStart(bo.player), 1);
    ASSERT_TRUE(Pump({&anna, &bo}, [&] {
        return seen->State != State_GameOver && anna.player->State != State_Idle &&
               bo.player->State != State_Idle;
    }));
    EXPECT_EQ(ServerLinesStartingWith(u"Starting the game"), 2u);
}
