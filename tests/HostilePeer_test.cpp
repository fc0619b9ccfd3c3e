// Hostile peers against a real server on loopback while two honest clients play: random bytes,
// connection floods, oversized counts, spoofed ids, packets cut off, peers that never read and
// hang-ups at every stage of the protocol. The honest game must go on and stay in sync.
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
#include "Vantrel_Adv_ServerList.h"
#include "ZelvikNetTestKit.h"
#include "Zelvik_ClientInterface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using Client = NetClient;

// A peer speaking raw bytes; it reads (and forgets) what the server sends unless told not to.
struct Raw {
    uint32_t h = 0;
    explicit Raw(uint16_t port) { h = Platform_Socket_Connect("127.0.0.1", port, 2000); }
    ~Raw() { Close(); }
    void Close() {
        if (h) Platform_Socket_Close(h);
        h = 0;
    }
    bool Send(const Bytes& b) {
        return h && Platform_Socket_Send(h, b.data(), uint32_t(b.size())) == int32_t(b.size());
    }
    // What arrived so far.
    Bytes Read() {
        Bytes got;
        uint8_t buf[4096];
        while (h && Platform_Socket_Readable(h, 0) == 1) {
            const int32_t n = Platform_Socket_Receive(h, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
};

Bytes Hello(uint64_t version = kEngineVersion) {
    Bytes b(kSizeHello);
    NetCmd_BuildHello(b.data(), version);
    return b;
}
Bytes Join(const char16_t* name) {
    Bytes b(kSizeJoin);
    NetCmd_BuildJoin(b.data(), name);
    return b;
}
Bytes Ready(uint32_t id, uint32_t rs = 0) {
    Bytes b(kSizeReady);
    NetCmd_BuildReady(b.data(), id, rs);
    return b;
}
// An input packet of `frames` plain words from firstFrame on.
Bytes Input(uint32_t id, uint32_t firstFrame, uint32_t frames, uint32_t word = 0) {
    Bytes b(kSizeInputMax);
    const uint8_t preview[3] = {1, 2, 3};
    NetInput_Start(b.data(), id, firstFrame, 0, 1, preview, word);
    for (uint32_t i = 1; i < frames; ++i)
        if (NetInput_Append(b.data(), word + i % 3) < 0) break;
    b.resize(NetInput_Size(b.data()));
    return b;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct HostilePeer : ::testing::Test {
    Server* server = nullptr;
    uint16_t port = 0;
    std::unique_ptr<Client> anna, bo;

    static void SetUpTestSuite() { LoadRunFolderPlugins(); }

    void SetUp() override {
        server = CreateRuledServer(u"Hostile");
        ASSERT_NE(server, nullptr) << "no server, or a mode, rotation system or randomizer missing";
        port = Server_GetPort(server);
    }

    void TearDown() override {
        anna.reset();
        bo.reset();
        if (server) server->ops->Free(server);
    }

    std::vector<Client*> Honest() {
        std::vector<Client*> v;
        for (Client* c : {anna.get(), bo.get()})
            if (c) v.push_back(c);
        return v;
    }

    // Pumps the server and the honest clients (plus `each` every pass) until done() or the
    // time is up.
    bool Pump(const std::function<bool()>& done, int ms = 3000,
              const std::function<void()>& each = {}) {
        return PumpNet(server, Honest(), done, ms, each);
    }

    // Runs the server and the honest clients for about ms.
    void Serve(int ms, const std::function<void()>& each) {
        Pump([] { return false; }, ms, each);
    }

    // Both honest clients join and see each other.
    void JoinHonest() {
        anna = std::make_unique<Client>(u"Anna", port);
        bo = std::make_unique<Client>(u"Bo", port);
        ASSERT_TRUE(Pump([&] {
            return anna->host.connected && bo->host.connected && anna->host.joined.size() >= 1 &&
                   bo->host.joined.size() >= 1 && anna->Remote(bo->player->Id) &&
                   bo->Remote(anna->player->Id);
        }));
    }

    void StartHonest(const std::function<void()>& each = {}) {
        ASSERT_EQ(anna->player->ops->RequestStart(anna->player), 1);
        ASSERT_EQ(bo->player->ops->RequestStart(bo->player), 1);
        ASSERT_TRUE(Pump(
            [&] {
                return anna->player->State != State_Idle && bo->player->State != State_Idle &&
                       anna->player->ReadyFlag == 0 && bo->player->ReadyFlag == 0;
            },
            3000, each));
    }

    // Both honest clients play frames 0..frames-1 in step, `attack(frame)` runs every pass;
    // then every copy of both games must agree.
    void PlayInStep(uint32_t frames, const std::function<void(uint32_t)>& attack = {}) {
        Client& x = *anna;
        Client& y = *bo;
        for (Client* c : {&x, &y}) c->player->PlayerFlags &= ~uint32_t(Flag_Paused);
        // A paused player still runs the frames its clock owed; on a slow machine that would
        // run past the end, so the target stops there too.
        StepInStep(server, x, y, frames, true, attack);
        ASSERT_EQ(x.player->FrameCounter, frames);
        ASSERT_EQ(y.player->FrameCounter, frames);
        const NetCopies copies(server, x, y);
        ASSERT_TRUE(copies.Complete());
        ASSERT_TRUE(Pump([&] { return copies.AllAt(frames); }, 10000));
        const uint32_t sumA = NetCopies::Sum(copies.a), sumB = NetCopies::Sum(copies.b);
        EXPECT_EQ(NetCopies::Sum(copies.heldA), sumA);
        EXPECT_EQ(NetCopies::Sum(copies.remoteA), sumA);
        EXPECT_EQ(NetCopies::Sum(copies.heldB), sumB);
        EXPECT_EQ(NetCopies::Sum(copies.remoteB), sumB);
        // A lying peer may well be out of sync; the honest players never are.
        EXPECT_EQ(ServerLinesStartingWith(u"Warning: Anna"), 0u);
        EXPECT_EQ(ServerLinesStartingWith(u"Warning: Bo"), 0u);
        for (Client* c : {&x, &y}) {
            EXPECT_NE(c->player->Connection, 0u);
            for (const auto& line : c->host.log)
                EXPECT_EQ(line.find(u"out of sync"), std::u16string::npos) << "honest copy";
        }
    }
};

} // namespace

TEST_F(HostilePeer, RandomBytesAtEveryStageLeaveTheGameInSync) {
    std::mt19937 rng(20261209);
    std::vector<std::unique_ptr<Raw>> peers;
    // Garbage as a first word, after a hello and after a hello and a join.
    auto garbage = [&](size_t n) {
        Bytes b(n);
        for (uint8_t& v : b) v = uint8_t(rng());
        return b;
    };
    auto spray = [&] {
        for (int stage = 0; stage < 3; ++stage) {
            auto p = std::make_unique<Raw>(port);
            ASSERT_NE(p->h, 0u);
            if (stage >= 1) p->Send(Hello());
            if (stage >= 2) p->Send(Join(u"Noise"));
            for (int k = 0; k < 8; ++k) p->Send(garbage(1 + rng() % 1500));
            peers.push_back(std::move(p));
        }
    };
    spray();
    JoinHonest();
    Serve(200, [&] {
        for (auto& p : peers) p->Read();
    });
    // Garbage that happened to make a peer a joined player would hold the start: hang up.
    peers.clear();
    ASSERT_TRUE(Pump([&] { return server->ops->CountClients(server) == 2; }));
    StartHonest();
    PlayInStep(181, [&](uint32_t frame) {
        if (frame % 30 == 5 && peers.size() < 12) spray();
        for (auto& p : peers) p->Read();
    });
    EXPECT_EQ(server->ops->CountPlayers(server), 2);
}

TEST_F(HostilePeer, ConnectionFloodIsServedAndForgotten) {
    JoinHonest();
    StartHonest();
    std::vector<std::unique_ptr<Raw>> flood;
    PlayInStep(121, [&](uint32_t frame) {
        // Up to 160 connections at once: some idle, some half a hello, some asking for info.
        if (frame < 60 && flood.size() < 160) {
            for (int i = 0; i < 8; ++i) {
                auto p = std::make_unique<Raw>(port);
                if (!p->h) break;
                if (i % 3 == 1) p->Send({NetCmd_Hello, 0, 0});
                if (i % 3 == 2) p->Send({NetCmd_GetInfo});
                flood.push_back(std::move(p));
            }
        }
        if (frame == 90) flood.clear();
    });
    EXPECT_GE(flood.size(), 0u);
    flood.clear();
    ASSERT_TRUE(Pump([&] { return server->ops->CountClients(server) == 2; }));
    EXPECT_EQ(server->ops->CountPlayers(server), 2);
}

TEST_F(HostilePeer, SpoofedIdsAndOversizedCountsNeverReachHonestPlayers) {
    JoinHonest();
    // A peer joins properly, then speaks for Anna.
    Raw mallory(port);
    ASSERT_TRUE(mallory.Send(Concat({Hello(), Join(u"Mallory")})));
    ASSERT_TRUE(Pump([&] { return server->ops->CountPlayers(server) == 3; }, 3000,
                     [&] { mallory.Read(); }));
    const uint32_t a = anna->player->Id;
    Player* held = nullptr;
    for (auto* e = server->Clients->First; e; e = e->Next) {
        auto* c = static_cast<ServerClient*>(DoublyLinkedList_Data(e));
        if (c->HeldPlayer && c->HeldPlayer->Id != a && c->HeldPlayer->Id != bo->player->Id)
            held = c->HeldPlayer;
    }
    ASSERT_NE(held, nullptr);
    const uint32_t m = held->Id;
    // Anna's ready from Mallory is refused; a ready with a huge rotation-system index is
    // taken without a rotation system.
    ASSERT_TRUE(mallory.Send(Ready(a)));
    Serve(100, [&] { mallory.Read(); });
    EXPECT_EQ(HeldPlayer(server, a)->ReadyFlag, 0u);
    EXPECT_GE(ServerLinesStartingWith(u"Wrong PlayerID"), 1u);
    ASSERT_TRUE(mallory.Send(Ready(m, 0xFFFFFFF0u)));
    StartHonest([&] { mallory.Read(); });

    uint32_t sent = 0;
    PlayInStep(151, [&](uint32_t frame) {
        mallory.Read();
        if (frame % 10 != 3 || frame / 10 == sent) return;
        sent = frame / 10;
        // Anna's frames from Mallory, then Mallory's own with a full 256-entry run.
        mallory.Send(Input(a, frame, 40, Input_HardDrop));
        mallory.Send(Input(m, 0, 256, 0));
    });
    // The impossible index leaves Mallory without a rotation system, said once; its second
    // packet restarts at frame 0, a gap no real client makes: it is put off the server.
    EXPECT_EQ(ServerLinesStartingWith(u"Warning: RotationSystem is not set for"), 1u);
    EXPECT_EQ(server->ops->CountPlayers(server), 2);
}

TEST_F(HostilePeer, PacketsCutOffAndPeersThatNeverReadDoNotStallTheServer) {
    JoinHonest();
    // Half a join, then silence; a whole join and ready that never reads what it is sent.
    Raw half(port), deaf(port);
    Bytes join = Join(u"Half");
    join.resize(200);
    ASSERT_TRUE(half.Send(Concat({Hello(), join})));
    ASSERT_TRUE(deaf.Send(Concat({Hello(), Join(u"Deaf")})));
    ASSERT_TRUE(Pump([&] { return server->ops->CountPlayers(server) == 3; }));
    uint32_t deafId = 0;
    for (auto* e = server->Clients->First; e; e = e->Next) {
        auto* c = static_cast<ServerClient*>(DoublyLinkedList_Data(e));
        if (c->HeldPlayer && c->HeldPlayer->Id != anna->player->Id &&
            c->HeldPlayer->Id != bo->player->Id)
            deafId = c->HeldPlayer->Id;
    }
    ASSERT_TRUE(deaf.Send(Ready(deafId)));
    StartHonest();
    // The deaf peer's unread relays pile up until the server gives it up.
    PlayInStep(241);
    EXPECT_LE(server->ops->CountPlayers(server), 3);
    // The rest of the half join arrives while the game runs: refused, and the peer goes.
    Bytes tail(kSizeJoin - 200, 0x41);
    half.Send(tail);
    half.Close();
    deaf.Close();
    ASSERT_TRUE(Pump([&] { return server->ops->CountClients(server) == 2; }));
}

TEST_F(HostilePeer, HangUpsAtEveryProtocolStage) {
    JoinHonest();
    // Each stage a peer reaches before it hangs up: connected, hello, join, ready.
    for (int stage = 0; stage < 4; ++stage) {
        Raw p(port);
        ASSERT_NE(p.h, 0u);
        if (stage >= 1) p.Send(Hello());
        if (stage >= 2) p.Send(Join(u"Brief"));
        if (stage >= 2) {
            ASSERT_TRUE(Pump([&] { return server->ops->CountPlayers(server) == 3; }, 3000,
                             [&] { p.Read(); }));
        }
        if (stage >= 3) {
            uint32_t id = 0;
            for (auto* e = server->Clients->First; e; e = e->Next) {
                auto* c = static_cast<ServerClient*>(DoublyLinkedList_Data(e));
                if (c->HeldPlayer && c->HeldPlayer->Id != anna->player->Id &&
                    c->HeldPlayer->Id != bo->player->Id)
                    id = c->HeldPlayer->Id;
            }
            p.Send(Ready(id));
        }
        p.Close();
        ASSERT_TRUE(Pump([&] {
            return server->ops->CountClients(server) == 2 && server->ops->CountPlayers(server) == 2;
        })) << "stage "
            << stage;
    }
    // Honest clients saw every brief peer come and go.
    ASSERT_TRUE(Pump([&] { return anna->host.left.size() == anna->host.joined.size() - 1; }));
    StartHonest();
    // A peer that joins and hangs up mid-packet during the game (refused, then gone).
    PlayInStep(121, [&](uint32_t frame) {
        if (frame != 40) return;
        Raw late(port);
        Bytes j = Join(u"Late");
        j.resize(100);
        late.Send(Concat({Hello(), j}));
    });
    ASSERT_TRUE(Pump([&] { return server->ops->CountClients(server) == 2; }));
}

TEST_F(HostilePeer, HonestClientSurvivesAServerThatSpeaksGarbage) {
    // A fake server: garbage, then a join reply that claims more records than exist.
    const uint32_t listener = Platform_Socket_Listen(0);
    ASSERT_NE(listener, 0u);
    Client c(u"Victim", Platform_Socket_LocalPort(listener));
    ASSERT_EQ(Platform_Socket_Readable(listener, 2000), 1);
    const uint32_t peer = Platform_Socket_Accept(listener, nullptr);
    ASSERT_NE(peer, 0u);
    std::mt19937 rng(7);
    Bytes junk(4000);
    for (uint8_t& v : junk) v = uint8_t(rng());
    Bytes reply(kSizeJoinReplyFixed, 0);
    reply[0] = NetCmd_JoinReply;
    Net_PutU32(reply.data() + 5, 0x7FFFFFFF);
    Net_PutU32(reply.data() + 9, 0x7FFFFFFF);
    ASSERT_EQ(Platform_Socket_Send(peer, junk.data(), uint32_t(junk.size())), int32_t(junk.size()));
    ASSERT_EQ(Platform_Socket_Send(peer, reply.data(), uint32_t(reply.size())),
              int32_t(reply.size()));
    const uint32_t start = GetMilliseconds();
    while (c.player->Connection && uint32_t(GetMilliseconds() - start) < 3000) {
        c.player->ops->Update(c.player, 0, -1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The impossible reply ends the connection instead of an allocation of its counts.
    EXPECT_EQ(c.player->Connection, 0u);
    Platform_Socket_Close(peer);
    Platform_Socket_Close(listener);
}

TEST(HostileMaster, EndlessGarbageIsCutOffAndLeavesTheLinesAlone) {
    std::atomic<bool> stop{false};
    testkit::RawServer master([&](int fd, int) {
        std::mt19937 rng(11);
        std::string chunk(8192, '\0');
        // No line end ever; the download must stop at its byte bound.
        while (!stop) {
            for (char& ch : chunk) ch = char('a' + rng() % 26);
            if (!testkit::SendAll(fd, chunk)) break;
        }
    });
    ASSERT_TRUE(master.Ok());
    std::vector<HttpLine> lines = {{kLineBody, u"kept"}};
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", master.Port(), "/list", &lines), 0);
    stop = true;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, u"kept");
}
