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
        for (uint64_t seed = begin; seed < end; ++seed) {
            if (Matches(r, static_cast<uint32_t>(seed), s.pieces, s.count)) {
                LowerBest(s.best, seed);
                break;
            }
        }
    }
}

} // namespace

bool SeedSearch_CannotMatch(const uint8_t* pieces, uint32_t count) {
    return count > 0 && (pieces[0] == Kovra2_Z || pieces[0] == Kovra2_S || pieces[0] == Kovra2_O);
}

uint32_t SeedSearch_FindSeed(const uint8_t* pieces, uint32_t count, unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    SearchState state;
    state.pieces = pieces;
    state.count = count;
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
    const uint64_t best = state.best.load();
    return best == kNoMatch ? 0 : static_cast<uint32_t>(best);
}
