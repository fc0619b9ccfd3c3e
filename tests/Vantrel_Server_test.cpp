// The dedicated-server window, headless: settings, layout, error ends, registration through
// the Public box, the title rule, the log and the second window.
#include "ZelvikNetTestKit.h"

#include "Vantrel_Server.h"
#include "Zelvik_Server.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace testkit;

namespace {

const fs::path kGame = ZELVIK_GAME_DIR;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A working folder of its own with the run folder's libraries, so no test touches the
// shipped settings.
class ServerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = fs::current_path();
        dir = fs::temp_directory_path() /
              ("zelvik_server_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);
        // A free port for the game server, and a master that nothing answers at.
        uint16_t port = FreePort();
        gamePort = port;
        setenv("ZELVIK_GAME_PORT", std::to_string(port).c_str(), 1);
        port = FreePort();
        setenv("ZELVIK_MASTER", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(dir);
        SDL_Quit();
    }
    void WithEngine() { fs::create_directory_symlink(kGame / "dlls", dir / "dlls"); }
    void Settings(const std::string& text) {
        std::ofstream(dir / "Zelvik_Server.ini", std::ios::binary) << text;
    }
    // Runs passes until pred holds (at most ms).
    bool StepUntil(ServerWindow& w, const std::function<bool()>& pred, int ms = 3000) {
        const uint32_t end = NowMs() + static_cast<uint32_t>(ms);
        while (!pred()) {
            if (static_cast<int>(end - NowMs()) <= 0) return false;
            if (!w.Step()) return pred();
        }
        return true;
    }
    bool LogHas(const ServerWindow& w, const std::string& part) {
        for (const std::string& line : w.Log())
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    int Connect() {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(gamePort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        return fd;
    }
    void HelloAndJoin(int fd, const std::string& name) {
        std::string hello(9, '\0');
        hello[0] = 18;
        const uint64_t version = 0x0002000100000000ull;
        for (int i = 0; i < 8; ++i) hello[1 + i] = static_cast<char>(version >> (8 * i));
        std::string join(513, '\0');
        join[0] = 19;
        for (size_t i = 0; i < name.size(); ++i) join[1 + 2 * i] = name[i];
        SendAll(fd, hello + join);
    }
    fs::path dir, previous;
    uint16_t gamePort = 0;
};

} // namespace

TEST(ServerSettingsFile, ModeKeysNameAndDefaults) {
    const fs::path file =
        fs::temp_directory_path() / ("zelvik_settings_" + std::to_string(getpid()));
    auto read = [&](const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
        return ServerWindow_ReadSettings(file.string());
    };
    ServerSettings s = read("Name = %m Cup\r\nMode1 = KOVRA1\r\nMode2 = \r\nMode3 = PEXA Death\r\n"
                            "Public = 1\r\nRotationSystem = Dalmor WEXO\r\nRandomizer = Other\r\n");
    EXPECT_EQ(s.modes, (std::vector<std::u16string>{u"KOVRA1"})); // reading stops at Mode2
    EXPECT_EQ(s.name, u"KOVRA1 Cup");
    EXPECT_EQ(s.isPublic, 1);
    EXPECT_EQ(s.rotationSystem, u"Dalmor WEXO");
    EXPECT_EQ(s.randomizer, u"Other");

    s = read("Mode0 = KOVRA1\nMode2 = PEXA Death\n");
    EXPECT_TRUE(s.modes.empty());
    fs::remove(file);
    s = ServerWindow_ReadSettings(file.string());
    EXPECT_EQ(s.name, u"Zelvik_Server");
    EXPECT_EQ(s.isPublic, 0);
    EXPECT_EQ(s.rotationSystem, u"DORVO");
    EXPECT_EQ(s.randomizer, u"PEXA");
    EXPECT_TRUE(s.modes.empty());

    // "%m" without a mode stays as written; with one, every "%m" is replaced.
    EXPECT_EQ(ServerWindow_ReplaceMode(u"%m server", {}), u"%m server");
    EXPECT_EQ(ServerWindow_ReplaceMode(u"%m/%m %", {u"M", u"N"}), u"M/M %");
}

TEST(ServerLayoutRule, ControlsFollowTheClientArea) {
    const ServerLayout l = ServerWindow_Layout(400, 300);
    auto same = [](ServerRect a, ServerRect b) {
        return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
    };
    EXPECT_TRUE(same(l.log, {5, 5, 390, 265}));
    EXPECT_TRUE(same(l.clear, {5, 275, 123, 20}));
    EXPECT_TRUE(same(l.showPlayer, {138, 275, 123, 20}));
    EXPECT_TRUE(same(l.publicBox, {271, 275, 123, 20}));
    const ServerLayout big = ServerWindow_Layout(1000, 500);
    EXPECT_TRUE(same(big.publicBox, {671, 475, 323, 20}));
    EXPECT_TRUE(same(big.log, {5, 5, 990, 465}));
}

TEST_F(ServerWindowTest, MissingEngineEndsBeforeTheWindow) {
    Settings("Public = 1\r\n");
    ServerWindow w;
    testing::internal::CaptureStderr();
    EXPECT_EQ(w.Start(), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: Could not open Zelvik_Engine.dll"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(dir / "Zelvik_Server.ini"), "Public = 1\r\n"); // nothing written back
}

TEST_F(ServerWindowTest, TakenPortEndsWithCouldNotStartServer) {
    WithEngine();
    uint16_t port = 0;
    const int taken = ListenOn("0.0.0.0", 0, &port);
    setenv("ZELVIK_GAME_PORT", std::to_string(port).c_str(), 1);
    ServerWindow w;
    testing::internal::CaptureStderr();
    EXPECT_EQ(w.Start(), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Error: Could not start server"),
              std::string::npos);
    close(taken);
    EXPECT_FALSE(fs::exists(dir / "Zelvik_Server.ini"));
}

TEST_F(ServerWindowTest, ShippedSettingsLoadOneModeAndItsRules) {
    WithEngine();
    fs::copy_file(kGame / "Zelvik_Server.ini", dir / "Zelvik_Server.ini");
    ServerWindow w;
    ASSERT_EQ(w.Start(), 0);
    EXPECT_EQ(w.Settings().name, u"Zelvik_Server PEXA Master");
    // Every player plays every listed mode at once: one mode, the others only as examples.
    EXPECT_EQ(w.Settings().modes, (std::vector<std::u16string>{u"PEXA Master"}));
    EXPECT_FALSE(LogHas(w, "KOVRA1"));
    for (const char* rule : {"PEXA Master", "Dalmor WEXO", "PEXA"}) {
        bool loaded = false;
        for (const std::string& line : w.Log())
            loaded |= line.find(rule) != std::string::npos &&
                      line.find("succesfully loaded") != std::string::npos;
        EXPECT_TRUE(loaded) << rule;
    }
    EXPECT_EQ(w.Title(), "Zelvik_Server");
    // The layout rule holds from the first frame: the three buttons do not overlap.
    const ServerLayout l = w.CurrentLayout();
    EXPECT_LT(l.clear.x + l.clear.w, l.showPlayer.x);
    EXPECT_LT(l.showPlayer.x + l.showPlayer.w, l.publicBox.x);
    EXPECT_TRUE(w.Step());
    w.Finish();
    EXPECT_NE(ReadFile(dir / "Zelvik_Server.ini").find("Public = 0\r\n"), std::string::npos);
}

TEST_F(ServerWindowTest, PublicBoxRegistersUnregistersAndIsSavedForTheNextStart) {
    WithEngine();
    MasterProcess master(std::string(ZELVIK_GAME_DIR) + "/zelvik_master",
                         (dir / "master.txt").string());
    ASSERT_NE(master.Port(), 0);
    setenv("ZELVIK_MASTER", master.HostPort().c_str(), 1);
    auto listed = [&] { return Body(HttpGet(master.Port(), "/zelvikserver.txt")); };
    Settings("; settings\r\nName = Test\r\nPublic = 0\r\n");
    {
        ServerWindow w;
        ASSERT_EQ(w.Start(), 0);
        w.Step();
        EXPECT_EQ(listed(), "");
        // The master is asked on a thread of its own: the window goes on meanwhile.
        w.SetPublic(true);
        EXPECT_TRUE(StepUntil(w, [&] { return listed() == "127.0.0.1\n"; }));
        EXPECT_TRUE(StepUntil(w, [&] { return LogHas(w, "registered on " + master.HostPort()); }));
        w.SetPublic(false);
        EXPECT_TRUE(StepUntil(w, [&] { return listed().empty(); }));
        w.SetPublic(true);
        EXPECT_TRUE(StepUntil(w, [&] { return listed() == "127.0.0.1\n"; }));
        w.Finish(); // freeing the server unregisters it
        EXPECT_EQ(listed(), "");
    }
    const std::string saved = ReadFile(dir / "Zelvik_Server.ini");
    EXPECT_NE(saved.find("Public = 1\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("; settings\r\n"), std::string::npos);
    {
        ServerWindow w;
        ASSERT_EQ(w.Start(), 0);
        EXPECT_TRUE(w.IsPublic());
        EXPECT_TRUE(StepUntil(w, [&] { return listed() == "127.0.0.1\n"; })); // at start
        w.SetPublic(false);
        w.Finish();
    }
    EXPECT_NE(ReadFile(dir / "Zelvik_Server.ini").find("Public = 0\r\n"), std::string::npos);
}

// The master forgets a server it has not heard from; a public server keeps telling it, and
// one started while the master was down gets listed once the master is up.
TEST_F(ServerWindowTest, PublicServerRegistersAgainAndOutlivesTheMastersExpiry) {
    WithEngine();
    const uint16_t port = FreePort();
    const std::string hostPort = "127.0.0.1:" + std::to_string(port);
    unsetenv("ZELVIK_MASTER"); // the settings name the master
    Settings("Public = 1\r\nMaster = " + hostPort + "\r\nRegisterInterval = 1\r\n");
    ServerWindow w;
    ASSERT_EQ(w.Start(), 0);
    EXPECT_EQ(w.Master(), hostPort);
    ASSERT_TRUE(StepUntil(w, [&] {
        return LogHas(w, "could not register on " + hostPort + ": the master cannot be reached");
    }));
    MasterProcess master(std::string(ZELVIK_GAME_DIR) + "/zelvik_master",
                         (dir / "master.txt").string(),
                         {"--port", std::to_string(port), "--expire", "2"});
    ASSERT_EQ(master.Port(), port);
    auto listed = [&] { return Body(HttpGet(port, "/zelvikserver.txt")); };
    ASSERT_TRUE(StepUntil(
        w, [&] { return listed() == "127.0.0.1\n"; }, 2500));
    EXPECT_TRUE(LogHas(w, "registered on " + hostPort));
    // Well past the expiry, the server is never missing from the list.
    const uint32_t until = NowMs() + 5000;
    while (static_cast<int>(until - NowMs()) > 0) {
        StepUntil(
            w, [] { return false; }, 250);
        ASSERT_EQ(listed(), "127.0.0.1\n");
    }
    w.SetPublic(false);
    EXPECT_TRUE(StepUntil(w, [&] { return listed().empty(); }));
    w.Finish();
}

TEST_F(ServerWindowTest, TitleChangesOnlyWithThePlayerCount) {
    WithEngine();
    ServerWindow w;
    ASSERT_EQ(w.Start(), 0);
    const int watcher = Connect(); // connected, never joins
    ASSERT_TRUE(StepUntil(w, [&] { return w.Clients() == 1 && !w.Log().empty(); }));
    EXPECT_EQ(w.Title(), "Zelvik_Server");
    const int player = Connect();
    HelloAndJoin(player, "Ann");
    ASSERT_TRUE(StepUntil(w, [&] { return w.Title() != "Zelvik_Server"; }));
    EXPECT_EQ(w.Title(), "Zelvik_Server (1/2)");
    EXPECT_TRUE(StepUntil(w, [&] { return LogHas(w, "Ann joined from 127.0.0.1"); }));
    const int late = Connect();
    ASSERT_TRUE(StepUntil(w, [&] { return w.Clients() == 3; }));
    StepUntil(
        w, [] { return false; }, 300);
    EXPECT_EQ(w.Title(), "Zelvik_Server (1/2)");
    close(player);
    ASSERT_TRUE(StepUntil(w, [&] { return w.Title() != "Zelvik_Server (1/2)"; }));
    EXPECT_EQ(w.Title(), "Zelvik_Server (0/2)");

    EXPECT_FALSE(w.Log().empty());
    w.ClearLog();
    EXPECT_TRUE(w.Log().empty());
    // A client flooding the server with Hellos costs one line: it is closed.
    std::string hello(9, '\0');
    hello[0] = 18;
    hello[5] = 1; // the engine version 0.2.1.0: no answer to pile up
    hello[7] = 2;
    std::string hellos;
    for (size_t i = 0; i < kServerLogLines + 500; ++i) hellos += hello;
    SendAll(late, hellos);
    ASSERT_TRUE(StepUntil(w, [&] { return w.Clients() == 1 && !w.Log().empty(); }));
    // One line for the whole flood, carrying the local time it was logged at.
    ASSERT_EQ(w.Log().size(), 1u);
    const std::string closed = "Closed a connection from 127.0.0.1: it repeated its Hello";
    const std::string& newest = w.Log().back();
    ASSERT_EQ(newest.size(), 9 + closed.size()) << newest;
    for (size_t i : {0, 1, 3, 4, 6, 7}) EXPECT_TRUE(std::isdigit(newest[i])) << newest;
    EXPECT_EQ(newest.substr(2, 1) + newest.substr(5, 1) + newest.substr(8), ":: " + closed);
    // A line longer than the log is wide wraps into rows; nothing of it is cut off.
    std::u16string words;
    for (int i = 0; i < 40; ++i)
        words += u"word" + std::u16string(1, char16_t(u'a' + i % 26)) + u" ";
    words += u"end";
    w.AppendLog(words);
    // Clients' lines may still be coming in: look for its rows among the newest.
    auto endRow = [&]() -> int64_t {
        const auto& all = w.LogRows();
        for (size_t i = all.size(); i-- > 0 && i + 2000 > all.size();)
            if (w.LogRowText(i).ends_with("end")) return static_cast<int64_t>(i);
        return -1;
    };
    ASSERT_TRUE(StepUntil(w, [&] { return endRow() >= 0; }));
    const uint64_t line = w.LogRows()[static_cast<size_t>(endRow())].line;
    std::string joined, whole;
    int rows = 0;
    for (size_t i = 0; i < w.LogRows().size(); ++i)
        if (w.LogRows()[i].line == line) joined += (rows++ ? " " : "") + w.LogRowText(i);
    for (const std::string& l : w.Log())
        if (l.ends_with("end")) whole = l;
    EXPECT_GT(rows, 1);
    EXPECT_EQ(joined, whole);
    close(watcher);
    close(late);
    w.Finish();
}

TEST_F(ServerWindowTest, ClosingEitherWindowEndsTheLoop) {
    WithEngine();
    ServerWindow w;
    ASSERT_EQ(w.Start(), 0);
    w.SetShowPlayer(true);
    ASSERT_TRUE(w.PlayerWindowOpen());
    w.SetShowPlayer(false);
    EXPECT_FALSE(w.PlayerWindowOpen());
    w.SetShowPlayer(true);
    EXPECT_TRUE(w.Step());
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    close.window.windowID = w.PlayerWindowId();
    SDL_PushEvent(&close);
    bool running = true;
    for (int i = 0; i < 10 && running; ++i) running = w.Step();
    EXPECT_FALSE(running);
    w.Finish();

    ServerWindow again;
    ASSERT_EQ(again.Start(), 0);
    close.window.windowID = again.MainWindowId();
    SDL_PushEvent(&close);
    running = true;
    for (int i = 0; i < 10 && running; ++i) running = again.Step();
    EXPECT_FALSE(running);
    again.Finish();
}

TEST_F(ServerWindowTest, PlayerJoinsWhileManyAddressesHoldSilentConnections) {
    // 100 addresses with 11 silent connections each: under the cap per address, and together
    // more than a server with a fixed 1,024 connections can hold.
    if (!RaiseDescriptorLimit(4096)) GTEST_SKIP() << "the open-file limit is below 4,096";
    WithEngine();
    ServerWindow w;
    ASSERT_EQ(w.Start(), 0);
    EXPECT_TRUE(LogHas(w, "holds up to"));
    Crowd crowd(gamePort, 1100, 0, 11);
    ASSERT_EQ(crowd.Made(), 1100);
    ASSERT_TRUE(StepUntil(w, [&] { return w.Clients() == 1100; }));
    const int player = Connect();
    HelloAndJoin(player, "Ann");
    const int browser = Connect();
    SendAll(browser, std::string(1, '\x10')); // an info query
    const std::string reply = ReadFor(player, 3000, 1);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[0], 20); // the join's answer
    const std::string info = ReadFor(browser, 3000, 521);
    ASSERT_EQ(info.size(), 521u);
    EXPECT_EQ(info[0], 17);
    ASSERT_TRUE(StepUntil(w, [&] { return w.Title() != "Zelvik_Server"; }));
    close(player);
    close(browser);
    w.Finish();
}

// Two real server programs on one machine, each on its own address: the master lists both by
// their own addresses, and closing one takes only that one off the list.
TEST_F(ServerWindowTest, TwoServersOnOneMachineRegisterFromTheirOwnAddresses) {
    const fs::path state = dir / "master_state.txt";
    MasterProcess master((kGame / "zelvik_master").string(), state.string());
    ASSERT_NE(master.Port(), 0);
    auto listed = [&] {
        std::istringstream body(Body(HttpGet(master.Port(), "/zelvikserver.txt")));
        std::vector<std::string> lines;
        for (std::string line; std::getline(body, line);) lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    auto waitFor = [&](const std::vector<std::string>& want) {
        const uint32_t end = NowMs() + 15000;
        while (listed() != want && static_cast<int>(end - NowMs()) > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return listed();
    };
    std::vector<pid_t> servers;
    for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
        const fs::path folder = dir / address;
        fs::create_directories(folder);
        fs::create_directory_symlink(kGame / "dlls", folder / "dlls");
        std::ofstream(folder / "Zelvik_Server.ini") << "Name = " << address << "\nPublic = 1\n";
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(folder.c_str()) != 0) _exit(127);
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            setenv("ZELVIK_GAME_ADDRESS", address, 1);
            setenv("ZELVIK_MASTER", master.HostPort().c_str(), 1);
            const std::string program = (kGame / "Zelvik_Server").string();
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        servers.push_back(pid);
    }
    // Ends a server as the window's close does (SDL turns SIGTERM into a quit request).
    auto close = [](pid_t pid) {
        kill(pid, SIGTERM);
        int status = 0;
        const uint32_t end = NowMs() + 15000;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (static_cast<int>(end - NowMs()) <= 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_EQ(waitFor({"127.0.0.2", "127.0.0.3"}),
              (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    EXPECT_TRUE(close(servers[0]));
    EXPECT_EQ(waitFor({"127.0.0.3"}), (std::vector<std::string>{"127.0.0.3"}));
    EXPECT_TRUE(close(servers[1]));
    EXPECT_EQ(waitFor({}), (std::vector<std::string>{}));
}
