#include "Platform_Service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

uint64_t Platform_Service_RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<uint64_t>(limit.rlim_cur);
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
