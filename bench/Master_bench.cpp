// The real zelvik_master under abuse and with a long list. Prints:
// - list-request latency (median, 99th percentile), from connect to the closed answer, first
//   alone, then with 1,000 idle and 100 slow (a byte a second) connections open from many
//   source addresses, so the master really holds them all;
// - registration cost with 4 and with 40,000 servers listed: round-trip latency and the
//   master's CPU time per registration (all its threads, background file writes included),
//   each registration from a new loopback address.
//
// - list and register latency while 128 source addresses hold 16 connections each, every one
//   trickling a request a byte a second and reconnecting whenever the master closes it
//   (the figure: how many honest requests were answered within 1 s).
// - list latency while 100 source addresses hold 16 connections each that stream nothing
//   but empty lines ("\n") as fast as the master takes them, reconnecting when dropped.
//
// Usage: Master_bench [requests per figure = 1000] [siege seconds = 20] [flood seconds = 10]
//        Master_bench flood [seconds = 10]   (the empty-line flood alone)
#include "ZelvikNetTestKit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace testkit;

namespace {

const std::string kMaster = std::string(ZELVIK_GAME_DIR) + "/zelvik_master";

uint64_t NowUs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

// One HTTP/1.0 GET from source (host order, 0 = any) until the master closes; microseconds,
// or 0 when it failed.
uint64_t TimedGet(uint16_t port, const char* path, uint32_t source = 0) {
    const uint64_t start = NowUs();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(source);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if ((source && bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
        !SendAll(fd, std::string("GET ") + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")) {
        close(fd);
        return 0;
    }
    char buf[4096];
    size_t got = 0;
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return got ? NowUs() - start : 0;
}

// CPU time of every thread of the process, in microseconds.
uint64_t CpuUs(pid_t pid) {
    uint64_t ns = 0;
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(tasks, ec)) {
        std::ifstream in(task.path() / "schedstat");
        uint64_t run = 0;
        if (in >> run) ns += run;
    }
    return ns / 1000;
}

struct Figures {
    double median, p99;
    int failed;
};

Figures Summarise(std::vector<uint64_t> us) {
    int failed = static_cast<int>(std::count(us.begin(), us.end(), 0u));
    std::erase(us, 0u);
    if (us.empty()) return {0, 0, failed};
    std::sort(us.begin(), us.end());
    const size_t p99 = std::min(us.size() - 1, us.size() * 99 / 100);
    return {us[us.size() / 2] / 1000.0, us[p99] / 1000.0, failed};
}

void PrintLatency(const char* what, const Figures& f) {
    std::printf("%-52s median %7.3f ms   p99 %7.3f ms%s\n", what, f.median, f.p99,
                f.failed ? "   (some failed)" : "");
}

std::vector<uint64_t> Lists(uint16_t port, int count) {
    std::vector<uint64_t> us;
    for (int i = 0; i < count; ++i) us.push_back(TimedGet(port, "/zelvikserver.txt"));
    return us;
}

// Registers `count` new addresses from 127.2.0.1 on, with `listed` servers in the state file.
void Registrations(const fs::path& dir, int listed, int count) {
    const fs::path state = dir / ("state_" + std::to_string(listed) + ".txt");
    {
        std::ofstream out(state);
        const long long now = time(nullptr);
        for (int i = 0; i < listed; ++i)
            out << "10." << (i >> 16) << '.' << (i >> 8 & 255) << '.' << (i & 255) << ' ' << now
                << '\n';
    }
    MasterProcess master(kMaster, state.string(), {"--max-servers", "100000"});
    if (!master.Port()) {
        std::printf("cannot start %s\n", kMaster.c_str());
        return;
    }
    const pid_t pid = master.Pid();
    // Warm-up: the first list builds the answer, the first registration the file.
    TimedGet(master.Port(), "/zelvikserver.txt");
    const uint64_t cpuBefore = CpuUs(pid);
    std::vector<uint64_t> us;
    for (int i = 0; i < count; ++i)
        us.push_back(TimedGet(master.Port(), "/addzelvikserver.php",
                              0x7F020000u | static_cast<uint32_t>(i / 250) << 8 |
                                  static_cast<uint32_t>(1 + i % 250)));
    // Let the background write of this burst happen and count it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const uint64_t cpu = CpuUs(pid) - cpuBefore;
    const std::string what = "registration, " + std::to_string(listed) + " listed";
    PrintLatency(what.c_str(), Summarise(us));
    std::printf("%-52s %7.1f us of master CPU each (%d registrations, file writes included)\n", "",
                pid ? static_cast<double>(cpu) / count : 0.0, count);
}

// Non-blocking connections to the master on loopback, perAddress from each of addresses
// source addresses counted up from firstSource (host order); closed when this goes.
class SourcedSlots {
public:
    struct Slot {
        int fd;
        uint32_t source;
    };
    SourcedSlots(uint16_t port, int addresses, int perAddress, uint32_t firstSource) : port_(port) {
        for (int a = 0; a < addresses; ++a)
            for (int i = 0; i < perAddress; ++i)
                slots_.push_back({-1, firstSource + static_cast<uint32_t>(a)});
    }
    ~SourcedSlots() {
        for (auto& s : slots_)
            if (s.fd >= 0) close(s.fd);
    }
    SourcedSlots(const SourcedSlots&) = delete;
    SourcedSlots& operator=(const SourcedSlots&) = delete;
    auto begin() { return slots_.begin(); }
    auto end() { return slots_.end(); }
    size_t size() const { return slots_.size(); }
    Slot& operator[](size_t i) { return slots_[i]; }
    // Begins the connection again from the slot's own source address.
    void Connect(Slot& s) const {
        s.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(s.source);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s.fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
        connect(s.fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

private:
    uint16_t port_;
    std::vector<Slot> slots_;
};

// 128 addresses x 16 connections, each sending one byte a second of a request that never ends
// and connecting again as soon as the master drops it, as an attacker keeping slots would.
class Siege {
public:
    Siege(uint16_t port, int addresses, int perAddress)
        : slots_(port, addresses, perAddress, 0x7F020001u) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Siege() {
        stop_ = true;
        thread_.join();
    }
    int Reconnects() const { return reconnects_; }
    int Open() const { return open_; }

private:
    void Run() {
        const std::string request = "GET /zelvikserver.txt HTTP/1.0\r\nX-Slow: ";
        for (size_t at = 0; !stop_; ++at) {
            int open = 0;
            for (auto& s : slots_) {
                if (s.fd >= 0) {
                    pollfd p{s.fd, POLLIN, 0};
                    if (poll(&p, 1, 0) > 0) { // answered (408) or closed: come again
                        close(s.fd);
                        s.fd = -1;
                        reconnects_++;
                    }
                }
                if (s.fd < 0) slots_.Connect(s);
                const char byte = at < request.size() ? request[at] : 'a';
                open += send(s.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
            }
            open_ = open;
            for (int i = 0; i < 100 && !stop_; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    SourcedSlots slots_;
    std::atomic<bool> stop_{false};
    std::atomic<int> reconnects_{0}, open_{0};
    std::thread thread_;
};

void Sieged(const fs::path& dir, int seconds) {
    MasterProcess master(kMaster, (dir / "siege.txt").string());
    if (!master.Port()) {
        std::printf("cannot start %s\n", kMaster.c_str());
        return;
    }
    Siege siege(master.Port(), 128, 16);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<uint64_t> lists, registers;
    const uint64_t end = NowUs() + static_cast<uint64_t>(seconds) * 1000000;
    for (uint32_t i = 0; NowUs() < end; ++i) {
        lists.push_back(TimedGet(master.Port(), "/zelvikserver.txt", 0x7F040001u + i % 200));
        registers.push_back(TimedGet(master.Port(), "/addzelvikserver.php", 0x7F050001u + i % 200));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    auto report = [](const char* what, const std::vector<uint64_t>& us) {
        const Figures f = Summarise(us);
        const size_t inTime = static_cast<size_t>(
            std::count_if(us.begin(), us.end(), [](uint64_t t) { return t && t < 1000000; }));
        const uint64_t most = us.empty() ? 0 : *std::max_element(us.begin(), us.end());
        std::printf("%-52s median %7.3f ms   p99 %7.3f ms   max %7.3f ms   %zu/%zu within 1 s\n",
                    what, f.median, f.p99, static_cast<double>(most) / 1000.0, inTime, us.size());
    };
    report("list, 128 addresses x 16 trickling connections", lists);
    report("register, same siege", registers);
    std::printf("%-52s %d connections open at the end, %d reconnects after being dropped\n", "",
                siege.Open(), siege.Reconnects());
}

// addresses x perAddress connections, each writing blocks of "\n" whenever its socket takes
// them and connecting again when the master closes it.
class Flood {
public:
    Flood(uint16_t port, int addresses, int perAddress)
        : slots_(port, addresses, perAddress, 0x7F060001u) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Flood() {
        stop_ = true;
        thread_.join();
    }
    uint64_t Bytes() const { return bytes_; }
    int Reconnects() const { return reconnects_; }

private:
    void Run() {
        const std::string lines(4096, '\n');
        std::vector<pollfd> polls(slots_.size());
        while (!stop_) {
            for (size_t i = 0; i < slots_.size(); ++i) {
                auto& s = slots_[i];
                if (s.fd < 0) slots_.Connect(s);
                polls[i] = {s.fd, POLLIN | POLLOUT, 0};
            }
            if (poll(polls.data(), polls.size(), 10) <= 0) continue;
            for (size_t i = 0; i < slots_.size(); ++i) {
                auto& s = slots_[i];
                const short got = polls[i].revents;
                if (got & (POLLIN | POLLERR | POLLHUP)) { // refused or closed: come again
                    close(s.fd);
                    s.fd = -1;
                    reconnects_++;
                } else if (got & POLLOUT) {
                    const ssize_t n =
                        send(s.fd, lines.data(), lines.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n > 0) bytes_ += static_cast<uint64_t>(n);
                }
            }
        }
    }
    SourcedSlots slots_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> bytes_{0};
    std::atomic<int> reconnects_{0};
    std::thread thread_;
};

void Flooded(const fs::path& dir, int seconds) {
    MasterProcess master(kMaster, (dir / "flood.txt").string());
    if (!master.Port()) {
        std::printf("cannot start %s\n", kMaster.c_str());
        return;
    }
    TimedGet(master.Port(), "/addzelvikserver.php", 0x7F070001u);
    Flood flood(master.Port(), 100, 16);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const uint64_t bytesBefore = flood.Bytes();
    const uint64_t cpuBefore = CpuUs(master.Pid());
    const uint64_t start = NowUs();
    std::vector<uint64_t> lists;
    const uint64_t end = start + static_cast<uint64_t>(seconds) * 1000000;
    for (uint32_t i = 0; NowUs() < end; ++i) {
        lists.push_back(TimedGet(master.Port(), "/zelvikserver.txt", 0x7F080001u + i % 200));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double took = static_cast<double>(NowUs() - start) / 1e6;
    const double cpu = static_cast<double>(CpuUs(master.Pid()) - cpuBefore) / 1e6 / took;
    const Figures f = Summarise(lists);
    const uint64_t most = lists.empty() ? 0 : *std::max_element(lists.begin(), lists.end());
    const size_t inTime = static_cast<size_t>(
        std::count_if(lists.begin(), lists.end(), [](uint64_t t) { return t && t < 200000; }));
    std::printf("%-52s median %7.3f ms   p99 %7.3f ms   max %7.3f ms   %zu/%zu within 200 ms\n",
                "list, 1,600 connections streaming empty lines", f.median, f.p99,
                static_cast<double>(most) / 1000.0, inTime, lists.size());
    std::printf("%-52s %.1f MB/s of empty lines sent, %d reconnects after being dropped, "
                "master %.0f%% of a core\n",
                "", static_cast<double>(flood.Bytes() - bytesBefore) / took / 1e6,
                flood.Reconnects(), 100.0 * cpu);
}

} // namespace

int main(int argc, char** argv) {
    if (!RaiseDescriptorLimit(2400)) {
        std::printf("need 2400 descriptors; raise the hard limit (ulimit -Hn)\n");
        return 1;
    }
    if (argc > 1 && std::string(argv[1]) == "flood") {
        const fs::path dir =
            fs::temp_directory_path() / ("master_bench_" + std::to_string(getpid()));
        fs::create_directories(dir);
        Flooded(dir, argc > 2 ? std::max(1, std::atoi(argv[2])) : 10);
        fs::remove_all(dir);
        return 0;
    }
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
    const int siegeSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const int floodSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    const fs::path dir = fs::temp_directory_path() / ("master_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        MasterProcess master(kMaster, (dir / "state.txt").string());
        if (!master.Port()) {
            std::printf("cannot start %s\n", kMaster.c_str());
            return 1;
        }
        for (int i = 0; i < 4; ++i)
            TimedGet(master.Port(), "/addzelvikserver.php", 0x7F030001u + static_cast<uint32_t>(i));
        PrintLatency("list request, no other connection", Summarise(Lists(master.Port(), count)));
        const uint64_t start = NowUs();
        Crowd crowd(master.Port(), 1000, 100, 16);
        const double openMs = static_cast<double>(NowUs() - start) / 1000.0;
        const Figures busy = Summarise(Lists(master.Port(), count));
        const int held = crowd.Held();
        PrintLatency("list request, 1,000 idle + 100 slow connections open", busy);
        std::printf("%-52s %d of %d connections held by the master (opened in %.0f ms)\n", "", held,
                    crowd.Made(), openMs);
    }
    Registrations(dir, 4, count);
    Registrations(dir, 40000, count);
    Sieged(dir, siegeSeconds);
    Flooded(dir, floodSeconds);
    fs::remove_all(dir);
    return 0;
}
