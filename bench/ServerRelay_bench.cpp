// Load on the game server: N clients on loopback play scripted input at 60 frames a second.
// Prints, per N, the server's CPU seconds per second of play and the 99th-percentile time from
// a client's send to the relayed packet's arrival at another client.
//
// The clients (RelayClients.h) time every relay when their thread finds it waiting, so the
// figure errs against the server.
// The server runs on its own thread as a host would: Server_Process, then Server_Wait.
//
// Usage: ServerRelay_bench [--gap=US] [seconds per run = 20] [N ...]
//        (default N: 16 64 128 256; --gap sets the server's pass gap, default 1000 us)
#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Platform_Path.h"
#include "Platform_Socket.h"
#include "RelayClients.h"
#include "Vantrel_Adv_Plugin.h"
#include "Vantrel_Adv_Server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool Run(int clients, int seconds, int gapUs) {
    Server* s = Server_Create(u"Relay bench", 0);
    if (!s) {
        std::fprintf(stderr, "cannot create the server\n");
        return false;
    }
    if (gapUs >= 0) Server_SetPassGap(s, gapUs);
    // The whole fleet joins from one address.
    Server_SetPlayerLimits(s, clients, std::max(clients, kServerMaxPlayers));
    if (const ZelvikID* mode = Plugin_FindByName(PluginKind_Mode, u"PEXA Master"))
        s->ops->AddMode(s, mode);
    if (const ZelvikID* rs = Plugin_GetInfo(PluginKind_RotationSystem, 0))
        s->ops->AddRotationSystem(s, rs);
    if (const ZelvikID* rnd = Plugin_GetInfo(PluginKind_Randomizer, 0))
        s->ops->SetRandomizer(s, rnd);
    const uint16_t port = Server_GetPort(s);

    std::atomic<bool> serving{true};
    std::atomic<double> cpuStart{0}, cpuEnd{0};
    std::atomic<int> phase{0}; // 0 joining, 1 playing, 2 done
    std::atomic<uint64_t> passes{0};
    std::thread server([&] {
        int seen = 0;
        uint64_t counted = 0;
        while (serving) {
            s->ops->Process(s);
            counted += seen == 1;
            if (phase == 1 && seen == 0) {
                cpuStart = ThreadCpuSeconds();
                seen = 1;
            } else if (phase == 2 && seen == 1) {
                cpuEnd = ThreadCpuSeconds();
                passes = counted;
                seen = 2;
            }
            Server_Wait(s, 5);
        }
    });

    bool ok = true;
    {
        relay_clients::RelayFleet fleet(clients);
        ok = fleet.Join(port);
        if (!ok) std::fprintf(stderr, "N=%d: a client could not join\n", clients);
        const relay_clients::RelayReport r = fleet.Play(
            seconds, [&] { phase = 1; }, [&](double) { phase = 2; });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        serving = false;
        server.join();
        if (r.failed) std::fprintf(stderr, "N=%d: a send failed\n", clients);
        const double cpu = (cpuEnd - cpuStart) / r.played;
        std::printf("N=%-4d server CPU %.3f s per s of play   p99 relay latency %.2f ms   (p50 "
                    "%.2f, p90 %.2f, p99.9 %.2f ms; %llu samples, %.0f passes/s)\n",
                    clients, cpu, r.Percentile(0.99), r.Percentile(0.5), r.Percentile(0.9),
                    r.Percentile(0.999), static_cast<unsigned long long>(r.samples),
                    double(passes) / r.played);
        std::fflush(stdout);
        ok = ok && !r.failed;
    }
    s->ops->Free(s);
    return ok;
}
} // namespace

int main(int argc, char** argv) {
    HighResTimer_ChooseClocks();
    Platform_Socket_Init();
    Plugin_Init();
    const std::string dir = std::string(ZELVIK_GAME_DIR) + "/dlls/";
    for (const char* sub : {"modes/", "randomizer/", "rotationsystem/"})
        Plugin_ScanFolder(Platform_Path_FromUtf8(dir + sub));
    int gapUs = -1;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0].rfind("--gap=", 0) == 0) {
        gapUs = std::atoi(args[0].c_str() + 6);
        args.erase(args.begin());
    }
    const int seconds = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 20;
    std::vector<int> counts;
    for (size_t i = 1; i < args.size(); ++i)
        counts.push_back(std::max(1, std::atoi(args[i].c_str())));
    if (counts.empty()) counts = {16, 64, 128, 256};
    bool ok = true;
    for (int n : counts) ok = Run(n, seconds, gapUs) && ok;
    return ok ? 0 : 1;
}
