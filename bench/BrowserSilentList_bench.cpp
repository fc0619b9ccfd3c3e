// The server browser, headless, with a list of servers that accept and never answer ahead of
// one live server: 110 silent listeners on 127.0.0.2 on, the live one on 127.0.0.1, all on one
// port, listed by a raw master. Prints, from the browser's first pass, when the live row had
// its answer and when every silent row read "timeout" (or "never" within the run).
//
// Usage (from build-rel/game): ../bench/BrowserSilentList_bench [silent servers = 110]
//                                                               [seconds = 30]
#include "Vantrel_GUI_Serverlist.h"
#include "ZelvikNetTestKit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace testkit;

namespace {

std::string InfoReply(const std::string& name) {
    std::string r(521, '\0');
    r[0] = 17;
    for (size_t i = 0; i < name.size(); ++i) r[1 + 2 * i] = name[i];
    for (int i = 0; i < 4; ++i) r[517 + i] = '\xff';
    return r;
}

std::string Figure(int64_t ms) {
    return ms < 0 ? std::string("never") : std::to_string(ms) + " ms";
}

} // namespace

int main(int argc, char** argv) {
    const int silent = argc > 1 ? std::max(1, std::atoi(argv[1])) : 110;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    RaiseDescriptorLimit(4096);

    // The live server answers every query at once.
    RawServer live([](int fd, int) {
        if (ReadFor(fd, 1000, 1).size() == 1) SendAll(fd, InfoReply("Live"));
    });
    if (!live.Ok()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    SilentListeners listeners;
    std::string body;
    for (int i = 0; i < silent; ++i) {
        const std::string ip =
            "127.0." + std::to_string((2 + i) / 250) + "." + std::to_string(2 + i % 250);
        if (!listeners.Add(ip, live.Port())) {
            std::fprintf(stderr, "cannot listen on %s:%u\n", ip.c_str(), live.Port());
            return 1;
        }
        body += ip + "\n";
    }
    body += "127.0.0.1\n";
    listeners.Start();
    RawServer master([body](int fd, int) {
        ReadFor(fd, 300, 1);
        SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n" + body);
    });
    setenv("ZELVIK_MASTER", ("127.0.0.1:" + std::to_string(master.Port())).c_str(), 1);
    setenv("ZELVIK_GAME_PORT", std::to_string(live.Port()).c_str(), 1);

    int code = 0;
    {
        ServerBrowser b;
        if (b.Start() != 0) return 1;
        const uint32_t start = NowMs();
        int64_t liveAt = -1, silentAt = -1;
        while (static_cast<int>(NowMs() - start) < seconds * 1000 && (liveAt < 0 || silentAt < 0)) {
            b.Step();
            const auto& rows = b.Rows();
            if (rows.size() != static_cast<size_t>(silent + 1)) continue;
            if (liveAt < 0 && rows.back().ping != "n/a") liveAt = NowMs() - start;
            int timedOut = 0;
            for (int i = 0; i < silent; ++i)
                timedOut += rows[static_cast<size_t>(i)].ping == "timeout";
            if (silentAt < 0 && timedOut == silent) silentAt = NowMs() - start;
        }
        std::printf("%d silent servers listed ahead of a live one\n", silent);
        std::printf("live row answered after:   %s\n", Figure(liveAt).c_str());
        std::printf("all silent rows timed out: %s\n", Figure(silentAt).c_str());
        code = liveAt < 0 ? 2 : 0;
        b.Shutdown();
    }
    return code;
}
