// The server browser, headless, against a raw master and real or silent game servers: rows
// from "n/a" to answered or "timeout", abandoned workers, selection, refresh timing, Connect.
#include "ZelvikNetTestKit.h"

#include "Platform_Library.h"
#include "Platform_Socket.h"
#include "Vantrel_GUI_Serverlist.h"
#include "Zelvik_Engine.h"
#include "Zelvik_Server.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

namespace fs = std::filesystem;
using namespace testkit;

namespace {

const fs::path kGame = ZELVIK_GAME_DIR;

std::string InfoReply(const std::string& name) {
    std::string r(521, '\0');
    r[0] = 17;
    for (size_t i = 0; i < name.size(); ++i) r[1 + 2 * i] = name[i];
    r[513] = 2;
    for (int i = 0; i < 4; ++i) r[517 + i] = '\xff';
    return r;
}

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        previous = fs::current_path();
        dir = fs::temp_directory_path() /
              ("zelvik_browser_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
        // The client stand-in records how it was started.
        std::ofstream(dir / "zelvik") << "#!/bin/sh\necho \"$@\" > started.txt\n";
        fs::permissions(dir / "zelvik", fs::perms::owner_all);
    }
    void TearDown() override {
        // No worker may outlive the test's sockets and servers.
        const uint32_t end = NowMs() + 4000;
        while (ServerBrowser_RunningWorkers() > 0 && static_cast<int>(end - NowMs()) > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        master.reset();
        fs::current_path(previous);
        fs::remove_all(dir);
        SDL_Quit();
    }
    void WithEngine() { fs::create_directory_symlink(kGame / "dlls", dir / "dlls"); }
    // A raw master listing these body lines to every request.
    void Master(const std::string& body) {
        master = std::make_unique<RawServer>([body](int fd, int) {
            ReadFor(fd, 300, 1);
            SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n" + body);
        });
        setenv("ZELVIK_MASTER", ("127.0.0.1:" + std::to_string(master->Port())).c_str(), 1);
    }
    void GamePort(uint16_t port) { setenv("ZELVIK_GAME_PORT", std::to_string(port).c_str(), 1); }
    bool StepUntil(ServerBrowser& b, const std::function<bool()>& pred, int ms,
                   Server* pump = nullptr) {
        const uint32_t end = NowMs() + static_cast<uint32_t>(ms);
        while (!pred()) {
            if (static_cast<int>(end - NowMs()) <= 0) return false;
            if (pump) pump->ops->Process(pump);
            b.Step();
        }
        return true;
    }
    std::string Started() {
        std::ifstream in(dir / "started.txt");
        std::string line;
        std::getline(in, line);
        return line;
    }
    // A real game server from the engine library, on a free port.
    Server* GameServer(const char16_t* name) {
        void* engine = Platform_Library_Open(kEngineLibraryPath);
        if (!engine) return nullptr;
        auto create =
            reinterpret_cast<Server_CreateFn>(Platform_Library_Symbol(engine, "Server_Create"));
        // Only 127.0.0.1 answers: the server listens on that address alone.
        setenv("ZELVIK_GAME_ADDRESS", "127.0.0.1", 1);
        Server* s = create(name, 0);
        unsetenv("ZELVIK_GAME_ADDRESS");
        if (!s) return nullptr;
        GamePort(Platform_Socket_LocalPort(s->Listener));
        return s;
    }
    fs::path dir, previous;
    std::unique_ptr<RawServer> master;
};

} // namespace

TEST_F(Browser, MissingEngineShowsTheBoxAndEnds) {
    ServerBrowser b;
    testing::internal::CaptureStderr();
    EXPECT_EQ(b.Start(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Engine dll/so cannot be found\n");
}

TEST_F(Browser, EmptyListShowsNoServerOnlineAndConnectsNowhere) {
    WithEngine();
    Master("");
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    EXPECT_TRUE(b.Step()); // the first pass refreshes at once
    EXPECT_EQ(b.Generation(), 1u);
    ASSERT_EQ(b.Rows().size(), 1u);
    EXPECT_EQ(b.Rows()[0].name, "no server online");
    EXPECT_EQ(b.Rows()[0].players, "");
    EXPECT_EQ(b.Rows()[0].ping, "");
    b.SelectRow(0, true);
    b.Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists(dir / "started.txt"));
    EXPECT_EQ(b.InfoText(), "IP:\r\nName:\r\nPing:");
    b.Shutdown();
}

TEST_F(Browser, RowsGoFromNaToAnsweredOrTimeout) {
    WithEngine();
    Server* server = GameServer(u"Test Server");
    ASSERT_NE(server, nullptr);
    // 127.0.0.2 has nothing on the game port: refused, so "timeout".
    Master("127.0.0.1\n127.0.0.2\n");
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    b.Step(); // the first refresh; the game server answers only once it is processed
    ASSERT_EQ(b.Rows().size(), 2u);
    EXPECT_EQ(b.Rows()[0].name, "(127.0.0.1)");
    EXPECT_EQ(b.Rows()[0].players, "n/a");
    EXPECT_EQ(b.Rows()[0].ping, "n/a");
    EXPECT_EQ(b.Rows()[1].name, "(127.0.0.2)");
    // Clicking before the answer shows the entry as it stands.
    b.SelectRow(0, false);
    EXPECT_EQ(b.InfoText(), "IP: 127.0.0.1\r\nName: \r\nPing: 0");
    ASSERT_TRUE(StepUntil(
        b, [&] { return b.Rows()[0].ping != "n/a" && b.Rows()[1].ping != "n/a"; }, 3000, server));
    EXPECT_EQ(b.Rows()[0].name, "Test Server (127.0.0.1)");
    EXPECT_EQ(b.Rows()[0].players, "0/-1");
    EXPECT_GE(std::stoi(b.Rows()[0].ping), 0);
    EXPECT_EQ(b.Rows()[1].name, "(127.0.0.2)");
    EXPECT_EQ(b.Rows()[1].players, "n/a");
    EXPECT_EQ(b.Rows()[1].ping, "timeout");
    b.SelectRow(0, false);
    EXPECT_EQ(b.InfoText(), "IP: 127.0.0.1\r\nName: Test Server\r\nPing: " + b.Rows()[0].ping);
    b.SelectRow(1, false);
    EXPECT_EQ(b.InfoText(), "IP: 127.0.0.2\r\nName: \r\nPing: -1");
    // A double click starts the client connected to that server.
    b.SelectRow(0, true);
    const uint32_t end = NowMs() + 3000;
    while (Started().empty() && static_cast<int>(end - NowMs()) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Started(), "/c 127.0.0.1");
    b.Shutdown();
    server->ops->Free(server);
}

TEST_F(Browser, RefreshAbandonsABlockedQuery) {
    WithEngine();
    // The first query to this server gets no answer; later ones are answered at once.
    std::mutex keptLock;
    std::vector<int> kept;
    RawServer game(
        [&](int fd, int index) {
            if (index == 0) {
                std::lock_guard lock(keptLock);
                kept.push_back(dup(fd)); // held open, never answered
                return;
            }
            if (ReadFor(fd, 1000, 1).size() == 1) SendAll(fd, InfoReply("Second"));
        },
        "127.0.0.3");
    ASSERT_TRUE(game.Ok());
    GamePort(game.Port());
    Master("127.0.0.3\n");
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    const uint32_t first = NowMs();
    b.Step(); // the first refresh
    ASSERT_TRUE(StepUntil(
        b, [&] { return game.Accepted() == 1; }, 1000));
    StepUntil(
        b, [] { return false; }, 300);
    EXPECT_EQ(b.Rows()[0].ping, "n/a");
    b.Refresh(); // the blocked worker is abandoned, its row starts again
    EXPECT_EQ(b.Rows()[0].ping, "n/a");
    ASSERT_TRUE(StepUntil(
        b, [&] { return b.Rows()[0].ping != "n/a"; }, 2000));
    EXPECT_EQ(b.Rows()[0].name, "Second (127.0.0.3)");
    EXPECT_EQ(b.Rows()[0].players, "2/-1");
    // The abandoned worker times out meanwhile; it must never write into the new row.
    StepUntil(
        b, [&] { return NowMs() - first > 2600; }, 3000);
    EXPECT_EQ(ServerBrowser_RunningWorkers(), 0);
    EXPECT_EQ(b.Rows()[0].name, "Second (127.0.0.3)");
    EXPECT_NE(b.Rows()[0].ping, "timeout");
    b.SelectRow(0, false);
    EXPECT_EQ(b.InfoText().find("Ping: -1"), std::string::npos) << b.InfoText();
    b.Shutdown();
    for (int fd : kept) close(fd);
}

TEST_F(Browser, SelectionStaysByIndexAndTimedRefreshKeepsItsPace) {
    WithEngine();
    const uint16_t port = FreePort();
    GamePort(port); // nothing answers: every row times out at once
    Master("127.0.0.5\n127.0.0.6\n");
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    const uint32_t start = NowMs();
    b.Step();
    ASSERT_EQ(b.Generation(), 1u);
    b.SelectRow(1, false);
    StepUntil(
        b, [] { return false; }, 1000);
    EXPECT_EQ(b.Generation(), 1u); // no refresh within five seconds
    b.Refresh();                   // "Refresh" does not move the timer
    EXPECT_EQ(b.Generation(), 2u);
    EXPECT_EQ(b.Selected(), 1);
    EXPECT_EQ(b.Rows()[1].name, "(127.0.0.6)");
    ASSERT_TRUE(StepUntil(
        b, [&] { return b.Generation() == 3; }, 7000));
    const uint32_t timed = NowMs() - start;
    EXPECT_GE(timed, 5000u);
    EXPECT_LT(timed, 5900u);
    EXPECT_EQ(b.Selected(), 1);
    // Connect uses the selected row's server.
    b.Connect();
    const uint32_t end = NowMs() + 3000;
    while (Started().empty() && static_cast<int>(end - NowMs()) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Started(), "/c 127.0.0.6");
    b.Shutdown();
}

// A master can list any number of addresses: the queries share a fixed pool of threads, and
// the window keeps answering while they crawl through a long list of silent servers.
TEST_F(Browser, AHugeListRunsOnABoundedPoolAndTheWindowKeepsAnswering) {
    WithEngine();
    auto threads = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& t : fs::directory_iterator("/proc/self/task")) ++n;
        return n;
    };
    // Connects, never answers: every query waits out its limit. The backlog holds them all,
    // so no connection is refused and the pool is really kept busy.
    uint16_t port = 0;
    const int silent = ListenOn("127.0.0.1", 0, &port);
    ASSERT_EQ(listen(silent, 4096), 0);
    GamePort(port);
    std::string body;
    for (int i = 0; i < 40000; ++i) body += "127.0.0.1\n";
    Master(body);
    const size_t before = threads();
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    b.Step();
    ASSERT_GT(b.Rows().size(), static_cast<size_t>(kBrowserWorkers));
    EXPECT_EQ(b.Rows().back().name, "(127.0.0.1)");
    size_t most = 0;
    uint32_t slowest = 0;
    const uint32_t end = NowMs() + 1500;
    while (static_cast<int>(end - NowMs()) > 0) {
        const uint32_t start = NowMs();
        ASSERT_TRUE(b.Step());
        slowest = std::max(slowest, NowMs() - start);
        most = std::max(most, threads());
    }
    // The pool, and SDL's own few threads at most.
    EXPECT_LE(most, before + kBrowserWorkers + 4);
    EXPECT_LT(slowest, 1000u);
    EXPECT_GT(ServerBrowser_RunningWorkers(), 0);
    EXPECT_LE(ServerBrowser_RunningWorkers(), kBrowserWorkers);
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = b.WindowId();
    SDL_PushEvent(&close);
    EXPECT_FALSE(b.Step());
    b.Shutdown();
    ::close(silent);
}
