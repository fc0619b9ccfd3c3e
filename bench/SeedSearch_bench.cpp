// The seed search before and after: the old sweep over every seed from 1 up against the search
// over seeds below 2^25 with its candidates dealt a piece at a time, on all cores, for sequences
// no seed deals and for a thirty-piece sequence that one seed near 2^25 deals. Prints wall time
// and the CPU time each cost, as the machine may be shared, and the ratio of the wall times.
#include "SeedSearch.h"

#include "Kovra2Randomizer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The search as it was, kept here to be measured against: every seed from 1 to 4294967295,
// the first piece of 64 seeds at a time without branches, the candidates dealt in full.
namespace old {

// Chunks small enough that the workers stay busy to the end, large enough that the shared
// counter is rarely touched.
constexpr uint64_t kChunkSeeds = uint64_t{1} << 20;
constexpr uint64_t kFirstSeed = 1;
constexpr uint64_t kEndSeed = uint64_t{1} << 32; // one past 4294967295
constexpr uint64_t kNoMatch = kEndSeed;

// True when the seed deals the sequence as its first pieces.
bool Matches(Kovra2History& r, uint32_t seed, const uint8_t* pieces, uint32_t count) {
    Kovra2_Init(r, seed);
    if (count == 0) return true;
    if (r.History[0] != pieces[0]) return false;
    for (uint32_t i = 1; i < count; ++i)
        if (Kovra2_NextPiece(r) != pieces[i]) return false;
    return true;
}

// The generator k steps on from a state: state * kStep[k].mul + kStep[k].add.
struct Step {
    uint32_t mul, add;
};
constexpr Step Compose(Step s) {
    return {s.mul * 1103515245u, s.add * 1103515245u + 12345u};
}
constexpr Step kStep1 = {1103515245u, 12345u};
constexpr Step kStep2 = Compose(kStep1);
constexpr Step kStep3 = Compose(kStep2);
constexpr Step kStep4 = Compose(kStep3);

constexpr uint32_t kBatch = 64;
constexpr uint8_t kUnsure = 0xFF;

// value % 7 for a 15-bit value, by multiplication (exact below 2^15).
inline uint32_t Mod7(uint32_t value) {
    return value - 7u * ((value * 37450u) >> 18);
}

inline uint32_t RollAt(uint32_t seed, Step step) {
    return Mod7(((seed * step.mul + step.add) >> 10) & 0x7FFFu);
}

// The first piece each of kBatch seeds deals, for the usual case: the first of four rolls that
// is not Z, S or O; kUnsure when all four are (the full rule then decides). No branches, so
// the compiler can run the seeds side by side.
__attribute__((target_clones("avx2", "default"))) void QuickFirstPieces(uint32_t first,
                                                                        uint8_t* out) {
    constexpr uint32_t kRejected = (1u << Kovra2_Z) | (1u << Kovra2_S) | (1u << Kovra2_O);
    for (uint32_t i = 0; i < kBatch; ++i) {
        const uint32_t seed = first + i;
        const uint32_t r1 = RollAt(seed, kStep1), r2 = RollAt(seed, kStep2),
                       r3 = RollAt(seed, kStep3), r4 = RollAt(seed, kStep4);
        uint32_t piece = (kRejected >> r4) & 1 ? kUnsure : r4;
        piece = (kRejected >> r3) & 1 ? piece : r3;
        piece = (kRejected >> r2) & 1 ? piece : r2;
        piece = (kRejected >> r1) & 1 ? piece : r1;
        out[i] = static_cast<uint8_t>(piece);
    }
}

struct SearchState {
    const uint8_t* pieces;
    uint32_t count;
    std::atomic<uint64_t> nextChunk{0};
    std::atomic<uint64_t> best{kNoMatch};
};

void LowerBest(std::atomic<uint64_t>& best, uint64_t seed) {
    uint64_t current = best.load(std::memory_order_relaxed);
    while (seed < current && !best.compare_exchange_weak(current, seed)) {
    }
}

void Worker(SearchState& s) {
    Kovra2History r{};
    for (;;) {
        const uint64_t chunk = s.nextChunk.fetch_add(1, std::memory_order_relaxed);
        const uint64_t begin = kFirstSeed + chunk * kChunkSeeds;
        // Chunks are handed out in ascending order, so once one starts above a match found
        // elsewhere, every later one does too.
        if (begin >= kEndSeed || begin >= s.best.load(std::memory_order_relaxed)) return;
        const uint64_t end = std::min(begin + kChunkSeeds, kEndSeed);
        // Seeds go in batches of 64: a mask of those whose first piece may match is built
        // without branches, and only those are dealt in full, in ascending order.
        bool found = false;
        uint8_t firsts[kBatch];
        for (uint64_t batch = begin; batch < end && !found; batch += kBatch) {
            const uint64_t n = std::min<uint64_t>(kBatch, end - batch);
            QuickFirstPieces(static_cast<uint32_t>(batch), firsts);
            uint64_t candidates = 0;
            for (uint64_t i = 0; i < n; ++i)
                candidates |= uint64_t(firsts[i] == s.pieces[0] || firsts[i] == kUnsure) << i;
            for (; candidates; candidates &= candidates - 1) {
                const uint64_t seed = batch + uint64_t(__builtin_ctzll(candidates));
                if (Matches(r, static_cast<uint32_t>(seed), s.pieces, s.count)) {
                    LowerBest(s.best, seed);
                    found = true;
                    break;
                }
            }
        }
    }
}

uint32_t OldFullSweep(const uint8_t* pieces, uint32_t count, unsigned threads) {
    if (count == 0) return uint32_t(kFirstSeed); // nothing to compare: the first seed deals it
    SearchState state;
    state.pieces = pieces;
    state.count = count;
    SeedSearch_RunOnThreads(threads, [&state] { Worker(state); });
    const uint64_t best = state.best.load();
    return best == kNoMatch ? 0 : static_cast<uint32_t>(best);
}
} // namespace old

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
    const Timed before = Time([&] { return old::OldFullSweep(pieces, count, threads); });
    const Timed after = Time([&] { return SeedSearch_FindSeed(pieces, count, threads); });
    std::printf("%s on %u threads: old sweep %.3f s (%.2f s CPU), new search %.4f s (%.3f s "
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
