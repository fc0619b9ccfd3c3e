#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Vantrel_Adv_Server.h"

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
    RawClient c(port);
    ASSERT_NE(c.h, 0u);
    c.Send(GetInfo());
    EXPECT_EQ(c.Await(s, kSizeInfo), Info(u"Test server", 0));
    EXPECT_EQ(s->ops->CountClients(s), 1);
    EXPECT_EQ(CountLines(u"GetInfo from Client(127.0.0.1)"), 1u);
}

TEST_F(ServerFixture, VersionMismatchIsAnsweredWithItsMessage) {
    RawClient c(port);
    c.Hello(0x0001000200000003ull);
    EXPECT_EQ(c.Await(s, kSizeMessage),
              Message(u"Your engine version is different from the servers. (Client: 0.1.2.3 - "
                      u"Server: 0.2.1.0)"));
    EXPECT_EQ(CountLines(u"Hello from Client(127.0.0.1)"), 1u);
    // Not admitted: a Join after it is ignored, and the connection stays open.
    Bytes join(kSizeJoin);
    NetCmd_BuildJoin(join.data(), u"Late");
    c.Send(join);
    c.in.clear();
    c.Send(GetInfo());
    EXPECT_EQ(c.Await(s, kSizeInfo), Info(u"Test server", 0));
    EXPECT_EQ(s->ops->CountPlayers(s), 0);
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
}

TEST_F(ServerFixture, CommandInPiecesIsLoggedPerPieceAndHandledOnce) {
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
    EXPECT_EQ(CountLines(u"Hello from Client(127.0.0.1)"), 3u);
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
    EXPECT_EQ(s->ops->CountClients(s), 3);
    EXPECT_EQ(garbage.in.size(), 0u);
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
