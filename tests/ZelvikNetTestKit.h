// Loopback helpers for the master-list tests: the real zelvik_master as a child process, raw
// TCP servers that answer with canned bytes, and listeners bound to one loopback address.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testkit {

inline uint32_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A listening socket on ip:port (port 0 = any); -1 on failure. *bound receives the port.
inline int ListenOn(const char* ip, uint16_t port, uint16_t* bound, bool nonBlocking = false) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    if (bound) *bound = ntohs(a.sin_port);
    if (nonBlocking) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    return fd;
}

// A port for a server the test starts later. Taken below the kernel's ephemeral range: a port
// the kernel hands out for bind(0) is also handed to other tests' outgoing connections, which
// may take it before our server binds it.
inline uint16_t FreePort() {
    static std::atomic<uint32_t> next{static_cast<uint32_t>(getpid()) * 7919u};
    for (int tries = 0; tries < 1000; ++tries) {
        const auto port = static_cast<uint16_t>(20000 + next.fetch_add(7) % 12000);
        const int fd = ListenOn("127.0.0.1", port, nullptr);
        if (fd >= 0) {
            close(fd);
            return port;
        }
    }
    return 0;
}

// Reads what arrives within ms milliseconds (stops early once `until` bytes are there).
inline std::string ReadFor(int fd, int ms, size_t until = SIZE_MAX) {
    std::string got;
    const uint32_t end = NowMs() + static_cast<uint32_t>(ms);
    char buf[4096];
    while (got.size() < until) {
        const int left = static_cast<int>(end - NowMs());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

inline bool SendAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A server thread that handles each accepted connection with `handle`, one after another,
// until stopped. The handler gets the connection and its 0-based number.
class RawServer {
public:
    explicit RawServer(std::function<void(int fd, int index)> handle, const char* ip = "127.0.0.1",
                       uint16_t port = 0)
        : handle_(std::move(handle)) {
        fd_ = ListenOn(ip, port, &port_);
        if (fd_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~RawServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
    }
    uint16_t Port() const { return port_; }
    bool Ok() const { return fd_ >= 0; }
    int Accepted() const { return accepted_; }
    // The request bytes of the first connection (what the handler read with ReadRequest).
    std::string request;

    // Reads an HTTP request up to its empty line (at most 2 s).
    std::string ReadRequest(int fd) {
        std::string got;
        const uint32_t end = NowMs() + 2000;
        char c;
        while (got.find("\r\n\r\n") == std::string::npos && static_cast<int>(end - NowMs()) > 0) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            if (recv(fd, &c, 1, 0) != 1) break;
            got.push_back(c);
        }
        if (request.empty()) request = got;
        return got;
    }

private:
    void Run() {
        int index = 0;
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            ++accepted_;
            handle_(c, index++);
            close(c);
        }
    }
    std::function<void(int, int)> handle_;
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// The real zelvik_master on a free loopback port, with its list in stateFile.
class MasterProcess {
public:
    MasterProcess(const std::string& program, const std::string& stateFile,
                  std::vector<std::string> extra = {}) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<std::string> args = {program, "--address", "127.0.0.1", "--port",
                                         "0",     "--state",   stateFile};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        if (posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        // "zelvik_master: listening on 127.0.0.1:PORT"
        std::string line;
        const uint32_t end = NowMs() + 5000;
        while (pid_ && line.find('\n') == std::string::npos &&
               static_cast<int>(end - NowMs()) > 0) {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buf[256];
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            line.append(buf, static_cast<size_t>(n));
        }
        close(out[0]);
        const size_t colon = line.rfind(':');
        if (colon != std::string::npos)
            port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
    }
    ~MasterProcess() { Stop(); }
    void Stop() {
        if (!pid_) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
    }
    uint16_t Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    pid_t pid_ = 0;
    uint16_t port_ = 0;
};

// One HTTP/1.0 GET on loopback; the whole answer (headers and body).
inline std::string HttpGet(uint16_t port, const std::string& path) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return "";
    }
    SendAll(fd, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    std::string got = ReadFor(fd, 3000);
    close(fd);
    return got;
}

// The body of an HTTP answer.
inline std::string Body(const std::string& answer) {
    const size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? "" : answer.substr(at + 4);
}

// Raises this process's descriptor limit to the hard limit; true when at least `need` fit.
inline bool RaiseDescriptorLimit(rlim_t need) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur >= need;
}

// Connections that hold a server's slots as an abuser would: `idle` ones that never send and
// `slow` ones that send a request a byte a second. They come from the loopback addresses
// 127.0.1.1 on, perAddress from each, so a cap per source address does not turn them away
// and the server really holds them all.
class Crowd {
public:
    Crowd(uint16_t port, int idle, int slow, int perAddress) {
        for (int i = 0; i < idle + slow; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0) break;
            const int source = i / perAddress;
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr =
                htonl(0x7F000000u | (1 + source / 250) << 8 | (1 + source % 250));
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
                connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                close(fd);
                break;
            }
            (i < idle ? idle_ : slow_).push_back(fd);
        }
        sender_ = std::thread([this] {
            const std::string request = "GET /zelvikserver.txt HTTP/1.0\r\nHost: x\r\n\r\n";
            for (size_t at = 0; !stop_; at = (at + 1) % request.size()) {
                for (int fd : slow_) send(fd, &request[at], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                for (int i = 0; i < 100 && !stop_; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~Crowd() {
        stop_ = true;
        sender_.join();
        for (int fd : idle_) close(fd);
        for (int fd : slow_) close(fd);
    }
    // Connections made.
    int Made() const { return static_cast<int>(idle_.size() + slow_.size()); }
    // Connections the server has neither answered nor closed.
    int Held() const {
        std::vector<pollfd> all;
        for (int fd : idle_) all.push_back({fd, POLLIN, 0});
        for (int fd : slow_) all.push_back({fd, POLLIN, 0});
        poll(all.data(), all.size(), 0);
        int held = 0;
        for (const pollfd& p : all) held += p.revents == 0;
        return held;
    }

private:
    std::vector<int> idle_, slow_;
    std::atomic<bool> stop_{false};
    std::thread sender_;
};

// Game servers that accept every connection and hold it, never answering, until this goes.
class SilentListeners {
public:
    SilentListeners() = default;
    SilentListeners(const SilentListeners&) = delete;
    SilentListeners& operator=(const SilentListeners&) = delete;
    ~SilentListeners() {
        stop_ = true;
        if (acceptor_.joinable()) acceptor_.join();
        for (int fd : held_) close(fd);
        for (int fd : listeners_) close(fd);
    }
    // Listens on ip:port too; false when that cannot be had.
    bool Add(const std::string& ip, uint16_t port) {
        const int fd = ListenOn(ip.c_str(), port, nullptr, true);
        if (fd < 0) return false;
        listeners_.push_back(fd);
        return true;
    }
    // Accepts on every listener added so far.
    void Start() {
        acceptor_ = std::thread([this] {
            std::vector<pollfd> fds;
            for (int fd : listeners_) fds.push_back({fd, POLLIN, 0});
            while (!stop_) {
                if (poll(fds.data(), fds.size(), 20) <= 0) continue;
                for (const pollfd& p : fds)
                    if (p.revents & POLLIN)
                        if (const int c = accept4(p.fd, nullptr, nullptr, SOCK_CLOEXEC); c >= 0)
                            held_.push_back(c);
            }
        });
    }

private:
    std::vector<int> listeners_, held_;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
};

} // namespace testkit
