#include "Platform_Dial.h"

#include "Platform_Socket.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

int Fd(uint32_t handle) {
    return handle ? static_cast<int>(handle - 1) : -1;
}
uint32_t Handle(int fd) {
    return fd >= 0 ? static_cast<uint32_t>(fd) + 1 : 0;
}

} // namespace

uint32_t Platform_Dial_Connect(const char* host, uint16_t port, uint32_t source, int32_t timeoutMs,
                               std::string* why) {
    return Platform_Socket_ConnectFrom(host, port, source, timeoutMs, why);
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
