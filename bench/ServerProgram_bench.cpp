// Relay latency through the real Zelvik_Server program: the bench starts
// build/game/Zelvik_Server headless in a working folder of its own (the run folder's plug-ins,
// PEXA Master), measures the idle program's CPU, then lets N clients on loopback play
// scripted input at 60 frames a second and prints the 99th-percentile time from a client's
// send to the relayed packet's arrival at another client, and the program's CPU while they
// play (all its threads: network, window, registration).
//
// The clients are spread over two threads, each looking at a readiness set of its own
// sockets every 0.1 ms; an arrival is timed when the look finds it, so the figure errs
// against the server.
//
// Usage: ServerProgram_bench [seconds per run = 10] [N ...]   (default N: 2 16 64)
#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "Vantrel_Adv_NetPackets.h"
#include "Zelvik_Player.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
// Client threads: enough to keep up with 256 clients' relays, few enough to leave the
// server's core alone on a shared machine.
constexpr int kWorkers = 2;
constexpr auto kLookTick = std::chrono::microseconds(100);

uint64_t NowUs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
            .count());
}

namespace fs = std::filesystem;

// CPU seconds (user + system, every thread) the process has used so far.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// The program in a working folder of its own, on a free port, with no master to talk to.
struct ServerProgram {
    pid_t pid = -1;
    uint16_t port = 0;
    fs::path dir;

    bool Start() {
        dir = fs::temp_directory_path() / ("zelvik_program_bench_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::create_directory_symlink(fs::path(ZELVIK_GAME_DIR) / "dlls", dir / "dlls");
        std::ofstream(dir / "Zelvik_Server.ini")
            << "Name = Relay bench\nPublic = 0\nMode1 = PEXA Master\n"
               "RotationSystem = Dalmor WEXO\nRandomizer = PEXA\n";
        const uint32_t probe = Platform_Socket_Listen(0, 0);
        port = Platform_Socket_LocalPort(probe);
        Platform_Socket_Close(probe);
        const std::string program = std::string(ZELVIK_GAME_DIR) + "/Zelvik_Server";
        pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) _exit(127);
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            setenv("ZELVIK_GAME_PORT", std::to_string(port).c_str(), 1);
            setenv("ZELVIK_MASTER", "127.0.0.1:1", 1);
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) return false;
        // Up once it accepts a connection.
        for (int i = 0; i < 100; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (const uint32_t c = Platform_Socket_Connect("127.0.0.1", port, 200)) {
                Platform_Socket_Close(c);
                return true;
            }
        }
        return false;
    }
    ~ServerProgram() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
        if (!dir.empty()) fs::remove_all(dir);
    }
};

struct BenchClient {
    uint32_t handle = 0;
    uint32_t id = 0;
    std::vector<uint8_t> in; // bytes not yet framed (only while joining)
    uint8_t buffer[kReceiveBufferSize]{};
    uint32_t count = 0, partial = 0;
};

// Relay latencies in 10 us bins up to 100 ms; the last bin holds everything slower.
constexpr size_t kBins = 10001;
constexpr double kBinUs = 10.0;

// A worker's share of the clients: it sends their scripted input and frames what they
// receive, matching relayed inputs with their send times.
struct Probe {
    const std::vector<uint32_t>* slotOfId = nullptr; // player id -> client index
    std::vector<std::vector<std::atomic<uint64_t>>>* sent = nullptr;
    uint64_t arrival = 0; // when the worker woke with the data waiting
    std::vector<uint64_t> histogram = std::vector<uint64_t>(kBins);
    uint64_t samples = 0;
};

bool ProbeHandles(uint8_t c) {
    return c == NetCmd_Input || c == NetCmd_Ready || c == NetCmd_StartGame ||
           c == NetCmd_PlayerJoined || c == NetCmd_PlayerLeft || c == NetCmd_Message ||
           c == NetCmd_JoinReply;
}

bool ProbePacket(void* ctx, const uint8_t* d, uint32_t) {
    auto* probe = static_cast<Probe*>(ctx);
    if (d[0] != NetCmd_Input) return true;
    const uint32_t id = Net_GetU32(d + 1), first = Net_GetU32(d + 5);
    const auto& slots = *probe->slotOfId;
    if (id >= slots.size() || slots[id] == UINT32_MAX) return true;
    const auto& times = (*probe->sent)[slots[id]];
    const size_t packet = first == 0 ? 0 : (first + 1) / 2;
    if (packet >= times.size()) return true;
    const uint64_t sentAt = times[packet].load(std::memory_order_acquire);
    if (!sentAt) return true;
    const uint64_t us = probe->arrival > sentAt ? probe->arrival - sentAt : 0;
    ++probe->histogram[std::min<size_t>(kBins - 1, size_t(double(us) / kBinUs))];
    ++probe->samples;
    return true;
}

void Drain(BenchClient& c, Probe* probe) {
    uint8_t chunk[65536];
    for (int i = 0; i < 64; ++i) {
        const int32_t n = Platform_Socket_Receive(c.handle, chunk, sizeof chunk);
        if (n <= 0) return;
        if (!probe) continue;
        NetFrameSink sink{probe,
                          ProbeHandles,
                          [](void*, const uint8_t*) { return true; },
                          [](void*, uint32_t) -> uint8_t* { return nullptr; },
                          ProbePacket,
                          nullptr};
        Net_FeedBytes({c.buffer, &c.count, &c.partial}, sink, chunk, size_t(n));
        if (n < int32_t(sizeof chunk)) return;
    }
}

// Reads until the join reply is in; returns the id (0 on failure).
uint32_t AwaitJoinReply(BenchClient& c) {
    uint8_t chunk[4096];
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < until) {
        if (!Platform_Socket_Readable(c.handle, 10)) continue;
        const int32_t n = Platform_Socket_Receive(c.handle, chunk, sizeof chunk);
        if (n < 0) return 0;
        c.in.insert(c.in.end(), chunk, chunk + n);
        if (c.in.size() >= kSizeJoinReplyFixed && c.in[0] == NetCmd_JoinReply) {
            const uint32_t m = Net_GetU32(c.in.data() + 5), r = Net_GetU32(c.in.data() + 9);
            if (c.in.size() >= NetCmd_JoinReplySize(m, r)) return Net_GetU32(c.in.data() + 1);
        }
    }
    return 0;
}

uint32_t Script(uint32_t frame, uint32_t salt) {
    const uint32_t f = frame + salt * 5;
    uint32_t in = 0;
    if (f % 30 == 29) in |= Input_HardDrop;
    if (f % 30 < 3) in |= (f / 30) % 2 ? Input_Left : Input_Right;
    if (f % 30 == 10) in |= Input_RotCW;
    return in;
}

bool Run(int clients, int seconds) {
    ServerProgram program;
    if (!program.Start()) {
        std::fprintf(stderr, "cannot start %s/Zelvik_Server\n", ZELVIK_GAME_DIR);
        return false;
    }
    const uint16_t port = program.port;
    // The idle program: nobody connected.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double idleStart = ProcessCpuSeconds(program.pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double idle = (ProcessCpuSeconds(program.pid) - idleStart) / 3.0;
    std::vector<BenchClient> cs(static_cast<size_t>(clients));
    std::vector<uint32_t> ids(static_cast<size_t>(clients));
    const uint32_t frames = uint32_t(seconds) * 60;
    std::vector<std::vector<std::atomic<uint64_t>>> sent(static_cast<size_t>(clients));
    for (auto& row : sent) row = std::vector<std::atomic<uint64_t>>(frames / 2 + 2);
    bool ok = true;
    for (int i = 0; i < clients && ok; ++i) {
        BenchClient& c = cs[size_t(i)];
        c.handle = Platform_Socket_Connect("127.0.0.1", port, 5000);
        uint8_t b[kSizeJoin];
        NetCmd_BuildHello(b, kEngineVersion);
        ok = c.handle && Platform_Socket_Send(c.handle, b, kSizeHello) > 0;
        std::u16string name = u"Bot";
        for (char ch : std::to_string(i)) name += char16_t(ch);
        NetCmd_BuildJoin(b, name.c_str());
        ok = ok && Platform_Socket_Send(c.handle, b, kSizeJoin) > 0;
        ok = ok && (c.id = ids[size_t(i)] = AwaitJoinReply(c)) != 0;
        // Earlier clients keep receiving announcements: do not let them pile up.
        for (int j = 0; j < i; ++j) Drain(cs[size_t(j)], nullptr);
    }
    if (!ok) std::fprintf(stderr, "N=%d: a client could not join\n", clients);
    for (int i = 0; i < clients && ok; ++i) {
        uint8_t b[kSizeReady];
        NetCmd_BuildReady(b, ids[size_t(i)], 0);
        Platform_Socket_Send(cs[size_t(i)].handle, b, kSizeReady);
        for (auto& c : cs) Drain(c, nullptr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (auto& c : cs) Drain(c, nullptr);

    uint32_t maxId = 0;
    for (uint32_t id : ids) maxId = std::max(maxId, id);
    std::vector<uint32_t> slotOfId(size_t(maxId) + 1, UINT32_MAX);
    for (size_t i = 0; i < ids.size(); ++i) slotOfId[ids[i]] = uint32_t(i);

    // Clients do not tick in step: client i sends at i/N of the two-frame period.
    const int workers = std::min(clients, kWorkers);
    std::vector<Probe> probes(static_cast<size_t>(workers));
    const auto start = Clock::now() + std::chrono::milliseconds(50);
    const uint32_t pairs = frames / 2 + 1;
    const auto period = std::chrono::nanoseconds(2000000000 / 60);
    auto sendTime = [&](uint32_t pair, int i) {
        return start + period * pair + period * i / clients;
    };
    std::atomic<bool> failed{false};
    auto work = [&](int w) {
        Probe& probe = probes[size_t(w)];
        probe.slotOfId = &slotOfId;
        probe.sent = &sent;
        const uint32_t set = Platform_Socket_WaitSetCreate();
        std::vector<int> mine;
        for (int i = w; i < clients; i += workers) {
            mine.push_back(i);
            Platform_Socket_WaitSetAdd(set, cs[size_t(i)].handle, uint64_t(i));
        }
        std::vector<PlatformReadyEntry> ready(mine.size());
        uint8_t packet[kSizeInputMax];
        const uint8_t preview[3] = {1, 2, 3};
        // The next send: the pair and the position in mine.
        uint32_t pair = 0;
        size_t next = 0;
        const auto end = sendTime(pairs, 0) + std::chrono::milliseconds(50);
        for (;;) {
            const auto due = pair < pairs ? sendTime(pair, mine[next]) : end;
            const auto now = Clock::now();
            if (now >= due) {
                if (pair >= pairs) break;
                const int i = mine[next];
                const uint32_t salt = uint32_t(i);
                if (pair == 0) {
                    NetInput_Start(packet, ids[size_t(i)], 0, 0, 0, preview, Script(0, salt));
                } else {
                    NetInput_Start(packet, ids[size_t(i)], 2 * pair - 1, 0, 0, preview,
                                   Script(2 * pair - 1, salt));
                    NetInput_Append(packet, Script(2 * pair, salt));
                }
                sent[size_t(i)][pair].store(NowUs(), std::memory_order_release);
                if (Platform_Socket_Send(cs[size_t(i)].handle, packet, NetInput_Size(packet)) < 0)
                    failed = true;
                if (++next == mine.size()) {
                    next = 0;
                    ++pair;
                }
                continue;
            }
            // Look, then sleep a tick: a receiver blocked in a wait would make every send on
            // loopback also pay for waking it, which on a network its own machine does. An
            // arrival is timed when the look finds it, so a tick only adds to the figure.
            const int32_t n =
                Platform_Socket_WaitSetWait(set, ready.data(), uint32_t(ready.size()), 0);
            probe.arrival = NowUs();
            for (int32_t k = 0; k < n; ++k) {
                BenchClient& c = cs[size_t(ready[size_t(k)].key)];
                if (ready[size_t(k)].writable) Platform_Socket_Flush(c.handle);
                if (ready[size_t(k)].readable) Drain(c, &probe);
            }
            if (n <= 0) std::this_thread::sleep_until(std::min(due, now + kLookTick));
        }
        Platform_Socket_WaitSetFree(set);
    };
    const double cpuStart = ProcessCpuSeconds(program.pid);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers && ok; ++w) threads.emplace_back(work, w);
    for (auto& t : threads) t.join();
    const double played = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = (ProcessCpuSeconds(program.pid) - cpuStart) / played;
    if (failed) std::fprintf(stderr, "N=%d: a send failed\n", clients);

    std::vector<uint64_t> histogram(kBins);
    uint64_t samples = 0;
    for (const Probe& p : probes) {
        for (size_t b = 0; b < kBins; ++b) histogram[b] += p.histogram[b];
        samples += p.samples;
    }
    auto percentile = [&](double q) {
        uint64_t seen = 0;
        for (size_t b = 0; b < kBins && samples; ++b) {
            seen += histogram[b];
            if (double(seen) >= double(samples) * q) return double(b + 1) * kBinUs / 1000.0;
        }
        return -1.0;
    };
    const double p99 = percentile(0.99);
    std::printf("N=%-4d Zelvik_Server: p99 relay latency %.2f ms (p50 %.2f, p90 %.2f, p99.9 "
                "%.2f ms; %llu samples)   CPU %.1f%% of a core playing, %.2f%% idle\n",
                clients, p99, percentile(0.5), percentile(0.9), percentile(0.999),
                static_cast<unsigned long long>(samples), cpu * 100.0, idle * 100.0);
    std::fflush(stdout);
    for (auto& c : cs) Platform_Socket_Close(c.handle);
    return ok && !failed;
}
} // namespace

int main(int argc, char** argv) {
    HighResTimer_ChooseClocks();
    Platform_Socket_Init();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int seconds = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 10;
    std::vector<int> counts;
    for (size_t i = 1; i < args.size(); ++i)
        counts.push_back(std::max(1, std::atoi(args[i].c_str())));
    if (counts.empty()) counts = {2, 16, 64};
    bool ok = true;
    for (int n : counts) ok = Run(n, seconds) && ok;
    return ok ? 0 : 1;
}
