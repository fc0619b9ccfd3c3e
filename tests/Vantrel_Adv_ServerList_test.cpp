// The master-server list: line splitting, the HTTP download against zelvik_master and raw
// servers with awkward answers, register/list/query round trips with real game servers.
#include "ZelvikNetTestKit.h"

#include "DoublyLinkedList.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_Server.h"
#include "Vantrel_Adv_ServerList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using namespace testkit;

namespace {

const std::string kMaster = std::string(ZELVIK_GAME_DIR) + "/zelvik_master";

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

std::vector<std::pair<uint32_t, std::string>> Lines(const std::vector<HttpLine>& lines) {
    std::vector<std::pair<uint32_t, std::string>> out;
    for (const HttpLine& l : lines)
        out.push_back({l.kind, std::string(l.text.begin(), l.text.end())});
    return out;
}

// Lists have no free operation; keeping them here keeps them reachable to the leak checker.
std::vector<ServerList*>* keptLists = new std::vector<ServerList*>;
ServerList* Get() {
    ServerList* list = ServerList_Get();
    keptLists->push_back(list);
    return list;
}
int32_t CountNow() {
    ServerList* list = Get();
    return list ? list->ops->Count(list) : -1;
}

// A raw master: reads the request, sends the canned answer, closes.
std::unique_ptr<RawServer> Answering(const std::string& answer) {
    return std::make_unique<RawServer>([answer](int fd, int) {
        ReadFor(fd, 200, 1);
        SendAll(fd, answer);
    });
}

void PointMasterAt(uint16_t port) {
    setenv("ZELVIK_MASTER", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
}

std::vector<uint32_t> Addresses(ServerList* list) {
    std::vector<uint32_t> out;
    for (int32_t i = 0; i < list->ops->Count(list); ++i)
        out.push_back(list->ops->GetEntry(list, i)->address);
    return out;
}

// The stored value of a.b.c.d.
constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a | b << 8 | c << 16 | d << 24;
}

std::string Name(const ServerInfo& info) {
    std::string s;
    for (char16_t c : info.name) {
        if (!c) break;
        s.push_back(static_cast<char>(c));
    }
    return s;
}

// A 521-byte info answer.
std::string InfoReply(const std::string& name, uint32_t players, int32_t maximum) {
    std::string r(521, '\0');
    r[0] = 17;
    for (size_t i = 0; i < name.size() && i < 256; ++i) r[1 + 2 * i] = name[i];
    for (int i = 0; i < 4; ++i) {
        r[513 + i] = static_cast<char>(players >> (8 * i));
        r[517 + i] = static_cast<char>(static_cast<uint32_t>(maximum) >> (8 * i));
    }
    return r;
}

// A ServerList with the given body lines, fetched from a raw master.
ServerList* ListOf(const std::string& body) {
    auto master = Answering("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body);
    PointMasterAt(master->Port());
    return Get();
}

// Pumps servers on this thread until every query thread is done.
void QueryWhilePumping(const std::vector<ServerInfo*>& infos, const std::vector<Server*>& servers,
                       std::vector<uint32_t>* took = nullptr) {
    std::atomic<int> left{static_cast<int>(infos.size())};
    std::vector<std::thread> threads;
    if (took) took->assign(infos.size(), 0);
    for (size_t i = 0; i < infos.size(); ++i)
        threads.emplace_back([&, i] {
            const uint32_t start = NowMs();
            infos[i]->ops->Query(infos[i]);
            if (took) (*took)[i] = NowMs() - start;
            --left;
        });
    while (left > 0) {
        for (Server* s : servers) s->ops->Process(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto& t : threads) t.join();
}

// A real game server listening on ip:port only (the engine's own listener opens every
// address, so the test puts one of its own in its place).
Server* ServerOn(const char* ip, uint16_t port, const char16_t* name) {
    setenv("ZELVIK_GAME_ADDRESS", ip, 1);
    Server* s = Server_Create(name, port);
    unsetenv("ZELVIK_GAME_ADDRESS");
    return s;
}

class ServerListEnv : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("ZELVIK_MASTER");
        unsetenv("ZELVIK_GAME_PORT");
    }
    void TearDown() override {
        unsetenv("ZELVIK_MASTER");
        unsetenv("ZELVIK_GAME_PORT");
    }
};

} // namespace

TEST(HttpLines, HeaderUntilTheFirstEmptyLineThenBody) {
    std::vector<HttpLine> lines;
    Http_SplitLines(Bytes("HTTP/1.0 200 OK\r\nA: b\r\n\r\n10.0.0.1\n\n192.168.1.20\n"), &lines);
    EXPECT_EQ(Lines(lines), (std::vector<std::pair<uint32_t, std::string>>{{0, "HTTP/1.0 200 OK"},
                                                                           {0, "A: b"},
                                                                           {1, "10.0.0.1"},
                                                                           {1, ""},
                                                                           {1, "192.168.1.20"},
                                                                           {1, ""}}));
    // Only the first empty line separates; a body without a final LF keeps its last line.
    Http_SplitLines(Bytes("H\n\n\nx"), &lines);
    EXPECT_EQ(Lines(lines),
              (std::vector<std::pair<uint32_t, std::string>>{{0, "H"}, {1, ""}, {1, "x"}}));
    // No empty line at all: everything is header.
    Http_SplitLines(Bytes("a\r\nb"), &lines);
    EXPECT_EQ(Lines(lines), (std::vector<std::pair<uint32_t, std::string>>{{0, "a"}, {0, "b"}}));
    // Byte 0 ends a line too; bytes are taken one for one, not decoded.
    Http_SplitLines({'a', 0, 'b', 0xC3, 0xA9}, &lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, (std::u16string{u'b', char16_t(0xC3), char16_t(0xA9)}));
    Http_SplitLines({}, &lines);
    EXPECT_TRUE(lines.empty());
}

TEST(ServerAddress, ParsesDottedFieldsAndSkipsBadLines) {
    uint32_t a = 0;
    ASSERT_TRUE(ServerList_ParseAddress(u"10.0.0.1", &a));
    EXPECT_EQ(a, 0x0100000Au);
    ASSERT_TRUE(ServerList_ParseAddress(u"192.168.1.20", &a));
    EXPECT_EQ(a, 0x1401A8C0u);
    ASSERT_TRUE(ServerList_ParseAddress(u"1.2.3", &a));
    EXPECT_EQ(a, Ip(1, 2, 3, 0));
    ASSERT_TRUE(
        ServerList_ParseAddress(u"1..3.4.99", &a)); // an empty field is 0; a fifth is ignored
    EXPECT_EQ(a, Ip(1, 0, 3, 4));
    for (const char16_t* bad : {u"", u"256.1.1.1", u"1.2.3.4x", u"1.2.3.4 ", u"-1.2.3.4",
                                u"host.example", u"99999999999999999999.1.1.1"})
        EXPECT_FALSE(ServerList_ParseAddress(bad, &a));
    EXPECT_EQ(ServerList_AddressText(0x1401A8C0u), "192.168.1.20");
}

TEST_F(ServerListEnv, MasterHostComesFromTheEnvironment) {
    std::string host;
    uint16_t port = 1;
    ServerList_MasterHost(&host, &port);
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 80);
    setenv("ZELVIK_MASTER", "master.example", 1);
    ServerList_MasterHost(&host, &port);
    EXPECT_EQ(host, "master.example");
    EXPECT_EQ(port, 80);
    setenv("ZELVIK_MASTER", "10.1.2.3:8080", 1);
    ServerList_MasterHost(&host, &port);
    EXPECT_EQ(host, "10.1.2.3");
    EXPECT_EQ(port, 8080);
    for (const char* bad : {"h:", "h:0", "h:65536", "h:8o"}) {
        setenv("ZELVIK_MASTER", bad, 1);
        ServerList_MasterHost(&host, &port);
        EXPECT_EQ(port, 0) << bad;
    }
}

TEST_F(ServerListEnv, DownloadSendsTheExactRequestAndSplitsTheAnswer) {
    RawServer* raw = nullptr; // the handler records the request on its own server
    auto server = std::make_unique<RawServer>([&raw](int fd, int) {
        raw->ReadRequest(fd);
        SendAll(fd, "HTTP/1.0 200 OK\r\nServer: raw\r\n\r\n10.0.0.1\n192.168.1.20\n");
    });
    raw = server.get();
    std::vector<HttpLine> lines = {{0, u"old"}};
    ASSERT_EQ(DownloadFileToLL("127.0.0.1", server->Port(), "/zelvikserver.txt", &lines), 1);
    EXPECT_EQ(server->request,
              "GET /zelvikserver.txt HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(Lines(lines), (std::vector<std::pair<uint32_t, std::string>>{{0, "HTTP/1.0 200 OK"},
                                                                           {0, "Server: raw"},
                                                                           {1, "10.0.0.1"},
                                                                           {1, "192.168.1.20"},
                                                                           {1, ""}}));

    // The list form holds the same lines and frees its texts when cleared.
    DoublyLinkedList* list = DoublyLinkedList_Create(sizeof(DownloadLine));
    ASSERT_EQ(DownloadFileToDoublyLL("127.0.0.1", server->Port(), "/x", list), 1);
    ASSERT_EQ(list->Count, 5);
    auto* third = static_cast<DownloadLine*>(DoublyLinkedList_SelectElement(list, 2));
    EXPECT_EQ(third->kind, kLineBody);
    EXPECT_EQ(std::u16string(third->text, third->length), u"10.0.0.1");
    DownloadLines_Clear(list);
    EXPECT_EQ(list->Count, 0);
    DoublyLinkedList_FreeList(list);
}

TEST_F(ServerListEnv, FailedDownloadsLeaveTheLinesAlone) {
    std::vector<HttpLine> lines = {{1, u"kept"}};
    // Nothing listens there.
    const uint16_t port = FreePort();
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", port, "/zelvikserver.txt", &lines), 0);
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", 0, "/zelvikserver.txt", &lines), 0);
    // An answer over the size bound is refused as a whole.
    auto big = Answering("HTTP/1.0 200 OK\r\n\r\n" + std::string(kDownloadMaxBytes + 10, '1'));
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", big->Port(), "/zelvikserver.txt", &lines), 0);
    // So is one of too many lines.
    auto many = Answering(std::string(kDownloadMaxLines + 5, '\n'));
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", many->Port(), "/zelvikserver.txt", &lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, u"kept");
    // A server that closes without a byte gives no line.
    auto empty = Answering("");
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", empty->Port(), "/zelvikserver.txt", &lines), 0);
}

TEST_F(ServerListEnv, ServerThatNeverClosesEndsTwoSecondsAfterItsLastChunk) {
    std::atomic<bool> release{false};
    RawServer server([&](int fd, int) {
        ReadFor(fd, 200, 1);
        SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n10.0.0.1\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SendAll(fd, "10.0.0.2\n");
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    std::vector<HttpLine> lines;
    const uint32_t start = NowMs();
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", server.Port(), "/zelvikserver.txt", &lines), 1);
    const uint32_t took = NowMs() - start;
    release = true;
    EXPECT_GE(took, 2200u);
    EXPECT_LT(took, 4500u);
    EXPECT_EQ(Lines(lines).back(), (std::pair<uint32_t, std::string>{1, ""}));
    EXPECT_EQ(lines.size(), 4u);
}

TEST_F(ServerListEnv, SilentServerTimesOutAfterFiveSeconds) {
    std::atomic<bool> release{false};
    RawServer server([&](int, int) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    std::vector<HttpLine> lines;
    const uint32_t start = NowMs();
    EXPECT_EQ(DownloadFileToLL("127.0.0.1", server.Port(), "/zelvikserver.txt", &lines), 0);
    const uint32_t took = NowMs() - start;
    release = true;
    EXPECT_GE(took, 4900u);
    EXPECT_LT(took, 6500u);
}

TEST_F(ServerListEnv, ListTakesTheBodyAddressesOnly) {
    ServerList* list = ListOf("10.0.0.1\n\n192.168.1.20\n1.2.3\nbad\n256.0.0.1\n");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Addresses(list), (std::vector<uint32_t>{0x0100000Au, 0x1401A8C0u, Ip(1, 2, 3, 0)}));
    ServerInfo* first = list->ops->GetEntry(list, 0);
    EXPECT_EQ(first->ping, 0);
    EXPECT_EQ(Name(*first), "");
    EXPECT_NE(first->ops, nullptr);
    EXPECT_EQ(list->ops->GetEntry(list, 3), nullptr);
    EXPECT_EQ(list->ops->GetEntry(list, -1), nullptr);

    // No empty line: only header lines, so no server.
    auto headersOnly = Answering("HTTP/1.0 200 OK\r\n10.0.0.1\r\n");
    PointMasterAt(headersOnly->Port());
    EXPECT_EQ(CountNow(), 0);
}

TEST_F(ServerListEnv, UnreachableMasterGivesAnEmptyListAndRegisterFails) {
    const uint16_t port = FreePort();
    PointMasterAt(port);
    EXPECT_EQ(CountNow(), 0);
    EXPECT_EQ(Server_Register(nullptr), 0);
    EXPECT_EQ(Server_Unregister(nullptr), 0);
}

TEST_F(ServerListEnv, ListIsBoundedAgainstAHostileMaster) {
    std::string body;
    for (uint32_t i = 0; i < kServerListMaxEntries + 50; ++i)
        body += "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + "\n";
    ServerList* list = ListOf(body);
    EXPECT_EQ(list->ops->Count(list), static_cast<int32_t>(kServerListMaxEntries));

    // A master that never stops sending: the download stops at the cap and keeps the first
    // addresses instead of reading on to the size bound and throwing the list away.
    std::atomic<uint32_t> sent{0};
    RawServer endless([&](int fd, int) {
        ReadFor(fd, 200, 1);
        if (!SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n")) return;
        for (uint32_t i = 0; i < 1000000; ++i, ++sent)
            if (!SendAll(fd, "10." + std::to_string(i >> 16) + "." + std::to_string(i >> 8 & 255) +
                                 "." + std::to_string(i & 255) + "\n"))
                return;
    });
    PointMasterAt(endless.Port());
    const uint32_t start = NowMs();
    list = Get();
    EXPECT_LT(NowMs() - start, 2000u);
    ASSERT_EQ(list->ops->Count(list), static_cast<int32_t>(kServerListMaxEntries));
    EXPECT_EQ(list->ops->GetEntry(list, 0)->address, Ip(10, 0, 0, 0));
    EXPECT_EQ(list->ops->GetEntry(list, kServerListMaxEntries - 1)->address,
              Ip(10, 0, (kServerListMaxEntries - 1) >> 8, (kServerListMaxEntries - 1) & 255));
    EXPECT_LT(sent.load(), 1000000u);
}

TEST_F(ServerListEnv, QueryReadsTheInfoAnswer) {
    // A split answer is put together; the name keeps all 256 units.
    const std::string longName(256, 'n');
    RawServer split([&](int fd, int) {
        if (ReadFor(fd, 1000, 1) != std::string(1, '\x10')) return;
        const std::string r = InfoReply(longName, 3, -1);
        SendAll(fd, r.substr(0, 100));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        SendAll(fd, r.substr(100));
    });
    setenv("ZELVIK_GAME_PORT", std::to_string(split.Port()).c_str(), 1);
    ServerList* list = ListOf("127.0.0.1\n");
    ServerInfo* info = list->ops->GetEntry(list, 0);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->ops->Query(info), 0);
    EXPECT_EQ(Name(*info), longName);
    EXPECT_EQ(info->players, 3u);
    EXPECT_EQ(info->maximum, -1);
    EXPECT_GE(info->ping, 90);
    EXPECT_LT(info->ping, 1500);
}

TEST_F(ServerListEnv, QueryKeepsOldValuesOnAForeignAnswerAndTimesOutOnNone) {
    RawServer foreign([](int fd, int) {
        ReadFor(fd, 1000, 1);
        SendAll(fd, "X" + std::string(600, 'y'));
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    });
    setenv("ZELVIK_GAME_PORT", std::to_string(foreign.Port()).c_str(), 1);
    ServerList* list = ListOf("127.0.0.1\n");
    ServerInfo* info = list->ops->GetEntry(list, 0);
    info->ping = 77;
    info->players = 5;
    uint32_t start = NowMs();
    info->ops->Query(info);
    EXPECT_LT(NowMs() - start, 1500u); // ends at once, not at the time limit
    EXPECT_EQ(info->ping, 77);
    EXPECT_EQ(info->players, 5u);

    // A server that closes without answering, and one that is not there: ping -1 at once.
    RawServer closing([](int, int) {});
    setenv("ZELVIK_GAME_PORT", std::to_string(closing.Port()).c_str(), 1);
    list = ListOf("127.0.0.1\n127.0.0.9\n");
    ServerInfo* closed = list->ops->GetEntry(list, 0);
    ServerInfo* absent = list->ops->GetEntry(list, 1);
    start = NowMs();
    closed->ops->Query(closed);
    absent->ops->Query(absent);
    EXPECT_LT(NowMs() - start, 1500u);
    EXPECT_EQ(closed->ping, -1);
    EXPECT_EQ(absent->ping, -1);
    EXPECT_EQ(closed->players, 0u);
}

TEST_F(ServerListEnv, SilentServerGivesMinusOneWhileOthersAnswerInParallel) {
    // Two real game servers and one that accepts and never answers, each on its own loopback
    // address and all on one port, as servers on separate hosts would be.
    uint16_t port = 0;
    int probe = ListenOn("127.0.0.2", 0, &port);
    ASSERT_GE(probe, 0);
    close(probe);
    Server* a = ServerOn("127.0.0.2", port, u"Alpha");
    Server* b = ServerOn("127.0.0.3", port, u"Beta");
    const int silent = ListenOn("127.0.0.4", port, nullptr);
    ASSERT_TRUE(a && b && silent >= 0) << "port " << port << " is taken on a loopback address";
    setenv("ZELVIK_GAME_PORT", std::to_string(port).c_str(), 1);
    ServerList* list = ListOf("127.0.0.2\n127.0.0.3\n127.0.0.4\n");
    ASSERT_EQ(list->ops->Count(list), 3);
    std::vector<ServerInfo*> infos = {list->ops->GetEntry(list, 0), list->ops->GetEntry(list, 1),
                                      list->ops->GetEntry(list, 2)};
    std::vector<uint32_t> took;
    const uint32_t start = NowMs();
    QueryWhilePumping(infos, {a, b}, &took);
    const uint32_t total = NowMs() - start;
    EXPECT_EQ(Name(*infos[0]), "Alpha");
    EXPECT_EQ(Name(*infos[1]), "Beta");
    EXPECT_EQ(infos[0]->maximum, -1);
    EXPECT_EQ(infos[0]->players, 0u);
    EXPECT_GE(infos[0]->ping, 0);
    EXPECT_LT(took[0], 1000u);
    EXPECT_LT(took[1], 1000u);
    EXPECT_EQ(infos[2]->ping, -1);
    EXPECT_GE(took[2], 1900u);
    EXPECT_LT(took[2], 3000u);
    EXPECT_LT(total, 3500u); // the queries ran side by side
    close(silent);
    Server_Free(a);
    Server_Free(b);
}

TEST_F(ServerListEnv, RegisterListQueryUnregisterWithTheRealMaster) {
    const fs::path state =
        fs::temp_directory_path() / ("zelvik_list_state_" + std::to_string(getpid()));
    fs::remove(state);
    MasterProcess master(kMaster, state.string());
    ASSERT_NE(master.Port(), 0);
    setenv("ZELVIK_MASTER", master.HostPort().c_str(), 1);

    Server* s = Server_Create(u"Round trip", 0);
    ASSERT_NE(s, nullptr);
    setenv("ZELVIK_GAME_PORT", std::to_string(Server_GetPort(s)).c_str(), 1);
    EXPECT_EQ(s->ops->Register(s), 1);
    ServerList* list = Get();
    ASSERT_EQ(Addresses(list), (std::vector<uint32_t>{Ip(127, 0, 0, 1)}));
    ServerInfo* info = list->ops->GetEntry(list, 0);
    QueryWhilePumping({info}, {s});
    EXPECT_EQ(Name(*info), "Round trip");
    EXPECT_EQ(info->maximum, -1);
    EXPECT_NE(info->ping, -1);

    EXPECT_EQ(s->ops->Unregister(s), 1);
    EXPECT_EQ(CountNow(), 0);
    // Freeing a registered server takes it off the list as well.
    EXPECT_EQ(s->ops->Register(s), 1);
    EXPECT_EQ(CountNow(), 1);
    Server_Free(s);
    EXPECT_EQ(CountNow(), 0);
    master.Stop();
    fs::remove(state);
}
