#include "Platform_Socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// Bytes the kernel did not take yet, per descriptor. Sockets may be used from several threads
// (a server beside its clients, server queries), so the table is split into shards, each with
// its own lock. Below kShards descriptors every socket has a shard of its own, so threads
// working on different sockets never wait for each other (a send holds the lock during the
// system call); shards sit on their own cache lines.
struct alignas(64) BacklogShard {
    std::mutex lock;
    std::unordered_map<int, std::vector<uint8_t>> queues;
};
constexpr int kShards = 1024;
BacklogShard shards[kShards];
BacklogShard& ShardOf(int fd) {
    return shards[static_cast<unsigned>(fd) % kShards];
}

int Fd(uint32_t handle) {
    return handle ? static_cast<int>(handle - 1) : -1;
}
uint32_t Handle(int fd) {
    return fd >= 0 ? static_cast<uint32_t>(fd) + 1 : 0;
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetNoDelay(int fd) {
    // Input packets are small and latency-bound.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

// Writes as much of data as the kernel takes; -1 on a hard error.
ssize_t WriteSome(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && WouldBlock(errno)) break;
        return -1;
    }
    return static_cast<ssize_t>(done);
}

// The stored form keeps the first octet in the lowest byte.
in_addr ToInAddr(uint32_t address) {
    in_addr a{};
    a.s_addr = htonl((address & 0xFFu) << 24 | (address >> 8 & 0xFFu) << 16 |
                     (address >> 16 & 0xFFu) << 8 | address >> 24);
    return a;
}

std::string ErrorText(int err) {
    char buffer[128];
    return strerror_r(err, buffer, sizeof buffer); // the GNU form returns the text
}

// A name lookup can hang for as long as the resolver likes; the caller gives up at its
// deadline while the lookup thread finishes on its own and frees the shared state.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

bool ResolveIPv4(const char* host, std::chrono::steady_clock::time_point deadline, in_addr* out,
                 std::string* why) {
    if (inet_pton(AF_INET, host, out) == 1) return true;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, name = std::string(host)] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const bool ok = getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found;
            std::lock_guard<std::mutex> guard(lookup->lock);
            if (ok)
                lookup->address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
            if (found) freeaddrinfo(found);
            lookup->found = ok;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        *why = "no thread for the name lookup";
        return false;
    }
    std::unique_lock<std::mutex> guard(lookup->lock);
    if (!lookup->done.wait_until(guard, deadline, [&] { return lookup->finished; })) {
        *why = "the name lookup took too long";
        return false;
    }
    if (!lookup->found) {
        *why = "unknown host";
        return false;
    }
    *out = lookup->address;
    return true;
}

// A non-blocking socket from source (0: any) with its connect begun; -1 and errno on failure.
int BeginConnect(const in_addr& to, uint16_t port, uint32_t source) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (source) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr = ToInAddr(source);
        if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            const int err = errno;
            close(fd);
            errno = err;
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = to;
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS &&
        errno != EINTR) {
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int PendingError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

} // namespace

int32_t Platform_Socket_Init() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
    return 1;
}

uint32_t Platform_Socket_Listen(uint16_t port, uint32_t ipv4) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (ipv4)
        addr.sin_addr = ToInAddr(ipv4);
    else
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, SOMAXCONN) != 0 || !SetNonBlocking(fd)) {
        close(fd);
        return 0;
    }
    return Handle(fd);
}

uint16_t Platform_Socket_LocalPort(uint32_t listener) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (!listener || getsockname(Fd(listener), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

uint32_t Platform_Socket_Accept(uint32_t listener, uint32_t* ipv4) {
    if (!listener) return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    int fd;
    do {
        fd = accept4(Fd(listener), reinterpret_cast<sockaddr*>(&addr), &len,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return 0;
    SetNoDelay(fd);
    if (ipv4) *ipv4 = addr.sin_family == AF_INET ? ntohl(addr.sin_addr.s_addr) : 0;
    return Handle(fd);
}

uint32_t Platform_Socket_Connect(const char* host, uint16_t port, int32_t timeoutMs) {
    return Platform_Socket_ConnectFrom(host, port, 0, timeoutMs, nullptr);
}

uint32_t Platform_Socket_ConnectFrom(const char* host, uint16_t port, uint32_t source,
                                     int32_t timeoutMs, std::string* why) {
    std::string scratch;
    if (!why) why = &scratch;
    if (!host || !*host) {
        *why = "no host";
        return 0;
    }
    if (port == 0) {
        *why = "the port is not a number from 1 to 65535";
        return 0;
    }
    // The lookup and the connection share the one deadline.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    in_addr to{};
    if (!ResolveIPv4(host, deadline, &to, why)) return 0;
    const int fd = BeginConnect(to, port, source);
    if (fd < 0) {
        *why = ErrorText(errno);
        return 0;
    }
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLOUT, 0};
        const int rc = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc < 0 && errno == EINTR) continue;
        if (rc == 1) {
            const int err = PendingError(fd);
            if (err == 0) break;
            *why = ErrorText(err);
        } else {
            *why = "no answer within " + std::to_string((timeoutMs + 999) / 1000) + " s";
        }
        close(fd);
        return 0;
    }
    SetNoDelay(fd);
    return Handle(fd);
}

uint32_t Platform_Socket_ConnectStart(uint32_t address, uint16_t port) {
    if (!address || !port) return 0;
    return Handle(BeginConnect(ToInAddr(address), port, 0));
}

bool Platform_Socket_ConnectMade(uint32_t handle) {
    const int fd = Fd(handle);
    if (fd < 0 || PendingError(fd) != 0) return false;
    // No error pending yet may still mean "not yet": only a connected socket has a peer.
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
    SetNoDelay(fd);
    return true;
}

int32_t Platform_Socket_Send(uint32_t handle, const void* data, uint32_t size) {
    if (!handle || (!data && size)) return -1;
    if (size > 0x7FFFFFFFu) return -1;
    const int fd = Fd(handle);
    const auto* bytes = static_cast<const uint8_t*>(data);
    BacklogShard& shard = ShardOf(fd);
    std::lock_guard<std::mutex> guard(shard.lock);
    auto it = shard.queues.find(fd);
    size_t taken = 0;
    if (it == shard.queues.end() || it->second.empty()) {
        const ssize_t n = WriteSome(fd, bytes, size);
        if (n < 0) return -1;
        taken = static_cast<size_t>(n);
        if (taken == size) return static_cast<int32_t>(size);
        it = shard.queues.try_emplace(fd).first;
    }
    // A peer that does not read must not make us hold unbounded memory.
    if (it->second.size() + (size - taken) > kSendBacklogLimit) return -1;
    it->second.insert(it->second.end(), bytes + taken, bytes + size);
    return static_cast<int32_t>(size);
}

int32_t Platform_Socket_Queue(uint32_t handle, const void* data, uint32_t size) {
    if (!handle || (!data && size) || size > kSendBacklogLimit) return -1;
    const auto* bytes = static_cast<const uint8_t*>(data);
    BacklogShard& shard = ShardOf(Fd(handle));
    std::lock_guard<std::mutex> guard(shard.lock);
    auto& backlog = shard.queues[Fd(handle)];
    if (backlog.size() + size > kSendBacklogLimit) return -1;
    backlog.insert(backlog.end(), bytes, bytes + size);
    return static_cast<int32_t>(size);
}

int32_t Platform_Socket_Flush(uint32_t handle) {
    if (!handle) return -1;
    const int fd = Fd(handle);
    BacklogShard& shard = ShardOf(fd);
    std::lock_guard<std::mutex> guard(shard.lock);
    auto it = shard.queues.find(fd);
    if (it == shard.queues.end() || it->second.empty()) return 0;
    const ssize_t n = WriteSome(fd, it->second.data(), it->second.size());
    if (n < 0) return -1;
    it->second.erase(it->second.begin(), it->second.begin() + n);
    const auto left = static_cast<int32_t>(it->second.size());
    // A drained queue gives its buffer back (it may have grown to the limit).
    if (left == 0) shard.queues.erase(it);
    return left;
}

uint32_t Platform_Socket_Backlog(uint32_t handle) {
    if (!handle) return 0;
    BacklogShard& shard = ShardOf(Fd(handle));
    std::lock_guard<std::mutex> guard(shard.lock);
    auto it = shard.queues.find(Fd(handle));
    return it == shard.queues.end() ? 0 : static_cast<uint32_t>(it->second.size());
}

int32_t Platform_Socket_Receive(uint32_t handle, void* data, uint32_t size) {
    if (!handle || !data) return -1;
    if (size == 0) return 0;
    if (size > 0x7FFFFFFFu) size = 0x7FFFFFFFu;
    for (;;) {
        const ssize_t n = recv(Fd(handle), data, size, 0);
        if (n > 0) return static_cast<int32_t>(n);
        if (n == 0) return -1; // orderly close
        if (errno == EINTR) continue;
        return WouldBlock(errno) ? 0 : -1;
    }
}

int32_t Platform_Socket_Poll(PlatformPollEntry* entries, uint32_t count, int32_t timeoutMs) {
    if (count == 0) return 0;
    if (!entries) return -1;
    std::vector<pollfd> fds(count);
    for (uint32_t i = 0; i < count; ++i) {
        fds[i].fd = Fd(entries[i].handle); // negative fds are skipped by poll()
        fds[i].events = POLLIN;
        if (fds[i].fd < 0) continue;
        BacklogShard& shard = ShardOf(fds[i].fd);
        std::lock_guard<std::mutex> guard(shard.lock);
        auto it = shard.queues.find(fds[i].fd);
        if (it != shard.queues.end() && !it->second.empty()) fds[i].events |= POLLOUT;
    }
    int rc;
    do {
        rc = poll(fds.data(), count, timeoutMs < 0 ? 0 : timeoutMs);
    } while (rc < 0 && errno == EINTR);
    for (uint32_t i = 0; i < count; ++i) {
        const short r = rc > 0 ? fds[i].revents : 0;
        entries[i].readable = (r & POLLIN) != 0;
        entries[i].hangup = (r & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        entries[i].writable = (r & POLLOUT) != 0;
    }
    return rc < 0 ? -1 : rc;
}

int32_t Platform_Socket_Readable(uint32_t handle, int32_t timeoutMs) {
    if (!handle) return 0;
    PlatformPollEntry e{handle, 0, 0, 0};
    if (Platform_Socket_Poll(&e, 1, timeoutMs) <= 0) return 0;
    return e.readable || e.hangup;
}

uint32_t Platform_Socket_WaitSetCreate() {
    return Handle(epoll_create1(EPOLL_CLOEXEC));
}

namespace {

int WaitSetControl(uint32_t set, int op, uint32_t handle, uint64_t key, uint32_t events) {
    if (!set || !handle) return 0;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = key;
    return epoll_ctl(Fd(set), op, Fd(handle), &ev) == 0 ? 1 : 0;
}

} // namespace

int32_t Platform_Socket_WaitSetAdd(uint32_t set, uint32_t handle, uint64_t key) {
    return WaitSetControl(set, EPOLL_CTL_ADD, handle, key, EPOLLIN | EPOLLRDHUP);
}

int32_t Platform_Socket_WaitSetWatchWrite(uint32_t set, uint32_t handle, uint64_t key,
                                          int32_t watch) {
    return WaitSetControl(set, EPOLL_CTL_MOD, handle, key,
                          EPOLLIN | EPOLLRDHUP | (watch ? EPOLLOUT : 0u));
}

void Platform_Socket_WaitSetRemove(uint32_t set, uint32_t handle) {
    WaitSetControl(set, EPOLL_CTL_DEL, handle, 0, 0);
}

int32_t Platform_Socket_WaitSetWait(uint32_t set, PlatformReadyEntry* entries, uint32_t max,
                                    int64_t timeoutUs) {
    if (!set || !entries || max == 0) return -1;
    if (max > 0x10000u) max = 0x10000u;
    thread_local std::vector<epoll_event> events;
    if (events.size() < max) events.resize(max);
    if (timeoutUs < 0) timeoutUs = 0;
    const timespec timeout{static_cast<time_t>(timeoutUs / 1000000),
                           static_cast<long>(timeoutUs % 1000000) * 1000};
    int rc;
    do {
        rc = epoll_pwait2(Fd(set), events.data(), static_cast<int>(max), &timeout, nullptr);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return -1;
    for (int i = 0; i < rc; ++i) {
        const uint32_t r = events[i].events;
        entries[i].key = events[i].data.u64;
        entries[i].hangup = (r & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
        entries[i].readable = (r & (EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
        entries[i].writable = (r & EPOLLOUT) != 0;
    }
    return rc;
}

void Platform_Socket_WaitSetFree(uint32_t set) {
    if (set) close(Fd(set));
}

uint32_t Platform_Socket_PeerAddress(uint32_t handle) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (!handle || getpeername(Fd(handle), reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        addr.sin_family != AF_INET)
        return 0;
    return ntohl(addr.sin_addr.s_addr);
}

void Platform_Socket_Close(uint32_t handle) {
    if (!handle) return;
    const int fd = Fd(handle);
    {
        BacklogShard& shard = ShardOf(fd);
        std::lock_guard<std::mutex> guard(shard.lock);
        shard.queues.erase(fd);
    }
    close(fd);
}

void Platform_Socket_TrimMemory() {
    malloc_trim(0);
}

uint64_t Platform_Socket_RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    // An unlimited hard limit would make every poll table and per-descriptor array huge.
    constexpr rlim_t ceiling = 1u << 20;
    const rlim_t wanted =
        limit.rlim_max == RLIM_INFINITY ? ceiling : std::min(limit.rlim_max, ceiling);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted)
        return std::min(limit.rlim_cur, ceiling);
    rlimit raised{wanted, limit.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) return wanted;
    return limit.rlim_cur;
}
