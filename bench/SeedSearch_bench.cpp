// The seed search before and after it was limited to the seeds that can differ: the old sweep
// over every seed from 1 up against the search over seeds 1 to 2^25, on all cores, for
// sequences no seed deals and for a thirty-piece sequence that one seed deals. Prints wall time
// and the CPU time it cost, as the machine may be shared, and the ratio of the wall times.
#include "SeedSearch.h"

#include "Kovra2Randomizer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

struct Timed {
    double wall, cpu;
    uint32_t seed;
};

template <typename F> Timed Time(F search) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    const uint32_t seed = search();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), double(std::clock() - cpuStart) / CLOCKS_PER_SEC, seed};
}

// Returns false when the two searches disagree.
bool Compare(const char* what, const uint8_t* pieces, uint32_t count, unsigned threads) {
    const Timed before = Time([&] {
        // The old sweep: every seed from 1 to 4294967295, 0 when none matches.
        const uint64_t seed = SeedSearch_ScanRange(pieces, count, threads, 1, uint64_t{1} << 32);
        return static_cast<uint32_t>(seed);
    });
    const Timed after = Time([&] { return SeedSearch_FindSeed(pieces, count, threads); });
    std::printf("%s on %u threads: all seeds %.3f s (%.2f s CPU), seeds to 2^25 %.4f s (%.3f s "
                "CPU), %.0fx faster, seed %u\n",
                what, threads, before.wall, before.cpu, after.wall, after.cpu,
                before.wall / after.wall, after.seed);
    return before.seed == after.seed;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned threads =
        argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : std::thread::hardware_concurrency();
    bool same = true;
    const uint8_t never[] = {Kovra2_Z, Kovra2_I};
    same &= Compare("no match, first piece Z", never, 2, threads);
    // Thirty pieces in a cycle that the history rule makes far too unlikely for any seed.
    uint8_t cycle[30];
    const uint8_t order[4] = {Kovra2_T, Kovra2_L, Kovra2_J, Kovra2_I};
    for (int i = 0; i < 30; ++i) cycle[i] = order[i % 4];
    same &= Compare("no match, thirty pieces", cycle, 30, threads);
    // Thirty pieces dealt from seed 4294967294: no seed before 33554430 (its remainder mod
    // 2^25, the last seed but one that the search tries) deals them, so both searches run
    // nearly to 2^25.
    uint8_t dealt[30];
    Kovra2History r{};
    dealt[0] = Kovra2_Init(r, 4294967294u);
    for (int i = 1; i < 30; ++i) dealt[i] = Kovra2_NextPiece(r);
    same &= Compare("match, thirty pieces", dealt, 30, threads);
    if (!same) std::puts("the two searches disagree");
    return same ? 0 : 1;
}
