// What the master-server list needs from the system: a listening socket it owns alone, its
// callers' addresses as text, and a small HTTP/1.x server on one epoll thread that holds many
// idle or slow connections without letting any of them hold up the others.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// A listening, non-blocking TCP socket on address (dotted IPv4) and port (0 takes a free one).
// The port is never shared with another listener, so a second program on a port in use fails
// here. Returns the descriptor and the bound port in *bound, or -1 with the reason in *error.
int Platform_Service_Listen(const std::string& address, uint16_t port, int backlog, uint16_t* bound,
                            std::string* error);
// The dotted IPv4 text of a socket address (IPv4, or IPv4 mapped into IPv6); "" otherwise.
std::string Platform_Service_AddressText(const void* socketAddress);

struct PlatformServiceRequest {
    std::string_view method;
    std::string_view path;   // without the query
    std::string_view caller; // dotted IPv4
};

struct PlatformServiceReply {
    int status = 200;
    // Shared so a crowd of slow readers of one answer holds one copy of it.
    std::shared_ptr<const std::string> body;
};

struct PlatformServiceLimits {
    size_t connections = 16384;
    unsigned perAddress = 16;
    // The request line, headers and any body must all have come within this many seconds of
    // the request's first byte (of the connection, for its first request), however slowly.
    unsigned requestSeconds = 5;
    // A connection that neither sends nor takes anything for this long is closed.
    unsigned idleSeconds = 10;
    size_t headBytes = 8192;
    // A larger body is read past, never kept, and refused with 413.
    uint64_t bodyBytes = 4096;
};

using PlatformServiceHandler = std::function<PlatformServiceReply(const PlatformServiceRequest&)>;

// Serves HTTP/1.0 and 1.1 (keep-alive, no chunked bodies) on listener until stop is set; the
// handler runs on this thread. Returns false with the reason when the loop cannot start.
bool Platform_Service_Run(int listener, const PlatformServiceLimits& limits,
                          const PlatformServiceHandler& handler, const std::atomic<bool>& stop,
                          std::string* error);
