#include "Platform_Service.h"

#include "Platform_HttpHead.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <queue>
#include <unordered_map>
#include <vector>

int Platform_Service_Listen(const std::string& address, uint16_t port, int backlog, uint16_t* bound,
                            std::string* error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        *error = "not an IPv4 address";
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    // SO_REUSEADDR only lets a restart take the port while old connections linger; without
    // SO_REUSEPORT the kernel refuses a second listener.
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, backlog) != 0) {
        *error = std::strerror(errno);
        close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return fd;
}

std::string Platform_Service_AddressText(const void* socketAddress) {
    if (!socketAddress) return "";
    const auto* any = static_cast<const sockaddr*>(socketAddress);
    in_addr ipv4{};
    if (any->sa_family == AF_INET) {
        ipv4 = static_cast<const sockaddr_in*>(socketAddress)->sin_addr;
    } else if (any->sa_family == AF_INET6) {
        const auto* v6 = static_cast<const sockaddr_in6*>(socketAddress);
        if (!IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) return "";
        std::memcpy(&ipv4, v6->sin6_addr.s6_addr + 12, sizeof ipv4);
    } else {
        return "";
    }
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &ipv4, text, sizeof text)) return "";
    return text;
}

namespace {

using Clock = std::chrono::steady_clock;

// Accepting at most this many per pass keeps a flood of new connections from starving the
// ones already there.
constexpr int kAcceptsPerPass = 1024;
constexpr size_t kReadChunk = 4096;

struct Connection {
    int fd = -1;
    uint32_t generation = 0;
    uint32_t address = 0;
    uint32_t interest = 0;
    std::string caller;
    Clock::time_point lastActivity;
    // The request under way: its start, its head so far, the body still to read past.
    Clock::time_point requestStart;
    std::string in;
    PlatformHttpHeadScan scan;
    bool requestStarted = false;
    bool inBody = false;
    bool bodyTooLarge = false;
    bool keepAlive = false;
    bool http10 = false;
    // The answer being sent.
    bool writing = false;
    bool closeAfter = false;
    uint64_t bodyLeft = 0;
    std::string method;
    std::string path;
    std::string head;
    std::shared_ptr<const std::string> body;
    size_t sent = 0;
    Clock::time_point timerAt;
};

struct Timer {
    Clock::time_point at;
    int fd;
    uint32_t generation;
    bool operator>(const Timer& other) const { return at > other.at; }
};

const char* StatusText(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

class Server {
public:
    Server(int listener, const PlatformServiceLimits& limits, const PlatformServiceHandler& handler)
        : listener_(listener), limits_(limits), handler_(handler) {
        headLimits_.headBytes = limits.headBytes;
    }

    ~Server() {
        for (auto& c : connections_)
            if (c) close(c->fd);
        if (epoll_ >= 0) close(epoll_);
    }

    bool Run(const std::atomic<bool>& stop, std::string* error) {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listener_;
        if (epoll_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &ev) != 0) {
            if (error) *error = std::strerror(errno);
            return false;
        }
        std::vector<epoll_event> events(512);
        while (!stop.load(std::memory_order_relaxed)) {
            const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()),
                                     WaitMilliseconds());
            now_ = Clock::now();
            for (int i = 0; i < n; i++) {
                const int fd = events[i].data.fd;
                if (fd == listener_) {
                    Accept();
                    continue;
                }
                Connection* c = Find(fd);
                if (!c) continue;
                if (events[i].events & (EPOLLERR | EPOLLHUP) && !(events[i].events & EPOLLIN)) {
                    Close(c);
                    continue;
                }
                if (events[i].events & EPOLLIN && !c->writing && !Read(c)) continue;
                Drive(c);
            }
            Expire();
            if (acceptPaused_ && now_ >= acceptResume_) {
                acceptPaused_ = false;
                epoll_event on{};
                on.events = EPOLLIN;
                on.data.fd = listener_;
                epoll_ctl(epoll_, EPOLL_CTL_MOD, listener_, &on);
            }
        }
        return true;
    }

private:
    // At most 100 ms, so a stop request is seen promptly, and never past the next deadline.
    int WaitMilliseconds() {
        auto wait = std::chrono::milliseconds(100);
        if (!timers_.empty()) {
            const auto until = std::chrono::duration_cast<std::chrono::milliseconds>(
                timers_.top().at - Clock::now());
            wait = std::clamp(until + std::chrono::milliseconds(1), std::chrono::milliseconds(0),
                              wait);
        }
        return static_cast<int>(wait.count());
    }

    Connection* Find(int fd) {
        return fd >= 0 && static_cast<size_t>(fd) < connections_.size() ? connections_[fd].get()
                                                                        : nullptr;
    }

    void Accept() {
        for (int i = 0; i < kAcceptsPerPass; i++) {
            sockaddr_storage from{};
            socklen_t length = sizeof from;
            const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&from), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    // Out of descriptors: the pending connection stays queued and the listener
                    // stays readable, so stop watching it for a moment instead of spinning.
                    acceptPaused_ = true;
                    acceptResume_ = now_ + std::chrono::milliseconds(100);
                    epoll_event off{};
                    off.data.fd = listener_;
                    epoll_ctl(epoll_, EPOLL_CTL_MOD, listener_, &off);
                }
                return;
            }
            std::string caller = Platform_Service_AddressText(&from);
            in_addr parsed{};
            const uint32_t address =
                inet_pton(AF_INET, caller.c_str(), &parsed) == 1 ? parsed.s_addr : 0;
            unsigned& fromAddress = perAddress_[address];
            if (count_ >= limits_.connections || fromAddress >= limits_.perAddress) {
                if (fromAddress == 0) perAddress_.erase(address);
                close(fd);
                continue;
            }
            fromAddress++;
            count_++;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (static_cast<size_t>(fd) >= connections_.size()) connections_.resize(fd + 1);
            auto c = std::make_unique<Connection>();
            c->fd = fd;
            c->generation = ++generation_;
            c->address = address;
            c->caller = std::move(caller);
            c->lastActivity = now_;
            // A new connection's first request is timed from its arrival: holding a
            // connection open without a word is a request that never ends.
            c->requestStarted = true;
            c->requestStart = now_;
            connections_[fd] = std::move(c);
            Connection* added = connections_[fd].get();
            Watch(added, EPOLLIN);
            Schedule(added);
            // A caller usually sends its request with the connection: answering it now
            // spares it a wait behind every other event of the next pass.
            if (Read(added)) Drive(added);
        }
    }

    void Watch(Connection* c, uint32_t events) {
        if (c->interest == events) return;
        epoll_event ev{};
        ev.events = events;
        ev.data.fd = c->fd;
        epoll_ctl(epoll_, c->interest ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c->fd, &ev);
        c->interest = events;
    }

    Clock::time_point Deadline(const Connection* c) const {
        const auto idle = c->lastActivity + std::chrono::seconds(limits_.idleSeconds);
        if (c->writing || !c->requestStarted) return idle;
        return std::min(idle, c->requestStart + std::chrono::seconds(limits_.requestSeconds));
    }

    // Each connection keeps one live timer at its earliest deadline; a timer found early is
    // pushed again at the deadline then in force, so activity costs no heap work.
    void Schedule(Connection* c) {
        const auto at = Deadline(c);
        if (c->timerAt != Clock::time_point{} && c->timerAt <= at) return;
        c->timerAt = at;
        timers_.push({at, c->fd, c->generation});
    }

    void Expire() {
        while (!timers_.empty() && timers_.top().at <= now_) {
            const Timer t = timers_.top();
            timers_.pop();
            Connection* c = Find(t.fd);
            if (!c || c->generation != t.generation || c->timerAt != t.at) continue;
            c->timerAt = {};
            if (Deadline(c) > now_) {
                Schedule(c);
                continue;
            }
            if (!c->writing && c->requestStarted && !c->in.empty()) {
                // Best effort: the caller learns why, if it still listens.
                static constexpr char kTimeout[] = "HTTP/1.1 408 Request Timeout\r\nConnection: "
                                                   "close\r\nContent-Length: 0\r\n\r\n";
                [[maybe_unused]] ssize_t ignored =
                    send(c->fd, kTimeout, sizeof kTimeout - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            }
            Close(c);
        }
    }

    void Close(Connection* c) {
        const int fd = c->fd;
        auto it = perAddress_.find(c->address);
        if (it != perAddress_.end() && --it->second == 0) perAddress_.erase(it);
        count_--;
        close(fd);
        connections_[fd].reset();
    }

    // Reads what is there, a bounded amount per pass for fairness and never more than one
    // head's worth ahead of the parser (the rest waits in the socket); false when closed.
    bool Read(Connection* c) {
        char buffer[kReadChunk];
        for (int round = 0; round < 4; round++) {
            const size_t limit = Platform_HttpHead_MostBytes(headLimits_);
            const size_t room = c->in.size() < limit ? limit - c->in.size() : 0;
            if (room == 0) break;
            const ssize_t n = recv(c->fd, buffer, std::min(room, sizeof buffer), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                Close(c);
                return false;
            }
            if (n < 0) break;
            c->lastActivity = now_;
            std::string_view data(buffer, static_cast<size_t>(n));
            if (c->inBody && c->in.empty()) {
                const uint64_t skip = std::min<uint64_t>(c->bodyLeft, data.size());
                c->bodyLeft -= skip;
                data.remove_prefix(skip);
            }
            if (!data.empty()) {
                if (!c->requestStarted) {
                    c->requestStarted = true;
                    c->requestStart = now_;
                    Schedule(c);
                }
                c->in.append(data);
            }
            if (static_cast<size_t>(n) < std::min(room, sizeof buffer)) break;
        }
        return true;
    }

    void Drive(Connection* c) {
        while (true) {
            if (c->writing) {
                const int flushed = Flush(c);
                if (flushed < 0) return; // closed
                if (flushed == 0) {
                    Watch(c, EPOLLOUT);
                    return;
                }
                continue;
            }
            if (!Next(c)) {
                Watch(c, EPOLLIN);
                return;
            }
        }
    }

    // Parses as far as the buffered bytes go; true when an answer is ready to send.
    bool Next(Connection* c) {
        if (!c->inBody) {
            const PlatformHttpHead head = Platform_HttpHead_Parse(c->in, headLimits_, &c->scan);
            if (head.result == PlatformHttpHeadResult::NeedMore) return false;
            if (head.result == PlatformHttpHeadResult::Error) {
                // Whatever follows a refused head is never read as a request.
                c->method.clear();
                c->http10 = false;
                Answer(c, head.status, nullptr, true);
                return true;
            }
            c->method.assign(head.method);
            c->path.assign(head.path);
            c->http10 = head.http10;
            c->keepAlive = head.keepAlive;
            c->bodyLeft = head.bodyLength;
            c->bodyTooLarge = head.bodyLength > limits_.bodyBytes;
            c->in.erase(0, head.length);
            c->scan = {};
            c->inBody = true;
            const uint64_t take = std::min<uint64_t>(c->bodyLeft, c->in.size());
            c->in.erase(0, take);
            c->bodyLeft -= take;
        }
        if (c->bodyLeft > 0) return false;
        c->inBody = false;
        if (c->bodyTooLarge) {
            Answer(c, 413, nullptr, true);
            return true;
        }
        const PlatformServiceReply reply =
            handler_(PlatformServiceRequest{c->method, c->path, c->caller});
        Answer(c, reply.status, reply.body, !c->keepAlive);
        return true;
    }

    void Answer(Connection* c, int status, std::shared_ptr<const std::string> body, bool close) {
        const size_t length = body ? body->size() : 0;
        c->head = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
                  "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(length) +
                  "\r\n";
        if (close)
            c->head += "Connection: close\r\n";
        else if (c->http10)
            c->head += "Connection: keep-alive\r\n";
        c->head += "\r\n";
        c->body = c->method == "HEAD" ? nullptr : std::move(body);
        c->sent = 0;
        c->writing = true;
        c->closeAfter = close;
        c->requestStarted = false;
    }

    // 1 when the answer is out, 0 when the rest must wait, -1 when the connection is gone.
    int Flush(Connection* c) {
        while (true) {
            const size_t bodySize = c->body ? c->body->size() : 0;
            const size_t total = c->head.size() + bodySize;
            if (c->sent >= total) break;
            iovec parts[2];
            int count = 0;
            if (c->sent < c->head.size()) {
                parts[count++] = {c->head.data() + c->sent, c->head.size() - c->sent};
                if (bodySize) parts[count++] = {const_cast<char*>(c->body->data()), bodySize};
            } else {
                const size_t at = c->sent - c->head.size();
                parts[count++] = {const_cast<char*>(c->body->data()) + at, bodySize - at};
            }
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = static_cast<size_t>(count);
            const ssize_t n = sendmsg(c->fd, &message, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
                Close(c);
                return -1;
            }
            c->sent += static_cast<size_t>(n);
            c->lastActivity = now_;
        }
        c->writing = false;
        c->head.clear();
        c->body.reset();
        if (c->closeAfter) {
            Close(c);
            return -1;
        }
        return 1;
    }

    int listener_;
    int epoll_ = -1;
    PlatformServiceLimits limits_;
    PlatformHttpHeadLimits headLimits_;
    const PlatformServiceHandler& handler_;
    std::vector<std::unique_ptr<Connection>> connections_; // by descriptor
    std::unordered_map<uint32_t, unsigned> perAddress_;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
    size_t count_ = 0;
    uint32_t generation_ = 0;
    Clock::time_point now_ = Clock::now();
    bool acceptPaused_ = false;
    Clock::time_point acceptResume_;
};

} // namespace

bool Platform_Service_Run(int listener, const PlatformServiceLimits& limits,
                          const PlatformServiceHandler& handler, const std::atomic<bool>& stop,
                          std::string* error) {
    Server server(listener, limits, handler);
    return server.Run(stop, error);
}
