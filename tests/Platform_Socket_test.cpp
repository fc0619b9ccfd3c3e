#include "Platform_Socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace {

// A connected pair on loopback: a (the accepted end) and b (the connecting end).
struct Pair {
    uint32_t listener = 0, a = 0, b = 0;
    Pair() {
        Platform_Socket_Init();
        listener = Platform_Socket_Listen(0);
        b = Platform_Socket_Connect("127.0.0.1", Platform_Socket_LocalPort(listener), 2000);
        for (int i = 0; i < 200 && !a; ++i) {
            Platform_Socket_Readable(listener, 10);
            a = Platform_Socket_Accept(listener, nullptr);
        }
    }
    ~Pair() {
        Platform_Socket_Close(a);
        Platform_Socket_Close(b);
        Platform_Socket_Close(listener);
    }
};

std::vector<uint64_t> ReadyKeys(uint32_t set, int64_t timeoutUs = 200000) {
    PlatformReadyEntry entries[8]{};
    const int32_t n = Platform_Socket_WaitSetWait(set, entries, 8, timeoutUs);
    std::vector<uint64_t> keys;
    for (int32_t i = 0; i < n; ++i) keys.push_back(entries[i].key);
    std::sort(keys.begin(), keys.end());
    return keys;
}

} // namespace

TEST(PlatformSocketWaitSet, ReportsOnlyReadySocketsByTheirKeys) {
    Pair one, two;
    ASSERT_TRUE(one.a && two.a);
    const uint32_t set = Platform_Socket_WaitSetCreate();
    ASSERT_NE(set, 0u);
    ASSERT_EQ(Platform_Socket_WaitSetAdd(set, one.a, 11), 1);
    ASSERT_EQ(Platform_Socket_WaitSetAdd(set, two.a, 22), 1);
    EXPECT_EQ(Platform_Socket_WaitSetAdd(set, 0, 33), 0);

    EXPECT_TRUE(ReadyKeys(set, 0).empty());
    EXPECT_TRUE(ReadyKeys(set, 20000).empty()); // times out

    const uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(Platform_Socket_Send(two.b, data, 3), 3);
    EXPECT_EQ(ReadyKeys(set), std::vector<uint64_t>{22});
    // Level-triggered: still reported until read.
    EXPECT_EQ(ReadyKeys(set, 0), std::vector<uint64_t>{22});
    uint8_t in[16];
    EXPECT_EQ(Platform_Socket_Receive(two.a, in, sizeof in), 3);
    EXPECT_TRUE(ReadyKeys(set, 0).empty());

    ASSERT_EQ(Platform_Socket_Send(one.b, data, 3), 3);
    ASSERT_EQ(Platform_Socket_Send(two.b, data, 3), 3);
    for (int i = 0; i < 50 && ReadyKeys(set, 0).size() < 2; ++i) ReadyKeys(set, 10000);
    EXPECT_EQ(ReadyKeys(set, 0), (std::vector<uint64_t>{11, 22}));

    // A removed socket is no longer reported; a full entry array takes the rest next time.
    Platform_Socket_WaitSetRemove(set, one.a);
    EXPECT_EQ(ReadyKeys(set, 0), std::vector<uint64_t>{22});
    PlatformReadyEntry single{};
    EXPECT_EQ(Platform_Socket_WaitSetWait(set, &single, 1, 0), 1);
    EXPECT_EQ(single.key, 22u);
    EXPECT_EQ(single.readable, 1);
    EXPECT_EQ(single.hangup, 0);
    EXPECT_EQ(single.writable, 0);
    Platform_Socket_WaitSetFree(set);
}

TEST(PlatformSocketWaitSet, PendingConnectionsAndHangUpsAreReadable) {
    Platform_Socket_Init();
    const uint32_t listener = Platform_Socket_Listen(0);
    ASSERT_NE(listener, 0u);
    const uint32_t set = Platform_Socket_WaitSetCreate();
    ASSERT_EQ(Platform_Socket_WaitSetAdd(set, listener, 0), 1);
    EXPECT_TRUE(ReadyKeys(set, 0).empty());
    const uint32_t client =
        Platform_Socket_Connect("127.0.0.1", Platform_Socket_LocalPort(listener), 2000);
    ASSERT_NE(client, 0u);
    EXPECT_EQ(ReadyKeys(set), std::vector<uint64_t>{0});
    const uint32_t accepted = Platform_Socket_Accept(listener, nullptr);
    ASSERT_NE(accepted, 0u);
    EXPECT_TRUE(ReadyKeys(set, 0).empty());

    ASSERT_EQ(Platform_Socket_WaitSetAdd(set, accepted, 5), 1);
    Platform_Socket_Close(client);
    PlatformReadyEntry e{};
    ASSERT_EQ(Platform_Socket_WaitSetWait(set, &e, 1, 200000), 1);
    EXPECT_EQ(e.key, 5u);
    EXPECT_EQ(e.readable, 1);
    EXPECT_EQ(e.hangup, 1);
    uint8_t in[4];
    EXPECT_EQ(Platform_Socket_Receive(accepted, in, sizeof in), -1);
    // Closing a registered socket takes it out of the set.
    Platform_Socket_Close(accepted);
    EXPECT_TRUE(ReadyKeys(set, 0).empty());
    Platform_Socket_WaitSetFree(set);
    Platform_Socket_Close(listener);
}

TEST(PlatformSocketWaitSet, WritableOnlyWhileWatchedAndTheBacklogCanMove) {
    Pair p;
    ASSERT_TRUE(p.a);
    const uint32_t set = Platform_Socket_WaitSetCreate();
    ASSERT_EQ(Platform_Socket_WaitSetAdd(set, p.a, 7), 1);
    // An idle socket is writable, but not reported unless watched.
    EXPECT_TRUE(ReadyKeys(set, 0).empty());
    ASSERT_EQ(Platform_Socket_WaitSetWatchWrite(set, p.a, 7, 1), 1);
    PlatformReadyEntry e{};
    ASSERT_EQ(Platform_Socket_WaitSetWait(set, &e, 1, 0), 1);
    EXPECT_EQ(e.writable, 1);
    EXPECT_EQ(e.readable, 0);

    // The peer does not read: the kernel's buffers fill and the rest waits in the backlog,
    // and a watched socket is not reported while nothing can move.
    std::vector<uint8_t> block(64 * 1024);
    uint64_t sent = 0;
    for (int i = 0; i < 400 && Platform_Socket_Backlog(p.a) == 0; ++i) {
        for (auto& byte : block) byte = uint8_t(sent++ * 7);
        ASSERT_EQ(Platform_Socket_Send(p.a, block.data(), uint32_t(block.size())),
                  int32_t(block.size()));
    }
    ASSERT_GT(Platform_Socket_Backlog(p.a), 0u);
    EXPECT_TRUE(ReadyKeys(set, 0).empty());

    // Once the peer reads, the socket is reported and every queued byte gets out in order.
    uint64_t received = 0;
    bool inOrder = true, reported = false;
    std::vector<uint8_t> in(256 * 1024);
    for (int i = 0; i < 5000 && received < sent; ++i) {
        const int32_t n = Platform_Socket_Receive(p.b, in.data(), uint32_t(in.size()));
        for (int32_t k = 0; k < n; ++k)
            inOrder = inOrder && in[size_t(k)] == uint8_t(received++ * 7);
        if (Platform_Socket_WaitSetWait(set, &e, 1, 1000) == 1 && e.writable) {
            reported = true;
            ASSERT_GE(Platform_Socket_Flush(p.a), 0);
        }
    }
    EXPECT_TRUE(reported);
    EXPECT_EQ(received, sent);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(Platform_Socket_Backlog(p.a), 0u);
    ASSERT_EQ(Platform_Socket_WaitSetWatchWrite(set, p.a, 7, 0), 1);
    EXPECT_TRUE(ReadyKeys(set, 0).empty());
    Platform_Socket_WaitSetFree(set);
}

TEST(PlatformSocketConnect, NamesAreLookedUpWithinTheDeadline) {
    Platform_Socket_Init();
    const uint32_t listener = Platform_Socket_Listen(0);
    ASSERT_NE(listener, 0u);
    const uint16_t port = Platform_Socket_LocalPort(listener);
    const uint32_t byName = Platform_Socket_Connect("localhost", port, 2000);
    EXPECT_NE(byName, 0u);
    Platform_Socket_Close(byName);
    // A name that can never resolve fails, and however slow the resolver is (a dead name
    // server here retries for many seconds) the call returns near its 1 s deadline.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Platform_Socket_Connect("no-such-host.invalid", port, 1000), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    Platform_Socket_Close(listener);
}
