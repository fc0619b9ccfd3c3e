#include "Platform_Dial.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int Fd(uint32_t handle) {
    return handle ? static_cast<int>(handle - 1) : -1;
}
uint32_t Handle(int fd) {
    return fd >= 0 ? static_cast<uint32_t>(fd) + 1 : 0;
}

std::string ErrorText(int err) {
    char buffer[128];
    return strerror_r(err, buffer, sizeof buffer); // the GNU form returns the text
}

// The stored form keeps the first octet in the lowest byte.
in_addr ToInAddr(uint32_t address) {
    in_addr a{};
    a.s_addr = htonl((address & 0xFFu) << 24 | (address >> 8 & 0xFFu) << 16 |
                     (address >> 16 & 0xFFu) << 8 | address >> 24);
    return a;
}

// A name lookup can hang as long as the resolver likes: it runs on a thread of its own that
// finishes by itself after the caller has given up at its deadline.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr address{};
};

bool Resolve(const char* host, Clock::time_point deadline, in_addr* out, std::string* why) {
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

void SetNoDelay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A non-blocking socket from source (0: any) with its connect begun; -1 and errno on failure.
int Begin(const in_addr& to, uint16_t port, uint32_t source) {
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

uint32_t Platform_Dial_Connect(const char* host, uint16_t port, uint32_t source, int32_t timeoutMs,
                               std::string* why) {
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
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    in_addr to{};
    if (!Resolve(host, deadline, &to, why)) return 0;
    const int fd = Begin(to, port, source);
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

uint32_t Platform_Dial_Start(uint32_t address, uint16_t port) {
    if (!address || !port) return 0;
    return Handle(Begin(ToInAddr(address), port, 0));
}

bool Platform_Dial_Made(uint32_t handle) {
    const int fd = Fd(handle);
    if (fd < 0 || PendingError(fd) != 0) return false;
    // No error pending yet may still mean "not yet": only a connected socket has a peer.
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
    SetNoDelay(fd);
    return true;
}

int32_t Platform_Dial_Poll(PlatformDialPoll* entries, uint32_t count, uint32_t wake,
                           int32_t timeoutMs) {
    if (count && !entries) return -1;
    std::vector<pollfd> fds(count + (wake ? 1 : 0));
    for (uint32_t i = 0; i < count; ++i) {
        fds[i].fd = Fd(entries[i].handle); // negative descriptors are skipped by poll()
        fds[i].events = static_cast<short>(POLLIN | (entries[i].wantWrite ? POLLOUT : 0));
    }
    if (wake) fds[count] = {Fd(wake), POLLIN, 0};
    int rc;
    do {
        rc = poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return -1;
    int32_t news = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const short r = fds[i].revents;
        entries[i].readable = (r & POLLIN) != 0;
        entries[i].writable = (r & POLLOUT) != 0;
        entries[i].hangup = (r & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        news += r != 0;
    }
    if (wake && fds[count].revents) {
        uint64_t drained;
        [[maybe_unused]] const ssize_t n = read(Fd(wake), &drained, sizeof drained);
    }
    return news;
}

uint32_t Platform_Dial_WakerCreate() {
    return Handle(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void Platform_Dial_Wake(uint32_t waker) {
    if (!waker) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(Fd(waker), &one, sizeof one);
}

void Platform_Dial_WakerFree(uint32_t waker) {
    if (waker) close(Fd(waker));
}
