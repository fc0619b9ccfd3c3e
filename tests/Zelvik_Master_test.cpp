// zelvik_master as a program: options, the three resources, expiry and the kept list.
#include "ZelvikNetTestKit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace testkit;

namespace {

const std::string kMaster = std::string(ZELVIK_GAME_DIR) + "/zelvik_master";

// Runs the program with args and returns its exit code and standard output.
int RunMaster(std::vector<std::string> args, std::string* out) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    args.insert(args.begin(), kMaster);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kMaster.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return -1;
    }
    *out = ReadFor(pipeFds[0], 5000);
    close(pipeFds[0]);
    int status = 0;
    // A master still running 5 s after its output deadline (blocked, or serving) is ended.
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Master : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("zelvik_master_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        state = (dir / "list.txt").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
    std::string state;
};

} // namespace

TEST(MasterOptions, HelpAndBadOptions) {
    std::string out;
    EXPECT_EQ(RunMaster({"--help"}, &out), 0);
    EXPECT_NE(out.find("/addzelvikserver.php"), std::string::npos);
    EXPECT_NE(out.find("--state"), std::string::npos);
    EXPECT_EQ(RunMaster({"--port", "70000"}, &out), 2);
    EXPECT_NE(out.find("bad port"), std::string::npos);
    EXPECT_EQ(RunMaster({"--port", "8x"}, &out), 2);
    EXPECT_EQ(RunMaster({"--expire", "-1"}, &out), 2);
    EXPECT_EQ(RunMaster({"--frobnicate"}, &out), 2);
    EXPECT_NE(out.find("unknown option"), std::string::npos);
    // An option that wants a value and has none says what it wants.
    EXPECT_EQ(RunMaster({"--state"}, &out), 2);
    EXPECT_NE(out.find("--state needs a file name"), std::string::npos) << out;
    EXPECT_EQ(out.find("unknown option"), std::string::npos) << out;
    EXPECT_EQ(RunMaster({"--port"}, &out), 2);
    EXPECT_NE(out.find("--port needs a port number"), std::string::npos) << out;
}

TEST_F(Master, RegistersListsAndRemovesTheCaller) {
    MasterProcess master(kMaster, state);
    ASSERT_NE(master.Port(), 0);
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "");
    const std::string added = HttpGet(master.Port(), "/addzelvikserver.php");
    EXPECT_EQ(added.rfind("HTTP/1.", 0), 0u);
    EXPECT_FALSE(Body(added).empty()); // the engine counts an answer by its lines
    // Registering twice lists the address once.
    HttpGet(master.Port(), "/addzelvikserver.php");
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "127.0.0.1\n");
    HttpGet(master.Port(), "/remzelvikserver.php");
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "");
    // Removing what is not there is harmless.
    EXPECT_FALSE(Body(HttpGet(master.Port(), "/remzelvikserver.php")).empty());
    EXPECT_EQ(HttpGet(master.Port(), "/other.txt").find("404"), 9u);
}

namespace {

// Sends raw bytes on one loopback connection and returns all the master answers until it
// closes (or 3 s pass).
std::string Exchange(uint16_t port, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && SendAll(fd, bytes))
        answer = ReadFor(fd, 3000);
    close(fd);
    return answer;
}

size_t Answers(const std::string& replies) {
    size_t count = 0;
    for (size_t at = replies.find("HTTP/1.1 "); at != std::string::npos;
         at = replies.find("HTTP/1.1 ", at + 1))
        count++;
    return count;
}

} // namespace

TEST_F(Master, RefusesAmbiguousRequestsWithoutRunningWhatTheyHide) {
    MasterProcess master(kMaster, state);
    ASSERT_NE(master.Port(), 0);
    HttpGet(master.Port(), "/addzelvikserver.php");
    // Each head is refused and its connection closed, so the unregistration behind it,
    // which a proxy in front would take for part of a body, never runs.
    const std::string hidden = "GET /remzelvikserver.php HTTP/1.1\r\nHost: a\r\n\r\n";
    const std::string post = "POST /zelvikserver.txt HTTP/1.1\r\nHost: a\r\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"two lengths", post + "Content-Length: 46\r\nContent-Length: 0\r\n\r\n" + hidden},
        {"equal lengths", post + "Content-Length: 0\r\nContent-Length: 0\r\n\r\n" + hidden},
        {"signed length", post + "Content-Length: +0\r\n\r\n" + hidden},
        {"blank before colon", post + "Transfer-Encoding : chunked\r\n\r\n" + hidden},
        {"length and encoding",
         post + "Content-Length: 0\r\nTransfer-Encoding: chunked\r\n\r\n" + hidden},
        {"empty name", post + ": x\r\n\r\n" + hidden},
        {"tab-led line", post + "\tTransfer-Encoding: chunked\r\n\r\n" + hidden},
        {"no host", "GET /remzelvikserver.php HTTP/1.1\r\n\r\n"},
        {"two hosts", "GET /remzelvikserver.php HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"},
    };
    for (const auto& [what, bytes] : cases) {
        const std::string replies = Exchange(master.Port(), bytes);
        EXPECT_EQ(replies.rfind("HTTP/1.1 400", 0), 0u) << what << ": " << replies;
        EXPECT_EQ(Answers(replies), 1u) << what << ": " << replies;
        EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "127.0.0.1\n") << what;
    }
    // A chunked body is not read at all: 501, and nothing after it runs either.
    const std::string chunked =
        Exchange(master.Port(), post + "Transfer-Encoding: chunked\r\n\r\n" + hidden);
    EXPECT_EQ(chunked.rfind("HTTP/1.1 501", 0), 0u) << chunked;
    EXPECT_EQ(Answers(chunked), 1u) << chunked;
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "127.0.0.1\n");
}

TEST_F(Master, AnswersAbsoluteTargetsBareLineEndsAndLeadingEmptyLines) {
    MasterProcess master(kMaster, state);
    ASSERT_NE(master.Port(), 0);
    HttpGet(master.Port(), "/addzelvikserver.php");
    const std::string absolute =
        Exchange(master.Port(), "GET http://127.0.0.1/zelvikserver.txt?x HTTP/1.1\r\n"
                                "Host: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(absolute.rfind("HTTP/1.1 200", 0), 0u) << absolute;
    EXPECT_EQ(Body(absolute), "127.0.0.1\n");
    // Heads with bare LF line ends are whole at their empty line, not at a deadline 5 s on.
    for (const std::string ending : {"\n\r\n", "\n\n"}) {
        const std::string bare =
            Exchange(master.Port(), "GET /zelvikserver.txt HTTP/1.0\nHost: x" + ending);
        EXPECT_EQ(bare.rfind("HTTP/1.1 200", 0), 0u) << bare;
        EXPECT_EQ(Body(bare), "127.0.0.1\n");
    }
    // A few empty lines before a request are stepped over; a stream of them is refused.
    const std::string few =
        Exchange(master.Port(), "\r\n\n\r\nGET /zelvikserver.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Body(few), "127.0.0.1\n") << few;
    const std::string many = Exchange(master.Port(), std::string(8000, '\n'));
    EXPECT_EQ(many.rfind("HTTP/1.1 400", 0), 0u) << many.substr(0, 40);
    // Keep-alive requests one after another on one connection are each answered.
    const std::string two = Exchange(
        master.Port(), "GET /zelvikserver.txt HTTP/1.1\r\nHost: a\r\n\r\n"
                       "GET /zelvikserver.txt HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(Answers(two), 2u) << two;
}

TEST_F(Master, HoldsAsManyConnectionsAsItSaysUnderALowDescriptorLimit) {
    // The master under "ulimit -n 40", its standard output and error read until it listens.
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    std::vector<std::string> args = {"/bin/sh", "-c",        "ulimit -n 40 && exec \"$0\" \"$@\"",
                                     kMaster,   "--address", "127.0.0.1",
                                     "--port",  "0",         "--state",
                                     state};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    ASSERT_EQ(spawned, 0);
    std::string said;
    const uint32_t end = NowMs() + 5000;
    while (said.find("listening on") == std::string::npos ||
           said.find('\n', said.find("listening on")) == std::string::npos) {
        const std::string more = ReadFor(out[0], static_cast<int>(end - NowMs()), 1);
        if (more.empty()) break;
        said += more;
    }
    close(out[0]);
    const size_t at = said.find("listening on 127.0.0.1:");
    const uint16_t port =
        at == std::string::npos ? 0 : static_cast<uint16_t>(std::atoi(said.c_str() + at + 23));
    EXPECT_NE(said.find("only 20 connections at once: the descriptor limit (ulimit -n) is 40"),
              std::string::npos)
        << said;
    if (port != 0) {
        // It really holds the 20 it names and closes the rest at once.
        Crowd crowd(port, 30, 0, 16);
        EXPECT_EQ(crowd.Made(), 30);
        int held = crowd.Held();
        for (const uint32_t until = NowMs() + 3000; held != 20 && NowMs() < until;
             held = crowd.Held())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(held, 20);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

TEST_F(Master, KeepsTheListAcrossRestartsAndSkipsDamagedLines) {
    {
        std::ofstream out(state);
        out << "10.0.0.1 " << time(nullptr) << "\n"
            << "garbage line\n"
            << "300.1.1.1 " << time(nullptr) << "\n"
            << "10.0.0.2 " << time(nullptr) << "\n";
    }
    {
        MasterProcess master(kMaster, state);
        ASSERT_NE(master.Port(), 0);
        EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "10.0.0.1\n10.0.0.2\n");
        HttpGet(master.Port(), "/addzelvikserver.php");
    }
    MasterProcess again(kMaster, state);
    ASSERT_NE(again.Port(), 0);
    EXPECT_EQ(Body(HttpGet(again.Port(), "/zelvikserver.txt")), "10.0.0.1\n10.0.0.2\n127.0.0.1\n");
}

TEST_F(Master, ForgetsServersThatStopRegistering) {
    {
        std::ofstream out(state);
        out << "10.0.0.9 " << (time(nullptr) - 100) << "\n";
    }
    MasterProcess master(kMaster, state, {"--expire", "1"});
    ASSERT_NE(master.Port(), 0);
    HttpGet(master.Port(), "/addzelvikserver.php");
    // The stale entry is gone at once, the fresh one stays until it is over a second old.
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "127.0.0.1\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "");
}

TEST_F(Master, RefusesLargeBodiesAndStaysUp) {
    MasterProcess master(kMaster, state);
    ASSERT_NE(master.Port(), 0);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(master.Port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const size_t size = 8u << 20;
    SendAll(fd, "POST /addzelvikserver.php HTTP/1.0\r\nContent-Length: " + std::to_string(size) +
                    "\r\n\r\n");
    // The master reads past the body instead of keeping it, then refuses it.
    const std::string chunk(64 * 1024, 'x');
    for (size_t sent = 0; sent < size; sent += chunk.size()) ASSERT_TRUE(SendAll(fd, chunk));
    const std::string answer = ReadFor(fd, 3000);
    close(fd);
    EXPECT_EQ(answer.find("HTTP/1.1 413"), 0u) << answer.substr(0, 40);
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "");
}

TEST_F(Master, AnswersPromptlyWhileIdleAndSlowConnectionsHoldOn) {
    if (!RaiseDescriptorLimit(1300)) GTEST_SKIP() << "too few descriptors for the crowd";
    MasterProcess master(kMaster, state);
    ASSERT_NE(master.Port(), 0);
    Crowd crowd(master.Port(), 1000, 100, 16);
    ASSERT_EQ(crowd.Made(), 1100);
    auto timed = [&](const std::string& path, uint32_t* took) {
        const uint32_t start = NowMs();
        const std::string answer = HttpGet(master.Port(), path);
        *took = NowMs() - start;
        return answer;
    };
    uint32_t took = 0;
    EXPECT_EQ(Body(timed("/zelvikserver.txt", &took)), "");
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(Body(timed("/addzelvikserver.php", &took)), "OK\n");
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(Body(timed("/zelvikserver.txt", &took)), "127.0.0.1\n");
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(Body(timed("/remzelvikserver.php", &took)), "OK\n");
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "");
    // The crowd was really there all along, not turned away at the door.
    EXPECT_EQ(crowd.Held(), 1100);
}

TEST_F(Master, SecondMasterOnAPortInUseExitsWithAnError) {
    MasterProcess first(kMaster, state);
    ASSERT_NE(first.Port(), 0);
    std::string out;
    EXPECT_EQ(RunMaster({"--address", "127.0.0.1", "--port", std::to_string(first.Port()),
                         "--state", (dir / "second.txt").string()},
                        &out),
              1);
    EXPECT_NE(out.find("cannot listen on 127.0.0.1:" + std::to_string(first.Port())),
              std::string::npos)
        << out;
    HttpGet(first.Port(), "/addzelvikserver.php");
    EXPECT_EQ(Body(HttpGet(first.Port(), "/zelvikserver.txt")), "127.0.0.1\n");
}

TEST_F(Master, DropsATricklingRequestAtItsDeadlineAndAnswersOthersMeanwhile) {
    MasterProcess master(kMaster, state);
    ASSERT_NE(master.Port(), 0);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(master.Port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    // A byte every 200 ms keeps an idle timer from ever firing; only a deadline for the whole
    // request ends it.
    const std::string request = "GET /zelvikserver.txt HTTP/1.0\r\nHost: 127.0.0.1\r\nX-Slow: ";
    const uint32_t start = NowMs();
    std::string answer;
    for (size_t i = 0; NowMs() - start < 9000; ++i) {
        send(fd, i < request.size() ? &request[i] : "a", 1, MSG_NOSIGNAL);
        answer += ReadFor(fd, 200);
        if (!answer.empty()) break;
        if (i % 10 == 0) {
            EXPECT_EQ(Body(HttpGet(master.Port(), "/addzelvikserver.php")), "OK\n");
        }
    }
    const uint32_t took = NowMs() - start;
    close(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 408", 0), 0u) << answer;
    EXPECT_GE(took, 4500u);
    EXPECT_LT(took, 8000u);
    EXPECT_EQ(Body(HttpGet(master.Port(), "/zelvikserver.txt")), "127.0.0.1\n");
}

TEST_F(Master, UnwritableStateFileStopsTheStartAndLaterFailuresAreTold) {
    std::string out;
    const std::string missing = (dir / "no such folder" / "list.txt").string();
    EXPECT_EQ(RunMaster({"--port", "0", "--state", missing}, &out), 2);
    EXPECT_NE(out.find("cannot write the list to " + missing + ": No such file or directory"),
              std::string::npos)
        << out;

    // A folder that goes away while the master runs: the failure is told once, the recovery
    // once, and the list written again holds what came meanwhile.
    const fs::path folder = dir / "kept";
    fs::create_directories(folder);
    const std::string kept = (folder / "list.txt").string();
    const std::string log = (dir / "stderr.txt").string();
    const int saved = dup(2);
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dup2(logFd, 2);
    {
        MasterProcess master(kMaster, kept);
        dup2(saved, 2);
        ASSERT_NE(master.Port(), 0);
        fs::remove_all(folder);
        HttpGet(master.Port(), "/addzelvikserver.php");
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        HttpGet(master.Port(), "/remzelvikserver.php");
        HttpGet(master.Port(), "/addzelvikserver.php");
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        fs::create_directories(folder);
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    }
    close(logFd);
    close(saved);
    std::ifstream in(log);
    const std::string told((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string failure = "cannot write the list to " + kept + ": No such file or directory";
    const size_t first = told.find(failure);
    EXPECT_NE(first, std::string::npos) << told;
    EXPECT_EQ(told.find(failure, first + 1), std::string::npos) << told;
    EXPECT_NE(told.find("the list is written to " + kept + " again"), std::string::npos) << told;
    std::ifstream list(kept);
    std::string address;
    list >> address;
    EXPECT_EQ(address, "127.0.0.1");
}

// A state file that is a pipe, a device or far too large is not read (nor waited on), and one
// the master may not write is kept as it is; either stops the start.
TEST_F(Master, StateFileItCannotReadOrMayNotWriteStopsTheStartAndIsKept) {
    std::string out;
    const std::string fifo = (dir / "fifo.txt").string(), zero = (dir / "zero.txt").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", zero);
    for (const std::string& odd : {fifo, zero}) {
        EXPECT_EQ(RunMaster({"--address", "127.0.0.1", "--port", "0", "--state", odd}, &out), 2);
        EXPECT_NE(
            out.find("zelvik_master: cannot read the list from " + odd + ": not a regular file"),
            std::string::npos)
            << out;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(zero));
    { std::ofstream(state, std::ios::binary) << std::string((4 << 20) + 1, '\n'); }
    EXPECT_EQ(RunMaster({"--address", "127.0.0.1", "--port", "0", "--state", state}, &out), 2);
    EXPECT_NE(out.find("cannot read the list from " + state + ": larger than 4 MB"),
              std::string::npos)
        << out;

    // Read-only (as root too): kept byte for byte, with its mode.
    const std::string kept = "10.0.0.1 1700000000\n10.0.0.2 1700000001\n";
    std::ofstream(state, std::ios::binary | std::ios::trunc) << kept;
    fs::permissions(state, fs::perms(0444));
    EXPECT_EQ(RunMaster({"--address", "127.0.0.1", "--port", "0", "--state", state}, &out), 2);
    EXPECT_NE(out.find("zelvik_master: cannot write the list to " + state + ": Permission denied"),
              std::string::npos)
        << out;
    std::ifstream in(state, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kept);
    EXPECT_EQ(fs::status(state).permissions(), fs::perms(0444));
}
