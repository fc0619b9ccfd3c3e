// Relay latency through the real Zelvik_Server program: the bench starts
// build/game/Zelvik_Server headless in a working folder of its own (the run folder's plug-ins,
// PEXA Master), measures the idle program's CPU, then lets N clients on loopback play
// scripted input at 60 frames a second and prints the 99th-percentile time from a client's
// send to the relayed packet's arrival at another client, and the program's CPU while they
// play (all its threads: network, window, registration).
//
// The clients (RelayClients.h) time every relay when their thread finds it waiting, so the
// figure errs against the server.
//
// Usage: ServerProgram_bench [seconds per run = 10] [N ...]   (default N: 2 16 64)
#include "HighResTimer.h"
#include "Platform_Socket.h"
#include "RelayClients.h"
#include "ServerProgram.h"
#include "ZelvikNetTestKit.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using server_program::ProcessCpuSeconds;
using server_program::ServerProgram;

bool Run(int clients, int seconds) {
    ServerProgram program;
    if (!program.Start("zelvik_program_bench_")) {
        std::fprintf(stderr, "cannot start %s/Zelvik_Server\n", ZELVIK_GAME_DIR);
        return false;
    }
    const uint16_t port = program.port;
    // The idle program: nobody connected.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double idleStart = ProcessCpuSeconds(program.pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double idle = (ProcessCpuSeconds(program.pid) - idleStart) / 3.0;
    relay_clients::RelayFleet fleet(clients);
    const bool ok = fleet.Join(port);
    if (!ok) std::fprintf(stderr, "N=%d: a client could not join\n", clients);
    double cpuStart = 0, cpu = 0;
    const relay_clients::RelayReport r = fleet.Play(
        seconds, [&] { cpuStart = ProcessCpuSeconds(program.pid); },
        [&](double played) { cpu = (ProcessCpuSeconds(program.pid) - cpuStart) / played; });
    if (r.failed) std::fprintf(stderr, "N=%d: a send failed\n", clients);
    std::printf("N=%-4d Zelvik_Server: p99 relay latency %.2f ms (p50 %.2f, p90 %.2f, p99.9 "
                "%.2f ms; %llu samples)   CPU %.1f%% of a core playing, %.2f%% idle\n",
                clients, r.Percentile(0.99), r.Percentile(0.5), r.Percentile(0.9),
                r.Percentile(0.999), static_cast<unsigned long long>(r.samples), cpu * 100.0,
                idle * 100.0);
    std::fflush(stdout);
    return ok && !r.failed;
}
} // namespace

int main(int argc, char** argv) {
    HighResTimer_ChooseClocks();
    Platform_Socket_Init();
    std::vector<std::string> args(argv + 1, argv + argc);
    const int seconds = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 10;
    std::vector<int> counts;
    for (size_t i = 1; i < args.size(); ++i)
        counts.push_back(std::max(1, std::atoi(args[i].c_str())));
    if (counts.empty()) counts = {2, 16, 64};
    bool ok = true;
    for (int n : counts) ok = Run(n, seconds) && ok;
    return ok ? 0 : 1;
}
