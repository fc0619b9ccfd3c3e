#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Vantrel_Adv_Server.h"
#include "Zelvik_Player.h"

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<std::u16string> lines;
int32_t Collect(const char16_t* text) {
    lines.emplace_back(text);
    return 0;
}

size_t CountLines(const std::u16string& line) {
    size_t n = 0;
    for (const auto& l : lines) n += l == line;
    return n;
}

struct ServerFixture : ::testing::Test {
    Server* s = nullptr;
    uint16_t port = 0;
    void SetUp() override {
        HighResTimer_ChooseClocks();
        lines.clear();
        s = Server_Create(u"Test server", 0);
        ASSERT_NE(s, nullptr);
        port = Server_GetPort(s);
        s->ops->SetMessageCallback(s, Collect);
    }
    void TearDown() override {
        if (s) s->ops->Free(s);
    }
    // Runs the server for about ms milliseconds.
    void Run(int ms) {
        const uint32_t start = GetMilliseconds();
        while (uint32_t(GetMilliseconds() - start) < uint32_t(ms)) {
            s->ops->Process(s);
            Platform_Socket_Readable(s->Listener, 1);
        }
    }
};

// A hand-driven client speaking raw bytes.
struct RawClient {
    uint32_t h = 0;
    Bytes in;
    explicit RawClient(uint16_t port) { h = Platform_Socket_Connect("127.0.0.1", port, 2000); }
    ~RawClient() { Close(); }
    void Close() {
        Platform_Socket_Close(h);
        h = 0;
    }
    void Send(const Bytes& b) {
        ASSERT_EQ(Platform_Socket_Send(h, b.data(), static_cast<uint32_t>(b.size())),
                  int32_t(b.size()));
    }
    void Hello(uint64_t version = kEngineVersion) {
        Bytes b(kSizeHello);
        NetCmd_BuildHello(b.data(), version);
        Send(b);
    }
    // Serves until at least want bytes arrived (or the time is up); returns what arrived.
    const Bytes& Await(Server* s, size_t want, int ms = 2000) {
        const uint32_t start = GetMilliseconds();
        uint8_t chunk[4096];
        while (in.size() < want && uint32_t(GetMilliseconds() - start) < uint32_t(ms)) {
            s->ops->Process(s);
            if (!Platform_Socket_Readable(h, 1)) continue;
            const int32_t n = Platform_Socket_Receive(h, chunk, sizeof chunk);
            if (n <= 0) break;
            in.insert(in.end(), chunk, chunk + n);
        }
        return in;
    }
};

Bytes Message(const char16_t* text) {
    Bytes b(kSizeMessage);
    NetCmd_BuildMessage(b.data(), text);
    return b;
}

Bytes Info(const char16_t* name, uint32_t players) {
    Bytes b(kSizeInfo);
    NetCmd_BuildInfo(b.data(), name, players, -1);
    return b;
}

Bytes GetInfo() {
    return Bytes{NetCmd_GetInfo};
}

} // namespace

TEST(ServerCreate, BusyPortFailsAndOtherPortsWork) {
    Server* a = Server_Create(u"a", 0);
    ASSERT_NE(a, nullptr);
    const uint16_t port = Server_GetPort(a);
    EXPECT_NE(port, 0);
    EXPECT_EQ(Server_Create(u"b", port), nullptr);
    EXPECT_EQ(Server_Create(u"c", 70000), nullptr);
    EXPECT_EQ(a->GameRunning, 0u);
    a->ops->Free(a);
}

TEST(ServerCreate, LongNameIsCutTo256Units) {
    std::u16string name(300, u'n');
    name[255] = u'e';
    Server* a = Server_Create(name.c_str(), 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::u16string(a->ServerName), name.substr(0, 256));
    a->ops->Free(a);
}

TEST_F(ServerFixture, EmptyServerDrawsAFreshSeedEveryPass) {
    std::vector<uint32_t> seeds;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(s->ops->Process(s), 1);
        EXPECT_EQ(s->GameRunning, 0u);
        seeds.push_back(s->SharedSeed);
    }
    int changes = 0;
    for (size_t i = 1; i < seeds.size(); ++i) changes += seeds[i] != seeds[i - 1];
    EXPECT_GE(changes, 5); // 16 random bits each half: repeats are rare
    EXPECT_EQ(s->ops->CountClients(s), 0);
    EXPECT_EQ(s->ops->CountPlayers(s), 0);
}

TEST_F(ServerFixture, GetInfoAnswersAnyClient) {
    ASSERT_EQ(Server_SetSummaryPeriod(s, 300), 1);
    RawClient c(port);
    ASSERT_NE(c.h, 0u);
    c.Send(GetInfo());
    EXPECT_EQ(c.Await(s, kSizeInfo), Info(u"Test server", 0));
    EXPECT_EQ(s->ops->CountClients(s), 1);
    c.Send(Bytes{NetCmd_GetInfo, NetCmd_GetInfo});
    c.Await(s, 3 * kSizeInfo);
    // Browsers ask every few seconds: the log sums the queries up instead of a line each.
    Run(400);
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                             [](const auto& l) { return l.find(u"GetInfo") != l.npos; }));
    EXPECT_EQ(lines, std::vector<std::u16string>{u"Last 300 ms: 3 info queries answered"});
}

TEST_F(ServerFixture, VersionMismatchIsAnsweredWithItsMessage) {
    RawClient c(port);
    c.Hello(0x0001000200000003ull);
    EXPECT_EQ(c.Await(s, kSizeMessage),
              Message(u"Your engine version is different from the servers. (Client: 0.1.2.3 - "
                      u"Server: 0.2.1.0)"));
    // Not admitted: a Join after it is ignored, and the connection stays open.
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), u"Late");
    c.Send(join);
    c.in.clear();
    c.Send(GetInfo());
    EXPECT_EQ(c.Await(s, kSizeInfo), Info(u"Test server", 0));
    EXPECT_EQ(s->ops->CountPlayers(s), 0);
    EXPECT_EQ(CountLines(u"Join refused for Late (127.0.0.1): its engine version is 0.1.2.3, the "
                         u"server's is 0.2.1.0"),
              1u);
}

TEST_F(ServerFixture, JoinBeforeHelloIsIgnored) {
    RawClient c(port);
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), u"Eager");
    c.Send(join);
    c.Send(GetInfo());
    // The only answer is the info: no reply, no message.
    EXPECT_EQ(c.Await(s, kSizeInfo + 1, 300), Info(u"Test server", 0));
    EXPECT_EQ(s->ops->CountPlayers(s), 0);
    EXPECT_EQ(CountLines(u"Join refused for Eager (127.0.0.1): no Hello came before the Join"), 1u);
}

TEST_F(ServerFixture, CommandInPiecesIsHandledOnce) {
    RawClient c(port);
    Bytes hello(kSizeHello);
    NetCmd_BuildHello(hello.data(), 5);
    c.Send(Bytes(hello.begin(), hello.begin() + 3));
    Run(30);
    c.Send(Bytes(hello.begin() + 3, hello.begin() + 6));
    Run(30);
    EXPECT_TRUE(c.in.empty());
    c.Send(Bytes(hello.begin() + 6, hello.end()));
    c.Await(s, kSizeMessage);
    EXPECT_EQ(c.in.size(), kSizeMessage); // one mismatch message, not three
    EXPECT_EQ(s->ops->CountClients(s), 1);
}

TEST_F(ServerFixture, HostilePeersNeverStallTheHonestOnes) {
    RawClient honest(port);
    RawClient garbage(port);
    RawClient half(port);
    RawClient quitter(port);
    Run(30);
    ASSERT_EQ(s->ops->CountClients(s), 4);

    Bytes noise(5000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 131 + 7);
    for (uint8_t& b : noise)
        if (b == NetCmd_GetInfo) b = 0; // keep replies out of the count below
    garbage.Send(noise);
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), u"Staller");
    half.Send(Bytes(join.begin(), join.begin() + 200)); // and then nothing more
    Bytes ready(kSizeReady);
    NetCmd_BuildReady(ready.data(), 1, 0);
    quitter.Send(Bytes(ready.begin(), ready.begin() + 4));
    Run(30);
    quitter.Close(); // gone in the middle of a packet

    for (int round = 0; round < 3; ++round) {
        honest.in.clear();
        honest.Send(GetInfo());
        EXPECT_EQ(honest.Await(s, kSizeInfo), Info(u"Test server", 0)) << round;
    }
    Run(30);
    // The noise holds repeated handshakes and strays: its sender is closed, unanswered.
    EXPECT_EQ(s->ops->CountClients(s), 2);
    EXPECT_EQ(garbage.in.size(), 0u);
}

TEST_F(ServerFixture, WaitReturnsWhenAClientNeedsTheServer) {
    EXPECT_EQ(Server_Wait(s, 0), 0);
    EXPECT_EQ(Server_Wait(s, 5), 0); // nothing happens: times out
    RawClient a(port);
    EXPECT_EQ(Server_Wait(s, 2000), 1); // the pending connection
    s->ops->Process(s);
    ASSERT_EQ(s->ops->CountClients(s), 1);
    EXPECT_EQ(Server_Wait(s, 5), 0);
    a.Send(GetInfo());
    EXPECT_EQ(Server_Wait(s, 2000), 1);
    s->ops->Process(s);
    EXPECT_EQ(a.Await(s, kSizeInfo), Info(u"Test server", 0));
    a.Close();
    EXPECT_EQ(Server_Wait(s, 2000), 1); // the hang-up
    s->ops->Process(s);
    EXPECT_EQ(s->ops->CountClients(s), 0);

    EXPECT_EQ(Server_SetPassGap(s, -1), 0);
    EXPECT_EQ(Server_SetPassGap(s, 100001), 0);
    EXPECT_EQ(Server_SetPassGap(s, 0), 1);
}

TEST_F(ServerFixture, RepliesPilingUpForASlowReaderAllArriveInOrder) {
    RawClient slow(port), other(port);
    Run(30);
    ASSERT_EQ(s->ops->CountClients(s), 2);
    // Clients are kept in connect order: the first is the slow one.
    auto* c = static_cast<ServerClient*>(DoublyLinkedList_Data(s->Clients->First));
    // Asks without reading until the server holds replies the kernel would not take.
    const Bytes batch(64, NetCmd_GetInfo);
    size_t asked = 0;
    for (int i = 0; i < 2000 && Platform_Socket_Backlog(c->ClientConnection) == 0; ++i) {
        slow.Send(batch);
        asked += batch.size();
        for (int k = 0; k < 4; ++k) s->ops->Process(s);
    }
    ASSERT_GT(Platform_Socket_Backlog(c->ClientConnection), 0u);
    // The others are still served meanwhile.
    other.Send(GetInfo());
    EXPECT_EQ(other.Await(s, kSizeInfo), Info(u"Test server", 0));
    // The slow reader catches up: every reply, whole and in order, and it stays connected.
    const Bytes info = Info(u"Test server", 0);
    slow.Await(s, asked * kSizeInfo, 20000);
    ASSERT_EQ(slow.in.size(), asked * kSizeInfo);
    for (size_t i = 0; i < asked; ++i)
        ASSERT_TRUE(std::equal(info.begin(), info.end(), slow.in.begin() + long(i * kSizeInfo)))
            << i;
    EXPECT_EQ(Platform_Socket_Backlog(c->ClientConnection), 0u);
    EXPECT_EQ(s->ops->CountClients(s), 2);
}

TEST_F(ServerFixture, ShutdownGreetsEveryClientBeforeClosing) {
    RawClient a(port), b(port), c(port);
    Run(30);
    ASSERT_EQ(s->ops->CountClients(s), 3);
    s->ops->Free(s);
    s = nullptr;
    for (RawClient* x : {&a, &b, &c}) {
        uint8_t chunk[1024];
        while (Platform_Socket_Readable(x->h, 1000)) {
            const int32_t n = Platform_Socket_Receive(x->h, chunk, sizeof chunk);
            if (n <= 0) break;
            x->in.insert(x->in.end(), chunk, chunk + n);
        }
        EXPECT_EQ(x->in, Message(u"Server is shutting down"));
    }
}

TEST_F(ServerFixture, UnknownRuleNamesChangeNothing) {
    EXPECT_EQ(s->ops->AddModeByName(s, u"No such mode"), 0);
    EXPECT_EQ(s->ops->AddRotationSystemByName(s, u"No such system"), 0);
    EXPECT_EQ(s->ops->SetRandomizerByName(s, u"Nothing"), 0);
    EXPECT_EQ(s->ops->AddMode(s, nullptr), 0);
    ZelvikID wrongKind{};
    wrongKind.size = sizeof wrongKind;
    wrongKind.kind = PluginKind_Mode;
    EXPECT_EQ(s->ops->AddRotationSystem(s, &wrongKind), 0);
    EXPECT_EQ(s->ops->SetRandomizer(s, &wrongKind), 0);
    EXPECT_TRUE(lines.empty());
}

namespace {

uint32_t JoinAs(Server* s, RawClient& c, const char16_t* name) {
    c.Hello();
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), name);
    c.Send(join);
    const Bytes& in = c.Await(s, kSizeJoinReplyFixed);
    if (in.size() < kSizeJoinReplyFixed || in[0] != NetCmd_JoinReply) return 0;
    const uint32_t id = Net_GetU32(in.data() + 1);
    c.in.erase(c.in.begin(), c.in.begin() + kSizeJoinReplyFixed);
    return id;
}

Bytes Ready(uint32_t id, uint32_t index = 0) {
    Bytes b(kSizeReady);
    NetCmd_BuildReady(b.data(), id, index);
    return b;
}

Bytes InputOf(uint32_t id, uint32_t first, const std::vector<uint16_t>& entries) {
    Bytes b(kSizeInputFixed + 2 * entries.size());
    b[0] = NetCmd_Input;
    Net_PutU32(b.data() + 1, id);
    Net_PutU32(b.data() + 5, first);
    Net_PutU32(b.data() + 9, 0);
    b[13] = 1;
    b[14] = 2;
    b[78] = static_cast<uint8_t>(entries.size() - 1);
    for (size_t i = 0; i < entries.size(); ++i) Net_PutU16(b.data() + 79 + 2 * i, entries[i]);
    return b;
}

ServerClient* ClientOfPlayer(Server* s, uint32_t id) {
    for (auto* e = s->Clients->First; e; e = e->Next) {
        auto* c = static_cast<ServerClient*>(DoublyLinkedList_Data(e));
        if (c->HeldPlayer && c->HeldPlayer->Id == id) return c;
    }
    return nullptr;
}

// Two joined clients and a third that only said hello; everyone ready, game started.
struct StartedGame : ServerFixture {
    std::unique_ptr<RawClient> one, two, watcher;
    uint32_t id1 = 0, id2 = 0;
    void SetUp() override {
        ServerFixture::SetUp();
        one = std::make_unique<RawClient>(port);
        two = std::make_unique<RawClient>(port);
        watcher = std::make_unique<RawClient>(port);
        id1 = JoinAs(s, *one, u"One");
        id2 = JoinAs(s, *two, u"Two");
        ASSERT_NE(id1, 0u);
        ASSERT_NE(id2, 0u);
        watcher->Hello();
        one->Await(s, kSizePlayerJoined);
        two->Await(s, kSizePlayerJoined);
        one->Send(Ready(id1));
        two->Await(s, kSizePlayerJoined + kSizeReady); // the relay after the announcement
        two->Send(Ready(id2));
        one->Await(s, kSizePlayerJoined + kSizeReady + kSizeStartGame);
        two->Await(s, kSizePlayerJoined + kSizeReady + kSizeStartGame);
        Run(20);
    }
};

} // namespace

TEST_F(ServerFixture, JoiningClientsAreAnnouncedToEachOtherWithTheSeed) {
    RawClient one(port), two(port);
    const uint32_t id1 = JoinAs(s, one, u"One");
    ASSERT_NE(id1, 0u);
    const uint32_t id2 = JoinAs(s, two, u"Two");
    ASSERT_NE(id2, 0u);
    EXPECT_NE(id1, id2);
    Bytes expect(kSizePlayerJoined);
    NetCmd_BuildPlayerJoined(expect.data(), id1, u"One", s->SharedSeed);
    EXPECT_EQ(two.Await(s, kSizePlayerJoined), expect);
    NetCmd_BuildPlayerJoined(expect.data(), id2, u"Two", s->SharedSeed);
    EXPECT_EQ(one.Await(s, kSizePlayerJoined), expect);
    EXPECT_EQ(s->ops->CountPlayers(s), 2);
    EXPECT_EQ(CountLines(u"One joined from 127.0.0.1"), 1u);
    EXPECT_EQ(CountLines(u"Two joined from 127.0.0.1"), 1u);
}

// A client says Hello and Join once and sends Ready and Input only for its own player once it
// joined: a peer that repeats its handshake or keeps sending what it may not is closed, with a
// line naming it, before it can keep the server busy.
TEST_F(ServerFixture, PeersRepeatingThemselvesAreClosed) {
    RawClient one(port), two(port), hello(port), stray(port);
    const uint32_t id1 = JoinAs(s, one, u"One");
    const uint32_t id2 = JoinAs(s, two, u"Two");
    ASSERT_NE(id1, 0u);
    ASSERT_NE(id2, 0u);
    one.Await(s, kSizePlayerJoined);
    one.in.clear();
    two.in.clear();
    const auto closed = [&](RawClient& c) {
        uint8_t chunk[4096];
        for (int i = 0; i < 2000; ++i) {
            s->ops->Process(s);
            if (!Platform_Socket_Readable(c.h, 1)) continue;
            if (Platform_Socket_Receive(c.h, chunk, sizeof chunk) < 0) return true;
        }
        return false;
    };

    // A waiting player may choose another rotation system while the menu is up: each new
    // choice is relayed so every copy follows, and costs the player nothing.
    for (uint32_t i = 0; i <= kServerFaultAllowance + 1; ++i) {
        one.Send(Ready(id1, i % 2));
        EXPECT_EQ(two.Await(s, kSizeReady), Ready(id1, i % 2)) << i;
        two.in.clear();
    }
    EXPECT_EQ(s->GameRunning, 0u);
    EXPECT_EQ(s->ops->CountPlayers(s), 2);

    // Ready with another player's id: one line naming the player, nothing relayed; past a few,
    // the player is dropped and the others hear it left.
    one.Send(Ready(id2));
    Run(50);
    EXPECT_EQ(CountLines(u"Wrong PlayerID from One (127.0.0.1)"), 1u);
    two.Await(s, 1, 100);
    EXPECT_TRUE(two.in.empty());
    EXPECT_EQ(s->GameRunning, 0u);
    for (uint32_t i = 0; i < kServerFaultAllowance; ++i) one.Send(Ready(id2));
    EXPECT_TRUE(closed(one));
    Bytes left(kSizePlayerLeft);
    NetCmd_BuildPlayerLeft(left.data(), id1);
    EXPECT_EQ(two.Await(s, kSizePlayerLeft), left);
    EXPECT_EQ(CountLines(u"Wrong PlayerID from One (127.0.0.1)"), 1u);
    EXPECT_EQ(CountLines(u"One (127.0.0.1) was dropped: it kept sending other players' ids"), 1u);

    // A second Hello, and Ready before joining beyond the allowance.
    hello.Hello();
    hello.Hello();
    EXPECT_TRUE(closed(hello));
    EXPECT_EQ(CountLines(u"Closed a connection from 127.0.0.1: it repeated its Hello"), 1u);
    for (uint32_t i = 0; i <= kServerFaultAllowance; ++i) stray.Send(Ready(id2));
    EXPECT_TRUE(closed(stray));

    // A second Join from a joined client drops its player (the others hear it left).
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), u"Again");
    two.Send(join);
    EXPECT_TRUE(closed(two));
    EXPECT_EQ(s->ops->CountClients(s), 0);
    // Past the first of a kind from an address, closes are summed up instead of named.
    EXPECT_EQ(CountLines(u"Two (127.0.0.1) was dropped: it sent a second Join"), 0u);
    ASSERT_EQ(Server_SetSummaryPeriod(s, 1), 1);
    Run(20);
    EXPECT_EQ(CountLines(u"Last 1 ms: 2 more connections closed for what they sent"), 1u);
}

TEST_F(StartedGame, RelaysAndTheStartGoOnlyToJoinedClients) {
    Bytes start(kSizeStartGame);
    NetCmd_BuildStartGame(start.data(), id1, s->SharedSeed);
    ASSERT_GE(one->in.size(), kSizePlayerJoined + kSizeReady + kSizeStartGame);
    EXPECT_EQ(Bytes(one->in.begin() + kSizePlayerJoined, one->in.begin() + kSizePlayerJoined + 9),
              Ready(id2));
    EXPECT_EQ(Bytes(one->in.end() - kSizeStartGame, one->in.end()), start);
    NetCmd_BuildStartGame(start.data(), id2, s->SharedSeed);
    EXPECT_EQ(Bytes(two->in.end() - kSizeStartGame, two->in.end()), start);
    watcher->Await(s, 1, 100);
    EXPECT_TRUE(watcher->in.empty()); // neither the relays nor the start
    EXPECT_EQ(CountLines(u"Starting the game"), 1u);
    EXPECT_EQ(s->GameRunning, 1u);
}

TEST_F(StartedGame, InputIsRelayedByteForByteAndChecked) {
    for (auto* c : {one.get(), two.get(), watcher.get()}) c->in.clear();
    const Bytes first = InputOf(id1, 0, {0x0005, 0x83}); // a word and 4 more like it
    one->Send(first);
    EXPECT_EQ(two->Await(s, first.size()), first);
    watcher->Await(s, 1, 100);
    EXPECT_TRUE(watcher->in.empty());
    ServerClient* c1 = ClientOfPlayer(s, id1);
    ASSERT_NE(c1, nullptr);
    EXPECT_EQ(c1->NextFrame, 5u);

    // Frames of another player from this connection: logged, neither applied nor relayed.
    lines.clear();
    two->in.clear();
    one->Send(InputOf(id2, 5, {1}));
    Run(50);
    EXPECT_EQ(lines, std::vector<std::u16string>{u"Wrong PlayerID from One (127.0.0.1)"});
    EXPECT_EQ(c1->NextFrame, 5u);
    two->Await(s, 1, 100);
    EXPECT_TRUE(two->in.empty());

    // A gap in the frames ends the connection; the others hear that the player left.
    watcher->in.clear();
    one->Send(InputOf(id1, 9, {1}));
    Bytes left(kSizePlayerLeft);
    NetCmd_BuildPlayerLeft(left.data(), id1);
    EXPECT_EQ(two->Await(s, kSizePlayerLeft), left);
    EXPECT_EQ(s->ops->CountPlayers(s), 1);
    EXPECT_EQ(ClientOfPlayer(s, id1), nullptr);
    EXPECT_EQ(CountLines(u"One (127.0.0.1) was dropped: its input frames did not follow on"), 1u);
    Run(20);
    watcher->Await(s, kSizePlayerLeft, 100);
    EXPECT_TRUE(watcher->in.empty()); // not joined: no departure notice
}

TEST_F(StartedGame, RepeatWithNothingToRepeatYieldsNothing) {
    ServerClient* c2 = ClientOfPlayer(s, id2);
    ASSERT_NE(c2, nullptr);
    one->in.clear();
    two->Send(InputOf(id2, 0, {0x85, 0x0003}));
    one->Await(s, 83);
    EXPECT_EQ(c2->NextFrame, 1u);
}

TEST_F(StartedGame, FloodOfFramesDisconnectsTheSender) {
    std::vector<uint16_t> entries;
    for (int i = 0; i < 128; ++i) {
        entries.push_back(3);
        entries.push_back(0xFF); // 129 frames per pair: over 16000 in one packet
    }
    one->Send(InputOf(id1, 0, entries));
    Bytes left(kSizePlayerLeft);
    NetCmd_BuildPlayerLeft(left.data(), id1);
    two->in.clear();
    EXPECT_EQ(two->Await(s, kSizePlayerLeft), left);
    EXPECT_EQ(s->ops->CountPlayers(s), 1);
    // The honest one is still served.
    two->in.clear();
    two->Send(GetInfo());
    EXPECT_EQ(two->Await(s, kSizeInfo), Info(u"Test server", 1));
}

// Late friends wait while the group plays; once the players have gone, connections that never
// joined (the refused friend, a stranger reconnecting again and again without a word) keep no
// one out.
TEST_F(StartedGame, JoinsReopenOnceThePlayersHaveLeft) {
    RawClient late(port);
    late.Hello();
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), u"Late");
    late.Send(join);
    EXPECT_EQ(late.Await(s, kSizeMessage),
              Message(u"Game is already running - You can't join now."));
    EXPECT_EQ(CountLines(u"Join refused for Late (127.0.0.1): a game is running"), 1u);
    one->Close();
    Run(30);
    EXPECT_EQ(s->GameRunning, 1u); // Two still plays
    two->Close();
    auto stranger = std::make_unique<RawClient>(port);
    Run(30);
    const uint32_t seed = s->SharedSeed;
    for (int i = 0; i < 3; ++i) {
        stranger = std::make_unique<RawClient>(port);
        Run(20);
        EXPECT_EQ(s->GameRunning, 0u) << i;
    }
    EXPECT_NE(s->SharedSeed, seed);
    EXPECT_GE(s->ops->CountClients(s), 3); // late, the watcher, the stranger
    RawClient fresh(port);
    const uint32_t id = JoinAs(s, fresh, u"Fresh");
    ASSERT_NE(id, 0u);
    fresh.Send(Ready(id));
    EXPECT_EQ(fresh.Await(s, kSizeStartGame).size(), kSizeStartGame);
    EXPECT_EQ(CountLines(u"Ready from Fresh (127.0.0.1)"), 1u);
}

// A player who was not ready leaving starts the game for the ready rest, as a last Ready would.
TEST_F(ServerFixture, DepartureOfTheOnlyPlayerNotReadyStartsTheGame) {
    RawClient a(port), b(port), slow(port);
    const uint32_t ida = JoinAs(s, a, u"A"), idb = JoinAs(s, b, u"B");
    ASSERT_NE(JoinAs(s, slow, u"Slow"), 0u);
    a.Send(Ready(ida));
    b.Send(Ready(idb));
    Run(50);
    EXPECT_EQ(s->GameRunning, 0u);
    for (RawClient* c : {&a, &b}) {
        c->Await(s, 1 << 20, 100); // the announcements and the relayed Ready
        c->in.clear();
    }
    slow.Close();
    EXPECT_EQ(a.Await(s, kSizePlayerLeft + kSizeStartGame).size(),
              kSizePlayerLeft + kSizeStartGame);
    EXPECT_EQ(b.Await(s, kSizePlayerLeft + kSizeStartGame).size(),
              kSizePlayerLeft + kSizeStartGame);
    for (auto [c, id] : {std::pair{&a, ida}, std::pair{&b, idb}}) {
        ASSERT_EQ(c->in.size(), kSizePlayerLeft + kSizeStartGame);
        EXPECT_EQ(c->in[0], NetCmd_PlayerLeft);
        Bytes start(kSizeStartGame);
        NetCmd_BuildStartGame(start.data(), id, s->SharedSeed);
        EXPECT_EQ(Bytes(c->in.begin() + kSizePlayerLeft, c->in.end()), start);
    }
    EXPECT_EQ(s->GameRunning, 1u);
    EXPECT_EQ(CountLines(u"Starting the game"), 1u);
}

TEST_F(ServerFixture, LeavingBeforeJoiningAnnouncesNothing) {
    RawClient one(port), idle(port);
    const uint32_t id1 = JoinAs(s, one, u"One");
    ASSERT_NE(id1, 0u);
    idle.Hello();
    Run(20);
    idle.Close();
    Run(30);
    EXPECT_EQ(s->ops->CountClients(s), 1);
    one.Await(s, 1, 100);
    EXPECT_TRUE(one.in.empty());
}

namespace {

// A silent connection from another loopback address (the test's stand-in for another host).
int ConnectFrom(const char* source, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(port);
    if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
                    connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TEST_F(ServerFixture, SilentConnectionsKeepNoOneOut) {
    ASSERT_EQ(Server_SetAdmission(s, kServerWaitingPerAddress, 800), 1);
    // One process opens more connections than the server holds, and says nothing.
    std::vector<int> flood;
    for (int i = 0; i < 1100; ++i) {
        flood.push_back(ConnectFrom("127.0.0.2", port));
        ASSERT_GE(flood.back(), 0) << i;
        if (i % 32 == 31) Run(2); // accept as a real server would between bursts
    }
    Run(50);
    EXPECT_EQ(s->ops->CountClients(s), kServerWaitingPerAddress);
    EXPECT_EQ(CountLines(u"Too many connections from 127.0.0.2: closing the oldest"), 1u);
    // A player on another address joins.
    RawClient honest(port);
    EXPECT_NE(JoinAs(s, honest, u"Honest"), 0u);
    // So do players on the address of silent connections (a shared machine, a LAN party),
    // even when more of them arrive at once than may wait.
    std::vector<std::unique_ptr<RawClient>> nearby;
    for (int i = 0; i < 40; ++i) nearby.push_back(std::make_unique<RawClient>(port));
    Run(20);
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), u"Neighbour");
    std::vector<std::unique_ptr<RawClient>> party;
    for (int i = 0; i < 24; ++i) {
        party.push_back(std::make_unique<RawClient>(port));
        party.back()->Hello();
        party.back()->Send(join);
    }
    for (auto& p : party) {
        const Bytes& got = p->Await(s, 1);
        EXPECT_TRUE(!got.empty() && got[0] == NetCmd_JoinReply);
    }
    EXPECT_EQ(CountLines(u"Neighbour joined from 127.0.0.1"), party.size());
    EXPECT_EQ(CountLines(u"Too many connections from 127.0.0.1: closing the oldest"), 1u);
    // Past the deadline only the players are left.
    Run(1000);
    EXPECT_EQ(s->ops->CountClients(s), 25);
    EXPECT_EQ(s->ops->CountPlayers(s), 25);
    for (int fd : flood) close(fd);
}

// One address cannot hold more than a few dozen players (each join costs every player an
// announcement, and these never read them); a refused one is told why, and a LAN party on
// another address still joins.
TEST_F(ServerFixture, OneAddressHoldsAFewDozenPlayersAndALanPartyStillJoins) {
    Bytes hello(kSizeHello), join(kSizeJoin);
    NetCmd_BuildHello(hello.data(), kEngineVersion);
    NetCmd_BuildJoin(join.data(), u"Flood");
    hello.insert(hello.end(), join.begin(), join.end());
    std::vector<int> flood;
    const auto joinFrom = [&] {
        flood.push_back(ConnectFrom("127.0.0.2", port));
        return flood.back() >= 0 && send(flood.back(), hello.data(), hello.size(), MSG_NOSIGNAL) ==
                                        ssize_t(hello.size());
    };
    for (int i = 0; i < kServerPlayersPerAddress; ++i) {
        ASSERT_TRUE(joinFrom()) << i;
        for (int k = 0; k < 2000 && s->ops->CountPlayers(s) <= i; ++k) Run(1);
        ASSERT_EQ(s->ops->CountPlayers(s), i + 1);
    }
    ASSERT_TRUE(joinFrom());
    Bytes got;
    for (int k = 0; k < 2000 && got.size() < kSizeMessage; ++k) {
        Run(1);
        uint8_t chunk[kSizeMessage];
        const ssize_t n = recv(flood.back(), chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) got.insert(got.end(), chunk, chunk + n);
    }
    EXPECT_EQ(got, Message(u"Too many players from your address - You can't join now."));
    EXPECT_EQ(CountLines(u"Join refused for Flood (127.0.0.2): 64 players have joined from its "
                         u"address"),
              1u);
    EXPECT_EQ(s->ops->CountPlayers(s), kServerPlayersPerAddress);
    std::vector<std::unique_ptr<RawClient>> party;
    for (int i = 0; i < 8; ++i) {
        party.push_back(std::make_unique<RawClient>(port));
        const char16_t name[] = {u'L', char16_t(u'1' + i), 0};
        EXPECT_NE(JoinAs(s, *party.back(), name), 0u) << i;
    }
    EXPECT_EQ(s->ops->CountPlayers(s), kServerPlayersPerAddress + 8);
    for (int fd : flood) close(fd);
}

// Game traffic goes to the players only: a browser asking a busy server for its info gets the
// Info reply first, however much input the server relays meanwhile.
TEST_F(ServerFixture, BusyServerAnswersEveryInfoQueryFirst) {
    constexpr int kPlayers = 8;
    std::vector<std::unique_ptr<RawClient>> players;
    std::vector<uint32_t> ids;
    for (int i = 0; i < kPlayers; ++i) {
        players.push_back(std::make_unique<RawClient>(port));
        const char16_t name[] = {u'P', char16_t(u'1' + i), 0};
        ids.push_back(JoinAs(s, *players.back(), name));
        ASSERT_NE(ids.back(), 0u);
    }
    for (int i = 0; i < kPlayers; ++i) players[size_t(i)]->Send(Ready(ids[size_t(i)]));
    for (int i = 0; i < 2000 && !s->GameRunning; ++i) Run(1);
    ASSERT_EQ(s->GameRunning, 1u);
    uint32_t frame = 0;
    const auto play = [&] {
        for (int i = 0; i < kPlayers; ++i)
            players[size_t(i)]->Send(InputOf(ids[size_t(i)], frame, {uint16_t(frame % 3)}));
        ++frame;
        uint8_t chunk[65536];
        for (auto& p : players)
            while (Platform_Socket_Receive(p->h, chunk, sizeof chunk) > 0) {
            }
    };
    const Bytes info = Info(u"Test server", kPlayers);
    int complete = 0;
    for (int q = 0; q < 100; ++q) {
        RawClient query(port);
        ASSERT_NE(query.h, 0u);
        s->ops->Process(s); // its connection is in while the players' input keeps coming
        play();
        query.Send(GetInfo());
        query.Await(s, kSizeInfo);
        play();
        s->ops->Process(s);
        query.Await(s, kSizeInfo + 1, 5);
        complete += query.in == info;
    }
    EXPECT_EQ(complete, 100);
    EXPECT_EQ(s->ops->CountPlayers(s), kPlayers);
}
