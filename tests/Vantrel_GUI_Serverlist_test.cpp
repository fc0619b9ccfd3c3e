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

TEST_F(Browser, ARefreshKeepsAQueryUnderWayForTheServerListedAgain) {
    WithEngine();
    // The server answers its first query only once the test has refreshed the list.
    std::atomic<bool> refreshed{false};
    RawServer game(
        [&](int fd, int) {
            if (ReadFor(fd, 1000, 1).size() != 1) return;
            const uint32_t end = NowMs() + 1500;
            while (!refreshed && static_cast<int>(end - NowMs()) > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            SendAll(fd, InfoReply("Slow"));
        },
        "127.0.0.3");
    ASSERT_TRUE(game.Ok());
    GamePort(game.Port());
    Master("127.0.0.3\n");
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    b.Step(); // the first refresh
    ASSERT_TRUE(StepUntil(
        b, [&] { return game.Accepted() == 1; }, 1000));
    EXPECT_EQ(b.Rows()[0].ping, "n/a");
    b.Refresh(); // the row starts again, the query goes on
    EXPECT_EQ(b.Rows()[0].ping, "n/a");
    refreshed = true;
    ASSERT_TRUE(StepUntil(
        b, [&] { return b.Rows()[0].ping != "n/a"; }, 3000));
    EXPECT_EQ(b.Rows()[0].name, "Slow (127.0.0.3)");
    EXPECT_EQ(b.Rows()[0].players, "2/-1");
    EXPECT_EQ(game.Accepted(), 1); // no second query was needed
    b.SelectRow(0, false);
    EXPECT_EQ(b.InfoText(), "IP: 127.0.0.3\r\nName: Slow\r\nPing: " + b.Rows()[0].ping);
    b.Shutdown();
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

// 110 servers that accept and never answer, listed ahead of a live one: every query runs at
// once, so the live row answers before any silent one has even timed out, the silent rows all
// end in "timeout", and no thread is spent per server.
TEST_F(Browser, SilentServersAheadOfALiveOneDoNotHoldUpItsAnswer) {
    WithEngine();
    auto threads = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& t : fs::directory_iterator("/proc/self/task")) ++n;
        return n;
    };
    Server* live = GameServer(u"Live");
    ASSERT_NE(live, nullptr);
    const uint16_t port = Platform_Socket_LocalPort(live->Listener);
    constexpr int kSilent = 110;
    SilentListeners silent;
    std::string body;
    for (int i = 0; i < kSilent; ++i) {
        const std::string ip = "127.0.0." + std::to_string(2 + i);
        ASSERT_TRUE(silent.Add(ip, port)) << ip;
        body += ip + "\n";
    }
    body += "127.0.0.1\n";
    silent.Start();
    Master(body);
    const size_t before = threads();
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    b.Step();
    ASSERT_EQ(b.Rows().size(), static_cast<size_t>(kSilent + 1));
    EXPECT_EQ(b.RunningQueries(), kSilent + 1);
    auto timedOut = [&] {
        int n = 0;
        for (int i = 0; i < kSilent; ++i) n += b.Rows()[static_cast<size_t>(i)].ping == "timeout";
        return n;
    };
    size_t most = 0;
    int timedOutBeforeAnswer = -1;
    ASSERT_TRUE(StepUntil(
        b,
        [&] {
            most = std::max(most, threads());
            if (b.Rows()[kSilent].ping == "n/a") return false;
            timedOutBeforeAnswer = timedOut();
            return true;
        },
        8000, live));
    EXPECT_EQ(timedOutBeforeAnswer, 0);
    EXPECT_EQ(b.Rows()[kSilent].name, "Live (127.0.0.1)");
    ASSERT_TRUE(StepUntil(
        b, [&] { return timedOut() == kSilent; }, 8000, live));
    for (int i = 0; i < kSilent; ++i) {
        EXPECT_EQ(b.Rows()[static_cast<size_t>(i)].players, "n/a");
        EXPECT_EQ(b.Rows()[static_cast<size_t>(i)].ping, "timeout");
    }
    EXPECT_EQ(b.RunningQueries(), 0);
    // The query thread, and SDL's own few threads at most.
    EXPECT_LE(most, before + 5);
    b.Shutdown();
    live->ops->Free(live);
}

// The Information panel shows the selected row's server, never one that left the list; a
// master that cannot be reached is told apart from an empty list.
TEST_F(Browser, InformationFollowsTheListAndAnUnreachableMasterIsTold) {
    WithEngine();
    GamePort(FreePort()); // nothing answers: rows time out at once
    auto body = std::make_shared<std::string>("127.0.0.5\n127.0.0.6\n");
    auto bodyLock = std::make_shared<std::mutex>();
    master = std::make_unique<RawServer>([body, bodyLock](int fd, int) {
        ReadFor(fd, 300, 1);
        std::string now;
        {
            std::lock_guard guard(*bodyLock);
            now = *body;
        }
        SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n" + now);
    });
    const std::string where = "127.0.0.1:" + std::to_string(master->Port());
    setenv("ZELVIK_MASTER", where.c_str(), 1);
    ServerBrowser b;
    ASSERT_EQ(b.Start(), 0);
    b.Step();
    b.SelectRow(1, false);
    EXPECT_EQ(b.InfoText().rfind("IP: 127.0.0.6\r\n", 0), 0u) << b.InfoText();
    // Another server now stands in the selected row: the panel shows it.
    {
        std::lock_guard guard(*bodyLock);
        *body = "127.0.0.5\n127.0.0.7\n";
    }
    b.Refresh();
    EXPECT_EQ(b.Selected(), 1);
    EXPECT_EQ(b.InfoText().rfind("IP: 127.0.0.7\r\n", 0), 0u) << b.InfoText();
    // The row is gone: so is the panel's server.
    {
        std::lock_guard guard(*bodyLock);
        *body = "127.0.0.5\n";
    }
    b.Refresh();
    EXPECT_EQ(b.Selected(), -1);
    EXPECT_EQ(b.InfoText(), "IP:\r\nName:\r\nPing:");
    // An empty list from a master that answered.
    {
        std::lock_guard guard(*bodyLock);
        body->clear();
    }
    b.Refresh();
    ASSERT_EQ(b.Rows().size(), 1u);
    EXPECT_EQ(b.Rows()[0].name, "no server online");
    // No master at all.
    master.reset();
    b.Refresh();
    ASSERT_EQ(b.Rows().size(), 1u);
    EXPECT_EQ(b.Rows()[0].name, "Could not reach the master " + where + ": Connection refused");
    b.Shutdown();
}
