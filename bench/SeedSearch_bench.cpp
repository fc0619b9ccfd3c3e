// Time of full sweeps over every seed, on all cores: a sequence starting with Z (never dealt
// first) and a long sequence that no seed deals. Prints wall time and the CPU time it cost, as
// the machine may be shared.
#include "SeedSearch.h"

#include "Kovra2Randomizer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

uint32_t Sweep(const char* what, const uint8_t* pieces, uint32_t count, unsigned threads) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    const uint32_t seed = SeedSearch_FindSeed(pieces, count, threads);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf("full sweep of 4294967295 seeds on %u threads, %s: %.2f s (%.1f s CPU), seed %u\n",
                threads, what, wall.count(), cpu, seed);
    return seed;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned threads =
        argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : std::thread::hardware_concurrency();
    const uint8_t never[] = {Kovra2_Z, Kovra2_I};
    const uint32_t a = Sweep("first piece Z", never, 2, threads);
    // Thirty pieces in a cycle that the history rule makes far too unlikely for any seed.
    uint8_t cycle[30];
    const uint8_t order[4] = {Kovra2_T, Kovra2_L, Kovra2_J, Kovra2_I};
    for (int i = 0; i < 30; ++i) cycle[i] = order[i % 4];
    const uint32_t b = Sweep("thirty pieces", cycle, 30, threads);
    return a == 0 && b == 0 ? 0 : 1;
}
