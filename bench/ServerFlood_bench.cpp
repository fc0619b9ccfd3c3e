// The real Zelvik_Server program against floods from a few loopback addresses (bound before
// connecting), each run on a fresh server:
//   joins  N connections from one address send Hello and Join and never read a byte; prints the
//          players the server took, its resident memory at its peak and once they have left;
//   info   256 connections from 16 addresses ask for the server's info thousands of times and
//          never read: prints its resident memory at its peak;
//   hello  256 connections keep streaming Hello packets (reconnecting when closed);
//   ready  64 connections join and keep sending Ready with another player's id (rejoining when
//          closed);
// and, during the two streams, an honest player joins again and again (connect, Hello, Join,
// the join's answer, leave) while a browser asks for the server's info: prints both latencies
// (median, max, how many within 1 s).
//
// Usage: ServerFlood_bench [joins N = 3000] [seconds per stream = 15]
// ZELVIK_BENCH_GAME_DIR runs another build's run folder (for a before/after comparison).
#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "ProcessFigures.h"
#include "RelayClients.h"
#include "ServerProgram.h"
#include "ZelvikNetTestKit.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Resident memory of a process in MB: now (VmRSS) or at its peak so far (VmHWM).
double ResidentMb(pid_t pid, const char* key) {
    const long kb = process_figures::StatusKb(pid, key);
    return kb < 0 ? -1 : double(kb) / 1024.0;
}

uint32_t Ip(int a, int b, int c, int d) {
    return uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8 | uint32_t(d);
}

// A non-blocking connection from a bound loopback address; -1 when it cannot be opened.
int OpenFrom(uint32_t from, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{}, b{};
    a.sin_family = b.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(from);
    b.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    b.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (connect(fd, reinterpret_cast<sockaddr*>(&b), sizeof b) != 0 && errno != EINPROGRESS)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool AwaitConnected(int fd, int ms) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    return poll(&p, 1, ms) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
           err == 0;
}

Bytes HelloJoin(const char16_t* name) {
    Bytes b(kSizeHello + kSizeJoin);
    NetCmd_BuildHello(b.data(), kEngineVersion);
    NetCmd_BuildJoin(b.data() + kSizeHello, name);
    return b;
}

// Connect, Hello, Join, the join's answer; ms until the answer, -1 when it never came.
double HonestJoin(uint16_t port) {
    const auto start = Clock::now();
    relay_clients::BenchClient c;
    c.handle = Platform_Socket_Connect("127.0.0.1", port, 10000);
    if (!c.handle) return -1;
    const Bytes b = HelloJoin(u"Honest");
    const bool ok = Platform_Socket_Send(c.handle, b.data(), uint32_t(b.size())) > 0 &&
                    relay_clients::AwaitJoinReply(c) != 0;
    const double ms = MsSince(start);
    Platform_Socket_Close(c.handle);
    return ok ? ms : -1;
}

// A browser's info query: the players the server reports (ms in *ms), -1 when no answer came.
int64_t InfoQuery(uint16_t port, double* ms = nullptr, double timeoutMs = 10000) {
    const auto start = Clock::now();
    const uint32_t h = Platform_Socket_Connect("127.0.0.1", port, 10000);
    if (!h) return -1;
    const uint8_t ask = NetCmd_GetInfo;
    uint8_t answer[kSizeInfo];
    uint32_t got = 0;
    if (Platform_Socket_Send(h, &ask, 1) == 1)
        while (got < kSizeInfo && MsSince(start) < timeoutMs) {
            if (!Platform_Socket_Readable(h, 10)) continue;
            const int32_t n = Platform_Socket_Receive(h, answer + got, kSizeInfo - got);
            if (n < 0) break;
            got += uint32_t(n);
        }
    if (ms) *ms = MsSince(start);
    Platform_Socket_Close(h);
    return got == kSizeInfo && answer[0] == NetCmd_Info ? int64_t(Net_GetU32(answer + 513)) : -1;
}

using server_program::Latencies;

// Connections that keep sending what they should not, each reopened (and, for Ready, joined
// again) as soon as the server closes it. They read and discard what arrives.
class Stream {
public:
    enum Kind { kHello, kWrongReady };
    Stream(Kind kind, uint16_t port, std::vector<uint32_t> from)
        : kind_(kind), port_(port), thread_([this, from] { Work(from); }) {}
    ~Stream() {
        stop_ = true;
        thread_.join();
    }
    uint64_t Opened() const { return opened_.load(); }
    uint64_t SentPackets() const { return sent_.load(); }

private:
    struct Slot {
        int fd = -1;
        uint32_t from = 0;
        Bytes in;
        uint32_t id = 0; // the player id, once the join's answer came
        bool greeted = false;
    };

    void Work(const std::vector<uint32_t>& from) {
        std::vector<Slot> slots(from.size());
        for (size_t i = 0; i < slots.size(); ++i) slots[i].from = from[i];
        Bytes hellos;
        for (int i = 0; i < 16; ++i) {
            uint8_t h[kSizeHello];
            NetCmd_BuildHello(h, kEngineVersion);
            hellos.insert(hellos.end(), h, h + kSizeHello);
        }
        const Bytes join = HelloJoin(u"Stray");
        while (!stop_) {
            for (Slot& s : slots) {
                if (s.fd < 0) {
                    s = Slot{OpenFrom(s.from, port_), s.from, {}, 0, false};
                    if (s.fd >= 0) ++opened_;
                    continue;
                }
                uint8_t chunk[16384];
                const ssize_t n = recv(s.fd, chunk, sizeof chunk, MSG_DONTWAIT);
                const bool wait = n < 0 && (errno == EAGAIN || errno == EINTR || errno == ENOTCONN);
                if (n == 0 || (n < 0 && !wait)) {
                    close(s.fd);
                    s.fd = -1;
                    continue;
                }
                if (n > 0 && !s.id && kind_ == kWrongReady) {
                    s.in.insert(s.in.end(), chunk, chunk + n);
                    if (s.in.size() >= 5 && s.in[0] == NetCmd_JoinReply)
                        s.id = Net_GetU32(s.in.data() + 1);
                }
                Bytes out;
                if (kind_ == kHello) {
                    out = hellos;
                } else if (!s.greeted) {
                    out = join;
                } else if (s.id) {
                    for (int i = 0; i < 16; ++i) {
                        uint8_t r[kSizeReady];
                        NetCmd_BuildReady(r, s.id + 1000, 0); // another player's id
                        out.insert(out.end(), r, r + kSizeReady);
                    }
                }
                if (out.empty()) continue;
                const ssize_t w = send(s.fd, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
                if (w == ssize_t(out.size())) {
                    s.greeted = true;
                    sent_ += kind_ == kHello || s.id ? 16 : 0;
                } else if (w >= 0 || (errno != EAGAIN && errno != ENOTCONN)) {
                    // Cut or failed: start over on a fresh connection.
                    close(s.fd);
                    s.fd = -1;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (Slot& s : slots)
            if (s.fd >= 0) close(s.fd);
    }

    Kind kind_;
    uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> opened_{0}, sent_{0};
    std::thread thread_;
};

bool StartProgram(server_program::ServerProgram& program) {
    if (program.Start("zelvik_flood_bench_")) return true;
    std::fprintf(stderr, "cannot start %s/Zelvik_Server\n", server_program::GameDir().c_str());
    return false;
}

bool JoinFlood(int count) {
    if (!testkit::RaiseDescriptorLimit(rlim_t(count) * 2 + 256)) {
        std::fprintf(stderr, "the open-file limit cannot hold %d connections\n", count);
        return false;
    }
    server_program::ServerProgram program;
    if (!StartProgram(program)) return false;
    const double before = ResidentMb(program.pid, "VmRSS:");
    const Bytes hello = HelloJoin(u"Flood");
    std::vector<int> fds;
    const auto start = Clock::now();
    double peak = 0;
    const auto sample = [&] { peak = std::max(peak, ResidentMb(program.pid, "VmRSS:")); };
    // All at once, as fast as the kernel takes them: the handshake and the first bytes wait in
    // the server's queues until it gets to them.
    for (int i = 0; i < count && MsSince(start) < 20000; ++i) {
        const int fd = OpenFrom(Ip(127, 0, 5, 1), program.port);
        if (fd < 0) continue;
        if (!AwaitConnected(fd, 2000) ||
            send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) != ssize_t(hello.size())) {
            close(fd);
            continue;
        }
        fds.push_back(fd);
        if (i % 100 == 99) sample();
    }
    const double sending = MsSince(start) / 1000.0;
    // Until the server has taken them all (its info answers again and the count holds still),
    // at most 40 s from the start.
    int64_t most = -1, last = -2; // -1: the server did not answer
    while (MsSince(start) < 40000) {
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sample();
        }
        const int64_t players = InfoQuery(program.port, nullptr, 2000);
        most = std::max(most, players);
        if (players >= 0 && players == last) break;
        last = players;
    }
    const double settled = MsSince(start) / 1000.0;
    const double held = ResidentMb(program.pid, "VmRSS:");
    for (int fd : fds) close(fd);
    // Until the server answers that every player has left, at most 15 s; then 2 s more.
    const auto leaving = Clock::now();
    int64_t left = -1;
    while (MsSince(leaving) < 15000 && (left = InfoQuery(program.port, nullptr, 2000)) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double gone = MsSince(leaving) / 1000.0;
    const double after = ResidentMb(program.pid, "VmRSS:");
    std::printf("join flood: %zu connections from 127.0.5.1 sent Hello and Join in %.1f s and "
                "never read; the server settled after %.1f s\n"
                "  players held at most %lld (-1: no info answer came within 2 s); Zelvik_Server "
                "resident %.0f MB at the start, peak "
                "%.0f MB (VmHWM %.0f MB), %.0f MB once settled, %.0f MB %.1f s after they left "
                "(%lld players left)\n",
                fds.size(), sending, settled, static_cast<long long>(most), before, peak,
                ResidentMb(program.pid, "VmHWM:"), held, after, gone, static_cast<long long>(left));
    std::fflush(stdout);
    return true;
}

// 256 connections from 16 addresses each ask for the server's info 4,096 times in one go and
// never read the 2 MB of answers: prints the server's resident memory at its peak.
bool InfoFlood() {
    server_program::ServerProgram program;
    if (!StartProgram(program)) return false;
    const double before = ResidentMb(program.pid, "VmRSS:");
    const Bytes asks(4096, NetCmd_GetInfo);
    std::vector<int> fds;
    for (int i = 0; i < 256; ++i) {
        const int fd = OpenFrom(Ip(127, 0, 7, 1 + i / 16), program.port);
        if (fd < 0) continue;
        if (AwaitConnected(fd, 2000) &&
            send(fd, asks.data(), asks.size(), MSG_NOSIGNAL) == ssize_t(asks.size()))
            fds.push_back(fd);
        else
            close(fd);
    }
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const double peak = ResidentMb(program.pid, "VmHWM:");
    for (int fd : fds) close(fd);
    std::printf("info flood: %zu connections asked 4096 times each and never read\n"
                "  Zelvik_Server resident %.0f MB at the start, peak %.0f MB\n",
                fds.size(), before, peak);
    std::fflush(stdout);
    return true;
}

bool StreamRun(Stream::Kind kind, int seconds) {
    server_program::ServerProgram program;
    if (!StartProgram(program)) return false;
    std::vector<uint32_t> from;
    const int count = kind == Stream::kHello ? 256 : 64;
    // 16 connections per address: what the server lets wait per address, and well under the
    // players it takes from one.
    for (int i = 0; i < count; ++i) from.push_back(Ip(127, 0, 6 + i / 16, 1 + i % 16));
    Stream stream(kind, program.port, from);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const uint64_t opened = stream.Opened(), sent = stream.SentPackets();
    const double cpuStart = server_program::ProcessCpuSeconds(program.pid);
    const auto start = Clock::now();
    Latencies joins, infos;
    while (MsSince(start) < seconds * 1000.0) {
        joins.ms.push_back(HonestJoin(program.port));
        double ms = -1;
        infos.ms.push_back(InfoQuery(program.port, &ms) >= 0 ? ms : -1);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const double played = MsSince(start) / 1000.0;
    const double cpu = (server_program::ProcessCpuSeconds(program.pid) - cpuStart) / played;
    std::printf("%d connections streaming %s (%llu packets sent, %llu reconnects in %.0f s):\n",
                count, kind == Stream::kHello ? "Hello" : "Ready with another player's id",
                static_cast<unsigned long long>(stream.SentPackets() - sent),
                static_cast<unsigned long long>(stream.Opened() - opened), played);
    joins.Print("honest joins");
    infos.Print("info queries");
    std::printf("  Zelvik_Server CPU %.1f%% of a core, resident %.0f MB\n", cpu * 100.0,
                ResidentMb(program.pid, "VmRSS:"));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    HighResTimer_ChooseClocks();
    Platform_Socket_Init();
    const int joins = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 20000) : 3000;
    const int seconds = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 60) : 15;
    bool ok = JoinFlood(joins);
    ok = InfoFlood() && ok;
    ok = StreamRun(Stream::kHello, seconds) && ok;
    ok = StreamRun(Stream::kWrongReady, seconds) && ok;
    return ok ? 0 : 1;
}
