// The real Zelvik_Server program under a siege of silent connections: A addresses on loopback
// (127.0.3.1 on, bound before connecting) each hold 16 connections that never send a byte and
// reconnect at once whenever the server closes them. Meanwhile an honest player joins again and
// again (connect, Hello, Join, the join's answer, leave) and a browser asks for the server's
// info. Prints the join latency (median, max, how many within 1 s), the info-query latency and
// the program's CPU (all its threads) during the siege.
//
// Usage: ServerSiege_bench [seconds = 25] [A ...]   (default A: 200)
#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "RelayClients.h"
#include "ServerProgram.h"
#include "ZelvikNetTestKit.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPerAddress = 16;
constexpr int kSiegeThreads = 2;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The attackers: each thread keeps its share of the connections open, reopening every one the
// server closes (or that fails to open) as soon as it sees it gone.
class Siege {
public:
    Siege(uint16_t port, int addresses) : port_(port) {
        for (int t = 0; t < kSiegeThreads; ++t)
            threads_.emplace_back([this, t, addresses] { Work(t, addresses); });
    }
    ~Siege() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }
    uint64_t Opened() const { return opened_.load(); }

private:
    struct Slot {
        int fd = -1;
        uint32_t address = 0;
    };

    bool Open(int set, Slot& slot, uint64_t key) {
        slot.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (slot.fd < 0) return false;
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(slot.address);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = key;
        if (bind(slot.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            (connect(slot.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
             errno != EINPROGRESS) ||
            epoll_ctl(set, EPOLL_CTL_ADD, slot.fd, &ev) != 0) {
            close(slot.fd);
            slot.fd = -1;
            return false;
        }
        ++opened_;
        return true;
    }

    void Work(int thread, int addresses) {
        const int set = epoll_create1(EPOLL_CLOEXEC);
        std::vector<Slot> slots;
        for (int a = thread; a < addresses; a += kSiegeThreads)
            for (int k = 0; k < kPerAddress; ++k)
                slots.push_back(
                    {-1, 0x7F000000u | uint32_t(3 + a / 250) << 8 | uint32_t(1 + a % 250)});
        std::vector<epoll_event> events(1024);
        while (!stop_) {
            // Slots that could not open (or were closed) try again.
            for (size_t i = 0; i < slots.size(); ++i)
                if (slots[i].fd < 0) Open(set, slots[i], i);
            const int n = epoll_wait(set, events.data(), int(events.size()), 10);
            for (int e = 0; e < n; ++e) {
                Slot& slot = slots[size_t(events[size_t(e)].data.u64)];
                char buffer[256];
                const ssize_t got = recv(slot.fd, buffer, sizeof buffer, 0);
                if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR))) continue;
                close(slot.fd); // closing takes it out of the set
                Open(set, slot, events[size_t(e)].data.u64);
            }
        }
        for (Slot& slot : slots)
            if (slot.fd >= 0) close(slot.fd);
        close(set);
    }

    uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> opened_{0};
    std::vector<std::thread> threads_;
};

// Connect, Hello, Join, the join's answer; ms until the answer, -1 when it never came.
double HonestJoin(uint16_t port) {
    const auto start = Clock::now();
    relay_clients::BenchClient c;
    c.handle = Platform_Socket_Connect("127.0.0.1", port, 10000);
    if (!c.handle) return -1;
    uint8_t b[kSizeJoin];
    NetCmd_BuildHello(b, kEngineVersion);
    bool ok = Platform_Socket_Send(c.handle, b, kSizeHello) > 0;
    NetCmd_BuildJoin(b, u"Honest");
    ok = ok && Platform_Socket_Send(c.handle, b, kSizeJoin) > 0;
    ok = ok && relay_clients::AwaitJoinReply(c) != 0;
    const double ms = MsSince(start);
    Platform_Socket_Close(c.handle);
    return ok ? ms : -1;
}

// A browser's info query: ms until the whole answer is in, -1 when it never came.
double InfoQuery(uint16_t port) {
    const auto start = Clock::now();
    const uint32_t h = Platform_Socket_Connect("127.0.0.1", port, 10000);
    if (!h) return -1;
    const uint8_t ask = NetCmd_GetInfo;
    uint32_t got = 0;
    if (Platform_Socket_Send(h, &ask, 1) == 1) {
        uint8_t answer[kSizeInfo];
        while (got < kSizeInfo && MsSince(start) < 10000) {
            if (!Platform_Socket_Readable(h, 10)) continue;
            const int32_t n = Platform_Socket_Receive(h, answer + got, kSizeInfo - got);
            if (n < 0) break;
            got += uint32_t(n);
        }
        if (got && answer[0] != NetCmd_Info) got = 0;
    }
    const double ms = MsSince(start);
    Platform_Socket_Close(h);
    return got == kSizeInfo ? ms : -1;
}

using server_program::Latencies;

bool Run(int addresses, int seconds) {
    const int connections = addresses * kPerAddress;
    if (!testkit::RaiseDescriptorLimit(rlim_t(connections) + 256)) {
        std::fprintf(stderr, "the open-file limit cannot hold %d connections\n", connections);
        return false;
    }
    server_program::ServerProgram program;
    if (!program.Start("zelvik_siege_bench_")) {
        std::fprintf(stderr, "cannot start %s/Zelvik_Server\n", ZELVIK_GAME_DIR);
        return false;
    }
    const uint16_t port = program.port;
    Siege siege(port, addresses);
    // Let the siege fill up before measuring.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const uint64_t openedBefore = siege.Opened();
    const double cpuStart = server_program::ProcessCpuSeconds(program.pid);
    const auto start = Clock::now();
    Latencies joins, infos;
    while (MsSince(start) < seconds * 1000.0) {
        joins.ms.push_back(HonestJoin(port));
        infos.ms.push_back(InfoQuery(port));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const double played = MsSince(start) / 1000.0;
    const double cpu = (server_program::ProcessCpuSeconds(program.pid) - cpuStart) / played;
    const uint64_t reopened = siege.Opened() - openedBefore;
    std::printf("%d addresses x %d silent connections (%llu reconnects in %.0f s):\n"
                "  honest joins: %d of %zu answered, %d within 1 s; latency median %.1f ms, max "
                "%.1f ms\n"
                "  info queries: %d of %zu answered, %d within 1 s; latency median %.1f ms, max "
                "%.1f ms\n"
                "  Zelvik_Server CPU %.1f%% of a core\n",
                addresses, kPerAddress, static_cast<unsigned long long>(reopened), played,
                joins.Answered(), joins.ms.size(), joins.Within(1000), joins.Median(), joins.Max(),
                infos.Answered(), infos.ms.size(), infos.Within(1000), infos.Median(), infos.Max(),
                cpu * 100.0);
    std::fflush(stdout);
    return joins.Within(1000) == int(joins.ms.size()) && infos.Answered() == int(infos.ms.size());
}

} // namespace

int main(int argc, char** argv) {
    HighResTimer_ChooseClocks();
    Platform_Socket_Init();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int seconds = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 25;
    std::vector<int> counts;
    for (size_t i = 1; i < args.size(); ++i)
        counts.push_back(std::clamp(std::atoi(args[i].c_str()), 1, 250 * 250));
    if (counts.empty()) counts = {200};
    bool ok = true;
    for (int n : counts) ok = Run(n, seconds) && ok;
    return ok ? 0 : 1;
}
