#include "Platform_Socket.h"
#include "Vantrel_Adv_NetPackets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

ZelvikID MakeId(int32_t kind, const char16_t* name, uint64_t version) {
    ZelvikID id{};
    id.size = sizeof(ZelvikID);
    id.kind = kind;
    for (int i = 0; name[i] && i < 31; ++i) id.name[i] = name[i];
    id.version = version;
    id.build = 7;
    return id;
}

// Expected bytes of a text field holding an ASCII string.
void ExpectText(const uint8_t* at, const std::string& text) {
    for (size_t i = 0; i < 256; ++i) {
        const uint16_t unit = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
        ASSERT_EQ(at[2 * i], unit & 0xFF) << "unit " << i;
        ASSERT_EQ(at[2 * i + 1], unit >> 8) << "unit " << i;
    }
}

// Words a packet's entries decode to, from an empty queue.
std::vector<uint32_t> Decode(const uint8_t* packet) {
    std::vector<uint32_t> out;
    uint32_t last = 0;
    bool has = false;
    NetInput_Decode(packet + kInputEntries, packet[kInputLastIndex] + 1u, &last, &has,
                    [&](uint32_t w, uint32_t n) { out.insert(out.end(), n, w); });
    return out;
}

std::vector<uint16_t> Entries(const uint8_t* packet) {
    std::vector<uint16_t> out;
    for (uint32_t i = 0; i <= packet[kInputLastIndex]; ++i)
        out.push_back(Net_GetU16(packet + kInputEntries + 2 * i));
    return out;
}

// Encodes words as one packet starting at frame 1 (so nothing forces a send in between).
Bytes Encode(const std::vector<uint32_t>& words) {
    Bytes p(kSizeInputMax, 0xEE);
    const uint8_t preview[3] = {1, 2, 3};
    NetInput_Start(p.data(), 9, 1, 0xCAFEBABE, 7, preview, words[0]);
    for (size_t i = 1; i < words.size(); ++i) EXPECT_GE(NetInput_Append(p.data(), words[i]), 0);
    p.resize(NetInput_Size(p.data()));
    return p;
}

struct Collected {
    std::vector<Bytes> packets;
    std::vector<ZelvikID> records;
    uint32_t begins = 0;
    bool refuse = false;
};

bool AllClientCommands(uint8_t c) {
    return c == NetCmd_JoinReply || c == NetCmd_PlayerJoined || c == NetCmd_Ready ||
           c == NetCmd_StartGame || c == NetCmd_Input || c == NetCmd_PlayerLeft ||
           c == NetCmd_Message;
}

struct Receiver {
    uint8_t buffer[kReceiveBufferSize]{};
    uint32_t count = 0, partial = 0;
    Collected got;

    NetFeedResult Feed(const uint8_t* data, size_t size) {
        NetFrameSink sink{
            &got,
            AllClientCommands,
            [](void* ctx, const uint8_t* fixed) {
                auto* g = static_cast<Collected*>(ctx);
                ++g->begins;
                g->records.assign(Net_GetU32(fixed + 5) + Net_GetU32(fixed + 9), ZelvikID{});
                return !g->refuse;
            },
            [](void* ctx, uint32_t index) -> uint8_t* {
                auto* g = static_cast<Collected*>(ctx);
                return index < g->records.size() ? reinterpret_cast<uint8_t*>(&g->records[index])
                                                 : nullptr;
            },
            [](void* ctx, const uint8_t* d, uint32_t n) {
                static_cast<Collected*>(ctx)->packets.emplace_back(d, d + n);
                return true;
            },
            nullptr};
        return Net_FeedBytes({buffer, &count, &partial}, sink, data, size);
    }
};

} // namespace

TEST(NetPackets, FixedCommandsMatchTheirBytes) {
    uint8_t b[600];
    ASSERT_EQ(NetCmd_BuildGetInfo(b), 1u);
    EXPECT_EQ(b[0], 16);

    ASSERT_EQ(NetCmd_BuildHello(b, kEngineVersion), 9u);
    EXPECT_EQ(Bytes(b, b + 9), (Bytes{18, 0, 0, 0, 0, 1, 0, 2, 0}));

    ASSERT_EQ(NetCmd_BuildReady(b, 0x01020304, 2), 9u);
    EXPECT_EQ(Bytes(b, b + 9), (Bytes{22, 4, 3, 2, 1, 2, 0, 0, 0}));

    ASSERT_EQ(NetCmd_BuildPlayerLeft(b, 0xA0B0C0D0), 5u);
    EXPECT_EQ(Bytes(b, b + 5), (Bytes{25, 0xD0, 0xC0, 0xB0, 0xA0}));

    std::memset(b, 0xAA, sizeof b);
    ASSERT_EQ(NetCmd_BuildStartGame(b, 5, 0x11223344), 74u);
    EXPECT_EQ(Bytes(b, b + 9), (Bytes{23, 5, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}));
    for (int i = 9; i < 74; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[74], 0xAA); // nothing past the packet

    std::memset(b, 0xAA, sizeof b);
    ASSERT_EQ(NetCmd_BuildInfo(b, u"Lobby", 3, -1), 521u);
    EXPECT_EQ(b[0], 17);
    ExpectText(b + 1, "Lobby");
    EXPECT_EQ(Bytes(b + 513, b + 521), (Bytes{3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(b[521], 0xAA);

    ASSERT_EQ(NetCmd_BuildJoin(b, u"Anna"), 513u);
    EXPECT_EQ(b[0], 19);
    ExpectText(b + 1, "Anna");

    ASSERT_EQ(NetCmd_BuildPlayerJoined(b, 258, u"Bo", 0xDEADBEEF), 521u);
    EXPECT_EQ(Bytes(b, b + 5), (Bytes{21, 2, 1, 0, 0}));
    ExpectText(b + 5, "Bo");
    EXPECT_EQ(Bytes(b + 517, b + 521), (Bytes{0xEF, 0xBE, 0xAD, 0xDE}));

    ASSERT_EQ(NetCmd_BuildMessage(b, u"Server is shutting down"), 513u);
    EXPECT_EQ(b[0], 27);
    ExpectText(b + 1, "Server is shutting down");
}

TEST(NetPackets, TextFieldsKeepAtMost256UnitsWithoutTerminator) {
    std::u16string longName(300, u'x');
    longName[255] = u'y';
    longName[256] = u'z';
    uint8_t b[kSizeJoin];
    NetCmd_BuildJoin(b, longName.c_str());
    EXPECT_EQ(Net_GetU16(b + 1 + 2 * 255), u'y'); // the last unit is text, not a terminator

    char16_t read[257];
    PacketReader r(b + 1, kTextBytes);
    r.Text(read);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(std::u16string(read), longName.substr(0, 256));

    // A short field is read up to its first zero unit; the reader still moves past all 512.
    NetCmd_BuildJoin(b, u"ab");
    PacketReader s(b, kSizeJoin);
    EXPECT_EQ(s.U8(), 19);
    s.Text(read);
    EXPECT_EQ(std::u16string(read), u"ab");
    EXPECT_EQ(s.position(), kSizeJoin);
}

TEST(NetPackets, ReaderFailsStickilyPastTheEnd) {
    const uint8_t d[6] = {1, 2, 3, 4, 5, 6};
    PacketReader r(d, sizeof d);
    EXPECT_EQ(r.U32(), 0x04030201u);
    EXPECT_EQ(r.U32(), 0u); // only two bytes left
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.U8(), 0); // stays failed even though a byte remains
    char16_t text[257];
    PacketReader t(d, sizeof d);
    t.Text(text);
    EXPECT_FALSE(t.ok());
    EXPECT_EQ(text[0], 0);
}

TEST(NetPackets, JoinReplyLayoutForNoneAndFiveModesOneRotationSystem) {
    const ZelvikID rnd = MakeId(PluginKind_Randomizer, u"PEXA", 0x0001000000000000ull);
    Bytes empty(NetCmd_JoinReplySize(0, 0));
    ASSERT_EQ(empty.size(), 161u);
    ASSERT_EQ(NetCmd_BuildJoinReply(empty.data(), 42, rnd, nullptr, 0, nullptr, 0), 161u);
    EXPECT_EQ(Bytes(empty.begin(), empty.begin() + 13),
              (Bytes{20, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::memcmp(empty.data() + 13, &rnd, 148), 0);

    ZelvikID modes[5];
    for (int i = 0; i < 5; ++i) modes[i] = MakeId(PluginKind_Mode, u"Mode", uint64_t(i) << 32);
    const ZelvikID rs = MakeId(PluginKind_RotationSystem, u"DORVO", 1);
    Bytes full(NetCmd_JoinReplySize(5, 1));
    ASSERT_EQ(full.size(), 1049u);
    NetCmd_BuildJoinReply(full.data(), 7, rnd, modes, 5, &rs, 1);
    EXPECT_EQ(Net_GetU32(full.data() + 5), 5u);
    EXPECT_EQ(Net_GetU32(full.data() + 9), 1u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(std::memcmp(full.data() + 161 + 148 * i, &modes[i], 148), 0) << i;
    EXPECT_EQ(std::memcmp(full.data() + 161 + 148 * 5, &rs, 148), 0);
    EXPECT_EQ(full[161 + 148 * 5 + 8], 'D'); // name starts 8 bytes into the record
}

TEST(NetInputRun, EveryWordSurvivesAloneAndRepeated) {
    for (uint32_t w = 0; w <= 0x7FF; ++w) {
        const Bytes one = Encode({w});
        ASSERT_EQ(one.size(), 81u);
        ASSERT_EQ(Decode(one.data()), std::vector<uint32_t>{w}) << std::hex << w;
        const Bytes run = Encode(std::vector<uint32_t>(5, w));
        ASSERT_EQ(run[kInputLastIndex], 1) << std::hex << w; // the word and one repeat entry
        ASSERT_EQ(Decode(run.data()), std::vector<uint32_t>(5, w)) << std::hex << w;
        // Alternating with a neighbour never merges two different words.
        const uint32_t v = w ^ 0x80;
        const std::vector<uint32_t> mixed{w, v, v, w, w, w, v};
        ASSERT_EQ(Decode(Encode(mixed).data()), mixed) << std::hex << w;
    }
}

TEST(NetInputRun, HoldWordsAreNotMistakenForRepeats) {
    // Hold alone is 0x80, the very value of a repeat entry.
    EXPECT_EQ(Entries(Encode({0x80}).data()), (std::vector<uint16_t>{0x8080}));
    EXPECT_EQ(Entries(Encode({0, 0x80, 0x80}).data()), (std::vector<uint16_t>{0, 0x8080, 0x80}));
    EXPECT_EQ(Decode(Encode({0, 0x80, 0x80}).data()), (std::vector<uint32_t>{0, 0x80, 0x80}));
    // Bits above the eleven input bits are not carried.
    EXPECT_EQ(Decode(Encode({0xFFFF}).data()), std::vector<uint32_t>{0x7FF});
}

TEST(NetInputRun, RunsFollowTheDocumentedShape) {
    EXPECT_EQ(Entries(Encode({0, 0, 0, 2, 2}).data()), (std::vector<uint16_t>{0, 0x81, 2, 0x80}));
    EXPECT_EQ(Entries(Encode({3, 3}).data()), (std::vector<uint16_t>{3, 0x80}));
    EXPECT_EQ(Entries(Encode({3, 4}).data()), (std::vector<uint16_t>{3, 4}));
    const std::vector<uint32_t> three00(300, 5);
    const Bytes p = Encode(three00);
    EXPECT_EQ(Entries(p.data()), (std::vector<uint16_t>{5, 0xFF, 5, 0xFF, 5, 0xA8}));
    EXPECT_EQ(Decode(p.data()), three00);
}

TEST(NetInputRun, LargestPacketIs591BytesAndRefusesMore) {
    std::vector<uint32_t> words;
    for (int i = 0; i < 256; ++i) words.push_back(static_cast<uint32_t>(i & 1 ? 0x80 : 0x7FF));
    const Bytes p = Encode(words);
    ASSERT_EQ(p.size(), 591u);
    EXPECT_EQ(p[kInputLastIndex], 255);
    EXPECT_EQ(Decode(p.data()), words);
    Bytes full = p;
    EXPECT_EQ(NetInput_Append(full.data(), 0x7FF), -1); // would need a 257th entry
    EXPECT_EQ(full, p);
    // Header bytes: id, first frame, checksum, active piece, three previews, the rest zero.
    EXPECT_EQ(Net_GetU32(p.data() + 1), 9u);
    EXPECT_EQ(Net_GetU32(p.data() + 5), 1u);
    EXPECT_EQ(Net_GetU32(p.data() + 9), 0xCAFEBABEu);
    EXPECT_EQ(Bytes(p.begin() + 13, p.begin() + 17), (Bytes{7, 1, 2, 3}));
    for (int i = 17; i < 78; ++i) EXPECT_EQ(p[i], 0) << i;
}

TEST(NetInputRun, RepeatWithNothingBeforeItYieldsNothing) {
    uint8_t entries[4];
    Net_PutU16(entries, 0x83);
    Net_PutU16(entries + 2, 0x0005);
    uint32_t last = 0;
    bool has = false;
    std::vector<uint32_t> got;
    const uint32_t frames = NetInput_Decode(
        entries, 2, &last, &has, [&](uint32_t w, uint32_t n) { got.insert(got.end(), n, w); });
    EXPECT_EQ(frames, 1u);
    EXPECT_EQ(got, std::vector<uint32_t>{5});
    // With a queue tail the same repeat continues it.
    last = 9;
    has = true;
    got.clear();
    EXPECT_EQ(NetInput_Decode(entries, 1, &last, &has,
                              [&](uint32_t w, uint32_t n) { got.insert(got.end(), n, w); }),
              4u);
    EXPECT_EQ(got, std::vector<uint32_t>(4, 9));
}

namespace {

// A stream of every client-side command, with junk bytes a receiver must skip.
Bytes ClientStream() {
    Bytes s;
    uint8_t b[kSizeInputMax];
    auto add = [&](uint32_t n) { s.insert(s.end(), b, b + n); };
    ZelvikID modes[2] = {MakeId(2, u"A", 1), MakeId(2, u"B", 2)};
    const ZelvikID rs = MakeId(1, u"R", 3), rnd = MakeId(4, u"Z", 4);
    Bytes reply(NetCmd_JoinReplySize(2, 1));
    NetCmd_BuildJoinReply(reply.data(), 3, rnd, modes, 2, &rs, 1);
    s.insert(s.end(), reply.begin(), reply.end());
    s.push_back(0);
    s.push_back(16); // a server-only command is junk to a client
    add(NetCmd_BuildPlayerJoined(b, 4, u"Cy", 99));
    add(NetCmd_BuildReady(b, 4, 0));
    add(NetCmd_BuildStartGame(b, 3, 99));
    const Bytes in = Encode({1, 1, 2, 0x80, 0x80});
    s.insert(s.end(), in.begin(), in.end());
    s.push_back(26);
    add(NetCmd_BuildPlayerLeft(b, 4));
    add(NetCmd_BuildMessage(b, u"hi"));
    return s;
}

void ExpectClientStream(const Receiver& r) {
    const Bytes s = ClientStream();
    ASSERT_EQ(r.got.packets.size(), 7u);
    EXPECT_EQ(r.got.begins, 1u);
    EXPECT_EQ(r.got.packets[0].size(), 161u);
    EXPECT_EQ(std::memcmp(r.got.records.data(), s.data() + 161, 3 * 148), 0);
    const uint8_t order[7] = {20, 21, 22, 23, 24, 25, 27};
    const size_t sizes[7] = {161, 521, 9, 74, 79 + 2 * 5, 5, 513};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(r.got.packets[i][0], order[i]);
        EXPECT_EQ(r.got.packets[i].size(), sizes[i]);
    }
    EXPECT_EQ(r.partial, 0u);
}

} // namespace

TEST(NetFraming, SplitAtEveryByteBoundaryYieldsTheSamePackets) {
    const Bytes s = ClientStream();
    for (size_t cut = 0; cut <= s.size(); ++cut) {
        Receiver r;
        r.Feed(s.data(), cut);
        r.Feed(s.data() + cut, s.size() - cut);
        ExpectClientStream(r);
        if (HasFatalFailure() || HasFailure()) {
            ADD_FAILURE() << "cut at " << cut;
            return;
        }
    }
    Receiver bytewise;
    for (uint8_t c : s) bytewise.Feed(&c, 1);
    ExpectClientStream(bytewise);
}

TEST(NetFraming, ImpossibleJoinReplyCountsAreRefusedBeforeAllocation) {
    for (uint32_t m : {1025u, 0xFFFFFFFFu}) {
        uint8_t fixed[161]{};
        fixed[0] = NetCmd_JoinReply;
        Net_PutU32(fixed + 5, m);
        Net_PutU32(fixed + 9, 1);
        Receiver r;
        EXPECT_EQ(r.Feed(fixed, sizeof fixed), NetFeedResult::Stopped);
        EXPECT_EQ(r.got.begins, 0u); // the sink never saw it, so nothing was allocated
        EXPECT_EQ(r.partial, 0u);
    }
    // A sink that refuses stops the feed the same way.
    Bytes reply(NetCmd_JoinReplySize(0, 1));
    NetCmd_BuildJoinReply(reply.data(), 1, ZelvikID{}, nullptr, 0, nullptr, 0);
    Net_PutU32(reply.data() + 9, 1);
    Receiver r;
    r.got.refuse = true;
    EXPECT_EQ(r.Feed(reply.data(), reply.size()), NetFeedResult::Stopped);
    EXPECT_TRUE(r.got.packets.empty());
}

TEST(NetFraming, StreamSplitOverLoopbackSocketsArrivesIntact) {
    Platform_Socket_Init();
    const uint32_t listener = Platform_Socket_Listen(0);
    ASSERT_NE(listener, 0u);
    const uint16_t port = Platform_Socket_LocalPort(listener);
    const uint32_t out = Platform_Socket_Connect("127.0.0.1", port, 2000);
    ASSERT_NE(out, 0u);
    ASSERT_EQ(Platform_Socket_Readable(listener, 2000), 1);
    uint32_t address = 0;
    const uint32_t in = Platform_Socket_Accept(listener, &address);
    ASSERT_NE(in, 0u);
    EXPECT_EQ(address, 0x7F000001u);
    EXPECT_EQ(Platform_Socket_Receive(in, &address, 4), 0); // nothing yet, no blocking

    const Bytes s = ClientStream();
    auto pump = [&](Receiver& r, size_t expected) {
        uint8_t chunk[2048];
        size_t got = 0;
        while (got < expected) {
            ASSERT_EQ(Platform_Socket_Readable(in, 2000), 1);
            const int32_t n = Platform_Socket_Receive(in, chunk, sizeof chunk);
            ASSERT_GT(n, 0);
            r.Feed(chunk, static_cast<size_t>(n));
            got += static_cast<size_t>(n);
        }
    };
    for (size_t cut = 1; cut < s.size(); cut += 7) {
        Receiver r;
        ASSERT_EQ(Platform_Socket_Send(out, s.data(), static_cast<uint32_t>(cut)), int32_t(cut));
        pump(r, cut);
        ASSERT_EQ(Platform_Socket_Send(out, s.data() + cut, static_cast<uint32_t>(s.size() - cut)),
                  int32_t(s.size() - cut));
        pump(r, s.size() - cut);
        ExpectClientStream(r);
        if (HasFailure()) return;
    }
    Platform_Socket_Close(out);
    ASSERT_EQ(Platform_Socket_Readable(in, 2000), 1);
    uint8_t c;
    EXPECT_EQ(Platform_Socket_Receive(in, &c, 1), -1); // the peer's close is a disconnect
    Platform_Socket_Close(in);
    Platform_Socket_Close(listener);
}

TEST(NetSocket, RefusedConnectAndBusyPortFailCleanly) {
    Platform_Socket_Init();
    const uint32_t listener = Platform_Socket_Listen(0);
    ASSERT_NE(listener, 0u);
    const uint16_t port = Platform_Socket_LocalPort(listener);
    EXPECT_EQ(Platform_Socket_Listen(port), 0u); // already in use
    Platform_Socket_Close(listener);
    EXPECT_EQ(Platform_Socket_Connect("127.0.0.1", port, 1000), 0u); // nobody listens now
    EXPECT_EQ(Platform_Socket_Connect("", port, 1000), 0u);
    EXPECT_EQ(Platform_Socket_Send(0, "x", 1), -1);
    EXPECT_EQ(Platform_Socket_Readable(0, 0), 0);
}

TEST(NetSocket, SendsToASlowReaderAreQueuedWholeAndBounded) {
    Platform_Socket_Init();
    const uint32_t listener = Platform_Socket_Listen(0);
    const uint32_t out =
        Platform_Socket_Connect("127.0.0.1", Platform_Socket_LocalPort(listener), 2000);
    ASSERT_NE(out, 0u);
    ASSERT_EQ(Platform_Socket_Readable(listener, 2000), 1);
    const uint32_t in = Platform_Socket_Accept(listener, nullptr);
    ASSERT_NE(in, 0u);
    // The peer does not read: the kernel fills, then our queue, then sends fail.
    Bytes block(64 * 1024, 0x5A);
    int32_t result = 0;
    size_t sent = 0;
    for (int i = 0; i < 200 && result >= 0; ++i) {
        result = Platform_Socket_Send(out, block.data(), static_cast<uint32_t>(block.size()));
        if (result > 0) sent += block.size();
    }
    EXPECT_EQ(result, -1);
    EXPECT_GT(Platform_Socket_Backlog(out), 0u);
    EXPECT_LE(Platform_Socket_Backlog(out), kSendBacklogLimit);
    // Everything accepted arrives, in order and uncut.
    size_t received = 0;
    Bytes chunk(65536);
    while (received < sent) {
        Platform_Socket_Flush(out);
        if (!Platform_Socket_Readable(in, 2000)) break;
        const int32_t n =
            Platform_Socket_Receive(in, chunk.data(), static_cast<uint32_t>(chunk.size()));
        ASSERT_GT(n, 0);
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(chunk[i], 0x5A);
        received += static_cast<size_t>(n);
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(Platform_Socket_Backlog(out), 0u);
    Platform_Socket_Close(out);
    Platform_Socket_Close(in);
    Platform_Socket_Close(listener);
}
