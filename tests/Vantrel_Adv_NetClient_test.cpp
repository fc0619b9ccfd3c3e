// The network client inside a real player, against a hand-driven server on loopback.
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
#include "Zelvik_ClientInterface.h"
#include "Zelvik_RotationSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Host : TextHost {
    int connected = 0;
};
Host* H(ClientInterface* ci) {
    return static_cast<Host*>(TextHost::Of(ci));
}

void OnConnected(Player* p) {
    H(p->Game->clientInterface)->connected++;
}

// A local player connected to a listener this test drives by hand.
struct Session : ::testing::Test {
    Host host;
    Game* game = nullptr;
    Player* p = nullptr;
    uint32_t listener = 0, peer = 0;
    Bytes fromClient;

    static void SetUpTestSuite() { LoadRunFolderPlugins(); }
    void SetUp() override {
        game = Game_Create(&host.ci);
        p = Game_AddPlayer(game, 0);
        ASSERT_NE(p, nullptr);
        p->ops->SetName(p, u"Local");
        listener = Platform_Socket_Listen(0);
        ASSERT_NE(listener, 0u);
        const uint16_t port = Platform_Socket_LocalPort(listener);
        ASSERT_NE(p->ops->Connect(p, u"127.0.0.1", port, OnConnected, nullptr, nullptr), 0u);
        ASSERT_EQ(Platform_Socket_Readable(listener, 2000), 1);
        peer = Platform_Socket_Accept(listener, nullptr);
        ASSERT_NE(peer, 0u);
    }
    void TearDown() override {
        FreeGame(game, p);
        Platform_Socket_Close(peer);
        Platform_Socket_Close(listener);
    }
    void Send(const Bytes& b) {
        ASSERT_EQ(Platform_Socket_Send(peer, b.data(), uint32_t(b.size())), int32_t(b.size()));
    }
    // Lets the player pump for about ms (no frames while it is idle).
    void Pump(int ms = 30) {
        const uint32_t start = GetMilliseconds();
        while (uint32_t(GetMilliseconds() - start) < uint32_t(ms)) {
            p->ops->Update(p, 0, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // What the client sent, waiting up to ms for at least want bytes.
    const Bytes& Receive(size_t want, int ms = 1000) {
        uint8_t chunk[4096];
        const uint32_t start = GetMilliseconds();
        while (fromClient.size() < want && uint32_t(GetMilliseconds() - start) < uint32_t(ms)) {
            if (!Platform_Socket_Readable(peer, 5)) continue;
            const int32_t n = Platform_Socket_Receive(peer, chunk, sizeof chunk);
            if (n <= 0) break;
            fromClient.insert(fromClient.end(), chunk, chunk + n);
        }
        return fromClient;
    }
    size_t Logged(const std::u16string& line) const {
        size_t n = 0;
        for (const auto& l : host.log) n += l == line;
        return n;
    }
};

Bytes JoinReply(uint32_t id, const ZelvikID& rnd, std::vector<ZelvikID> modes,
                std::vector<ZelvikID> systems) {
    Bytes b(NetCmd_JoinReplySize(uint32_t(modes.size()), uint32_t(systems.size())));
    NetCmd_BuildJoinReply(b.data(), id, rnd, modes.data(), uint32_t(modes.size()), systems.data(),
                          uint32_t(systems.size()));
    return b;
}

Bytes Joined(uint32_t id, const char16_t* name, uint32_t seed) {
    Bytes b(kSizePlayerJoined);
    NetCmd_BuildPlayerJoined(b.data(), id, name, seed);
    return b;
}

std::u16string Dec(uint32_t v) {
    std::u16string s;
    for (char c : std::to_string(v)) s += static_cast<char16_t>(c);
    return s;
}

} // namespace

TEST_F(Session, ConnectSendsHelloThenJoinWithTheName) {
    const Bytes& got = Receive(kSizeHello + kSizeJoin);
    ASSERT_EQ(got.size(), kSizeHello + kSizeJoin);
    Bytes expect(kSizeHello + kSizeJoin);
    NetCmd_BuildHello(expect.data(), kEngineVersion);
    NetCmd_BuildJoin(expect.data() + kSizeHello, u"Local");
    EXPECT_EQ(got, expect);
    EXPECT_EQ(p->PacketSent, 1u);
}

TEST_F(Session, ImpossibleJoinReplyClosesTheConnection) {
    Bytes reply = JoinReply(9, ZelvikID{}, {}, {});
    Net_PutU32(reply.data() + 5, 100000); // 100000 modes, then nothing
    Send(reply);
    Pump();
    EXPECT_EQ(p->Connection, 0u);
    EXPECT_EQ(p->ops->GetNetworkError(p), 1);
    EXPECT_EQ(p->OfferedModes, nullptr);
    EXPECT_EQ(host.connected, 0);
    EXPECT_NE(p->Id, 9u);
    Pump(); // nothing more happens on a closed player
}

TEST_F(Session, JoinReplyInPiecesIsAppliedOnceAndWithoutRotationSystemsNoReadyIsSent) {
    const uint32_t oldId = p->Id;
    const Bytes reply = JoinReply(77, ZelvikID{}, {}, {});
    Send(Bytes(reply.begin(), reply.begin() + 50));
    Pump();
    EXPECT_EQ(host.connected, 0);
    Send(Bytes(reply.begin() + 50, reply.begin() + 160));
    Pump();
    EXPECT_EQ(host.connected, 0);
    Send(Bytes(reply.begin() + 160, reply.end()));
    Pump();
    EXPECT_EQ(host.connected, 1);
    EXPECT_EQ(p->Id, 77u);
    EXPECT_EQ(Logged(u"Connected New ID:77 (Old: " + Dec(oldId) + u")"), 1u);
    EXPECT_EQ(Logged(u" not found or invalid"), 1u); // no rotation system offered at all
    size_t missing = 0;
    const std::u16string suffix = u" not found or invalid";
    for (const auto& l : host.log)
        missing += l.size() >= suffix.size() &&
                   l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0;
    EXPECT_EQ(missing, 2u); // and the empty randomizer identity

    Receive(kSizeHello + kSizeJoin);
    fromClient.clear();
    EXPECT_EQ(p->ops->RequestStart(p), 0); // nothing it could name
    EXPECT_EQ(p->ReadyFlag, 0u);
    Receive(1, 100);
    EXPECT_TRUE(fromClient.empty());
}

TEST_F(Session, RemoteRosterTrustsNoIds) {
    Send(JoinReply(10, ZelvikID{}, {}, {}));
    Pump();
    ASSERT_EQ(p->Id, 10u);
    Send(Joined(10, u"Me again", 1)); // ourselves
    Send(Joined(11, u"Other", 1));
    Send(Joined(11, u"Other twin", 1));
    Pump();
    ASSERT_NE(p->RemotePlayers, nullptr);
    EXPECT_EQ(DoublyLinkedList_CountList(p->RemotePlayers), 1);
    Player* other = Net_FindPlayer(p, 11);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(std::u16string(other->NameBuffer), u"Other");
    EXPECT_EQ(other->IsRemote, 1u);
    EXPECT_EQ(other->Connection, p->Connection);
    EXPECT_EQ(other->Game, p->Game);
    EXPECT_EQ(other->Seed, 1u);

    // Frames and readiness in our own name are not applied to us.
    p->ReadyFlag = 1;
    Bytes ready(kSizeReady);
    NetCmd_BuildReady(ready.data(), 10, 0);
    Send(ready);
    Bytes input(kSizeInputFixed + 2);
    const uint8_t none[3] = {0, 0, 0};
    NetInput_Start(input.data(), 10, 0, 0, 0, none, 5);
    Send(input);
    NetInput_Start(input.data(), 11, 0, 0, 0, none, 5);
    Send(input);
    Pump();
    EXPECT_EQ(p->ReadyFlag, 1u);
    EXPECT_EQ(DoublyLinkedList_CountList(p->InputQueue), 0);
    EXPECT_EQ(DoublyLinkedList_CountList(other->InputQueue), 1);

    Bytes left(kSizePlayerLeft);
    NetCmd_BuildPlayerLeft(left.data(), 99);
    Send(left);
    NetCmd_BuildPlayerLeft(left.data(), 11);
    Send(left);
    Pump();
    EXPECT_EQ(Logged(u"Player 99 disconnected"), 1u);
    EXPECT_EQ(Logged(u"Player 11 disconnected"), 1u);
    EXPECT_EQ(DoublyLinkedList_CountList(p->RemotePlayers), 0);
    EXPECT_NE(p->Connection, 0u); // a departure never closes our own connection
}

TEST_F(Session, MessageTextIsCutAt256UnitsAndUnknownBytesAreSkipped) {
    Bytes msg(kSizeMessage);
    NetCmd_BuildMessage(msg.data(), std::u16string(300, u'm').c_str());
    Bytes stream{0, 16, 26, 255};
    stream.insert(stream.end(), msg.begin(), msg.end());
    Send(stream);
    Pump();
    ASSERT_EQ(host.chat.size(), 1u);
    EXPECT_EQ(host.chat[0], std::u16string(256, u'm'));
}

TEST_F(Session, ServerClosingLeavesThePlayerAsItWas) {
    Send(JoinReply(12, ZelvikID{}, {}, {}));
    Pump();
    Platform_Socket_Close(peer);
    peer = 0;
    Pump();
    EXPECT_EQ(p->Connection, 0u);
    EXPECT_EQ(p->Id, 12u);
}

TEST_F(Session, InputPacketsCoverFrameZeroThenPairsOfFrames) {
    const ZelvikID* rs = Plugin_GetInfo(PluginKind_RotationSystem, 0);
    const ZelvikID* rnd = Plugin_GetInfo(PluginKind_Randomizer, 0);
    const ZelvikID* mode = Plugin_FindByName(PluginKind_Mode, u"PEXA Master");
    ASSERT_TRUE(rs && rnd && mode);
    Send(JoinReply(20, *rnd, {*mode}, {*rs}));
    Pump();
    ASSERT_EQ(host.connected, 1);
    Receive(kSizeHello + kSizeJoin);
    fromClient.clear();

    // Ready is a request: the start comes from the server.
    EXPECT_EQ(p->ops->RequestStart(p), 1);
    EXPECT_EQ(p->State, State_Idle);
    Bytes ready(kSizeReady);
    NetCmd_BuildReady(ready.data(), 20, 0);
    EXPECT_EQ(Receive(kSizeReady), ready);
    fromClient.clear();
    Bytes start(kSizeStartGame);
    NetCmd_BuildStartGame(start.data(), 20, 4242);
    Send(start);
    Pump(5);
    ASSERT_NE(p->State, State_Idle);
    EXPECT_EQ(p->Seed, 4242u);

    const uint32_t inputs[5] = {0x80, 0x80, 0x01, 0x01, 0x01};
    for (uint32_t frame = 0; frame < 5;) {
        if (p->ops->Update(p, inputs[frame], 1) == 1)
            ++frame;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Frame 0 alone (81 bytes), then frames 1-2 and 3-4.
    const Bytes& got = Receive(81 + 83 + 83);
    ASSERT_EQ(got.size(), 81u + 83u + 83u);
    EXPECT_EQ(got[0], NetCmd_Input);
    EXPECT_EQ(Net_GetU32(got.data() + 5), 0u);
    EXPECT_EQ(got[78], 0);
    EXPECT_EQ(Net_GetU16(got.data() + 79), 0x8080); // Hold as a plain word
    EXPECT_EQ(Net_GetU32(got.data() + 81 + 5), 1u);
    EXPECT_EQ(Net_GetU16(got.data() + 81 + 79), 0x8080);
    EXPECT_EQ(Net_GetU16(got.data() + 81 + 81), 0x0001);
    EXPECT_EQ(Net_GetU32(got.data() + 164 + 5), 3u);
    EXPECT_EQ(Net_GetU16(got.data() + 164 + 79), 0x0001);
    EXPECT_EQ(Net_GetU16(got.data() + 164 + 81), 0x0080); // repeat
}

TEST_F(Session, ReconnectClosesTheFirstConnection) {
    const uint32_t other = Platform_Socket_Listen(0);
    ASSERT_NE(other, 0u);
    ASSERT_NE(p->ops->Connect(p, u"127.0.0.1", Platform_Socket_LocalPort(other), OnConnected,
                              nullptr, nullptr),
              0u);
    EXPECT_NE(p->Connection, 0u);
    EXPECT_EQ(p->PacketSent, 1u);
    // The first server sees Hello and Join, then the end of the stream.
    Receive(kSizeHello + kSizeJoin);
    uint8_t c;
    ASSERT_EQ(Platform_Socket_Readable(peer, 2000), 1);
    EXPECT_EQ(Platform_Socket_Receive(peer, &c, 1), -1);
    ASSERT_EQ(Platform_Socket_Readable(other, 2000), 1);
    const uint32_t second = Platform_Socket_Accept(other, nullptr);
    EXPECT_NE(second, 0u);
    Platform_Socket_Close(second);
    Platform_Socket_Close(other);
}

TEST_F(Session, RemoteInputTakesPiecesFromSyncRecordsAndDropsStaleOnes) {
    const ZelvikID* rs = Plugin_GetInfo(PluginKind_RotationSystem, 0);
    const ZelvikID* rnd = Plugin_GetInfo(PluginKind_Randomizer, 0);
    ASSERT_TRUE(rs && rnd);
    Send(JoinReply(30, *rnd, {}, {*rs}));
    Send(Joined(31, u"Other", 5));
    Pump();
    Player* other = Net_FindPlayer(p, 31);
    ASSERT_NE(other, nullptr);
    ASSERT_NE(other->RotationSystem, nullptr); // rules copied from the local player

    uint32_t word = 99;
    EXPECT_EQ(Net_TakeRemoteInput(other, 0, &word), 0); // nothing arrived yet
    for (uint32_t w : {4u, 5u}) ASSERT_TRUE(Net_QueueWord(&other->InputQueue, w));
    auto* stale = static_cast<SyncRecord*>(DoublyLinkedList_AddElement(other->SyncQueue));
    *stale = SyncRecord{};
    stale->frame = 0;
    stale->activeKind = 2;
    auto* now = static_cast<SyncRecord*>(DoublyLinkedList_AddElement(other->SyncQueue));
    *now = SyncRecord{};
    now->frame = 3;
    now->activeKind = 7;
    now->previewKinds[0] = 1;
    now->previewKinds[1] = 9;                         // names no piece: an empty slot
    now->previewKinds[2] = static_cast<uint32_t>(-3); // likewise
    auto* later = static_cast<SyncRecord*>(DoublyLinkedList_AddElement(other->SyncQueue));
    *later = SyncRecord{};
    later->frame = 8;

    ASSERT_EQ(Net_TakeRemoteInput(other, 3, &word), 1);
    EXPECT_EQ(word, 4u);
    ASSERT_NE(other->Piece, nullptr);
    EXPECT_EQ(other->Piece->kind, 7u);
    ASSERT_NE(other->NextQueue[0], nullptr);
    EXPECT_EQ(other->NextQueue[0]->kind, 1u);
    EXPECT_EQ(other->NextQueue[1], nullptr);
    EXPECT_EQ(other->NextQueue[2], nullptr);
    EXPECT_EQ(DoublyLinkedList_CountList(other->SyncQueue), 1); // only the later record is left

    ASSERT_EQ(Net_TakeRemoteInput(other, 4, &word), 1);
    EXPECT_EQ(word, 5u);
    EXPECT_EQ(other->Piece->kind, 7u); // no record for frame 4: the piece stays
    EXPECT_EQ(Net_TakeRemoteInput(other, 5, &word), 0);
    EXPECT_EQ(DoublyLinkedList_CountList(other->SyncQueue), 1);
}
