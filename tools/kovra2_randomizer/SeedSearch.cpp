#include "SeedSearch.h"

#include "Kovra2Randomizer.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Chunks small enough that the workers stay busy to the end, large enough that the shared
// counter is rarely touched.
constexpr uint64_t kChunkSeeds = uint64_t{1} << 12;
constexpr uint64_t kFirstSeed = 1;
// A roll reads bits 10 to 24 of the state, and the low bits of state * a + c depend only on the
// low bits of the state, so a seed deals exactly what the seed mod 2^25 deals. Seeds 1 to
// 2^25 - 1 are their own residues; residue 0 would first be met at 2^25, but it repeats seed
// 12345 (below), so no seed from 2^25 up can be the first to match.
constexpr uint64_t kResidues = uint64_t{1} << 25;

// Seed 0 rolls an O first, which a first piece never is, and then goes on from state 12345:
// from there on it is seed 12345, piece for piece.
constexpr bool ResidueZeroRepeatsSeed12345() {
    Kovra2History zero{}, other{};
    Kovra2_Init(zero, 0);
    Kovra2_Init(other, 12345);
    for (int i = 0; i < 4; ++i)
        if (zero.History[i] != other.History[i]) return false;
    return zero.Seed == other.Seed;
}
static_assert(ResidueZeroRepeatsSeed12345());

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
    uint64_t first, end;
    std::atomic<uint64_t> nextChunk{0};
    std::atomic<uint64_t> best;
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
        const uint64_t begin = s.first + chunk * kChunkSeeds;
        // Chunks are handed out in ascending order, so once one starts above a match found
        // elsewhere, every later one does too.
        if (begin >= s.end || begin >= s.best.load(std::memory_order_relaxed)) return;
        const uint64_t end = std::min(begin + kChunkSeeds, s.end);
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

} // namespace

bool SeedSearch_CannotMatch(const uint8_t* pieces, uint32_t count) {
    return count > 0 && (pieces[0] == Kovra2_Z || pieces[0] == Kovra2_S || pieces[0] == Kovra2_O);
}

uint64_t SeedSearch_ScanRange(const uint8_t* pieces, uint32_t count, unsigned threads,
                              uint64_t first, uint64_t end) {
    end = std::min(end, uint64_t{1} << 32);
    if (first >= end) return end;
    if (count == 0) return first; // nothing to compare: the first seed deals it
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    SearchState state;
    state.pieces = pieces;
    state.count = count;
    state.first = first;
    state.end = end;
    state.best = end;
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    for (unsigned i = 1; i < threads; ++i) {
        try {
            workers.emplace_back(Worker, std::ref(state));
        } catch (const std::system_error&) {
            break; // fewer workers only make it slower
        }
    }
    Worker(state);
    for (std::thread& t : workers) t.join();
    return state.best.load();
}

uint32_t SeedSearch_FindSeed(const uint8_t* pieces, uint32_t count, unsigned threads) {
    const uint64_t found = SeedSearch_ScanRange(pieces, count, threads, kFirstSeed, kResidues);
    return found < kResidues ? static_cast<uint32_t>(found) : 0; // 0: the counter wrapped
}
