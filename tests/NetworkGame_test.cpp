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
#include <memory>
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

// Games of 2, 3 and 5 players in which everyone tops out, each loser's last frame (the one that
// ends the game-over animation) odd in one game and even in the next: every other screen's
// copy of the loser ends in Game Over with the loser's own level and time, and keeps showing it
// while the loser gets ready again, until the next game starts.
TEST_F(NetworkGame, EveryTopOutShowsGameOverWithTheLosersLevelAndTimeOnEveryOtherScreen) {
    const auto level = [](Player* p) {
        uint32_t v = 0;
        return p->ops->GetValue(p, u"level", &v) ? int64_t(v) : int64_t(-1);
    };
    for (const size_t n : {2u, 3u, 5u}) {
        SCOPED_TRACE(std::to_string(n) + " players");
        // The last count's clients have gone: the server takes players again.
        ASSERT_TRUE(Pump({}, [&] { return server->GameRunning == 0; }));
        std::vector<std::unique_ptr<Client>> owned;
        std::vector<Client*> all;
        for (size_t i = 0; i < n; ++i) {
            owned.push_back(std::make_unique<Client>(
                (u"P" + std::u16string(1, char16_t(u'0' + i))).c_str(), port));
            all.push_back(owned.back().get());
        }
        ASSERT_TRUE(Pump(all, [&] {
            for (Client* c : all)
                if (c->host.joined.size() != n - 1) return false;
            return true;
        }));
        // Every copy of player `of` on the other clients.
        const auto copies = [&](Client* of) {
            std::vector<Player*> out;
            for (Client* c : all)
                if (c != of) out.push_back(c->Remote(of->player->Id));
            return out;
        };
        for (uint32_t game = 0; game < 2; ++game) {
            SCOPED_TRACE("game " + std::to_string(game));
            // Everyone asks to start; the last ready starts them all (local frames held back).
            // (After the first game all but the last are ready already.)
            for (Client* c : game == 0 ? all : std::vector<Client*>{all.back()}) {
                c->player->ops->Reset(c->player);
                EXPECT_EQ(c->player->ops->RequestStart(c->player), 1);
            }
            const uint32_t deadline = GetMilliseconds() + 5000;
            bool started = false;
            while (!started && int32_t(deadline - GetMilliseconds()) > 0) {
                server->ops->Process(server);
                for (Client* c : all) c->player->ops->Update(c->player, 0, 0);
                started = true;
                for (Client* c : all)
                    for (Player* copy : copies(c))
                        started &= c->player->State != State_Idle && copy &&
                                   copy->State != State_Idle && copy->FrameCounter == 0 &&
                                   HeldPlayer(server, c->player->Id)->State != State_Idle;
            }
            ASSERT_TRUE(started);
            // Local frames one at a time; every other copy runs as fast as its input arrives.
            for (Client* c : all) {
                c->player->PlayerFlags |= Flag_Paused;
                c->player->FrameTarget = c->player->FrameCounter;
                for (Player* copy : copies(c)) copy->StartTime -= 10'000'000;
                HeldPlayer(server, c->player->Id)->StartTime -= 10'000'000;
            }

            // Hard drops every other frame up to the top-out; one key during the animation
            // ends it a frame sooner where that gives the last frame the parity wanted.
            std::vector<int64_t> topOut(n, -1);
            const uint32_t end = GetMilliseconds() + 60000;
            for (bool playing = true; playing && int32_t(end - GetMilliseconds()) > 0;) {
                playing = false;
                for (size_t i = 0; i < n; ++i) {
                    Player* p = all[i]->player;
                    uint32_t in = 0;
                    if (p->State == State_GameOver) {
                        const uint32_t natural = uint32_t(topOut[i]) + 101, want = (i + game) % 2;
                        if (p->FrameCounter == topOut[i] + 1 && natural % 2 != want)
                            in = Input_SoftDrop;
                    } else if ((p->FrameCounter + i) % 2 == 0) {
                        in = Input_HardDrop;
                    }
                    if (p->State != State_Idle) p->FrameTarget = p->FrameCounter + 1;
                    p->ops->Update(p, in, -1);
                    if (p->State == State_GameOver && topOut[i] < 0)
                        topOut[i] = int64_t(p->FrameCounter) - 1;
                    playing |= p->State != State_Idle;
                }
                server->ops->Process(server);
            }
            for (size_t i = 0; i < n; ++i) {
                Player* p = all[i]->player;
                ASSERT_EQ(p->State, State_Idle) << "player " << i << " still plays";
                ASSERT_GE(topOut[i], 0) << "player " << i << " finished without a top-out";
                EXPECT_EQ((p->FrameCounter - 1) % 2, (i + game) % 2) << "player " << i;
                EXPECT_EQ(Player_Ending(*p), PlayerEnding::GameOver);
            }

            // Every copy catches up with the loser's whole game and says how it ended.
            const auto caughtUp = [&] {
                for (Client* c : all)
                    for (Player* copy : copies(c))
                        if (copy->FrameCounter != c->player->FrameCounter) return false;
                return true;
            };
            EXPECT_TRUE(Pump(all, caughtUp, 10000));
            for (size_t i = 0; i < n; ++i) {
                Player* loser = all[i]->player;
                ASSERT_GT(loser->GameTime, 0);
                ASSERT_GE(level(loser), 0);
                for (Player* copy : copies(all[i])) {
                    EXPECT_EQ(Player_Ending(*copy), PlayerEnding::GameOver)
                        << "player " << i << " seen in state " << copy->State << " at frame "
                        << copy->FrameCounter << " of " << loser->FrameCounter;
                    EXPECT_EQ(copy->GameTime, loser->GameTime) << "player " << i;
                    EXPECT_EQ(level(copy), level(loser)) << "player " << i;
                }
            }

            // Back at the menu and ready again, one after another: still their last games.
            if (game == 1) break;
            for (size_t i = 0; i + 1 < n; ++i) {
                Player* loser = all[i]->player;
                const int32_t time = loser->GameTime;
                const int64_t lastLevel = level(loser);
                loser->ops->Reset(loser);
                ASSERT_EQ(loser->ops->RequestStart(loser), 1);
                const auto ready = [&] {
                    for (Player* copy : copies(all[i]))
                        if (copy->ReadyFlag != 1) return false;
                    return true;
                };
                ASSERT_TRUE(Pump(all, ready));
                for (Player* copy : copies(all[i])) {
                    EXPECT_EQ(Player_Ending(*copy), PlayerEnding::GameOver) << "player " << i;
                    EXPECT_EQ(copy->GameTime, time);
                    EXPECT_EQ(level(copy), lastLevel);
                }
            }
        }
        EXPECT_EQ(ServerLinesStartingWith(u"Warning: "), 0u);
    }
}
