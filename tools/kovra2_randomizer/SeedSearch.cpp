#include "SeedSearch.h"

#include "Kovra2Randomizer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A roll reads bits 10 to 24 of the state, and the low bits of state * a + c depend only on the
// low bits of the state, so a seed deals exactly what the seed mod 2^25 deals. Seeds 1 to
// 2^25 - 1 are their own residues; residue 0 would first be met at 2^25, but it repeats seed
// 12345 (below), so no seed from 2^25 up can be the first to match.
constexpr uint32_t kFirstSeed = 1;
constexpr uint32_t kEndSeed = uint32_t{1} << 25;

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

// Chunks small enough that the workers stay busy to the end and a match near seed 1 is found
// at once, large enough that the shared counter is rarely touched.
constexpr uint32_t kChunkSeeds = 4096;

// Sixteen seeds side by side; the compiler maps this onto whatever vector unit it targets. Such
// vectors pass between functions differently with and without AVX (clang refuses such calls
// outright), so the lane helpers are macros, expanded inside each clone of the kernels.
#pragma GCC diagnostic ignored "-Wpsabi"
using Lanes = uint32_t __attribute__((vector_size(64)));
constexpr uint32_t kLanes = 16;
// Lanes of one vector in another order (g++ and clang spell the builtin differently).
#if defined(__clang__)
#define LANES_SHUFFLE(v, ...) __builtin_shufflevector(v, v, __VA_ARGS__)
#else
#define LANES_SHUFFLE(v, ...) __builtin_shuffle(v, Lanes{__VA_ARGS__})
#endif
constexpr uint32_t kMul = 1103515245u, kAdd = 12345u;
constexpr uint32_t kUnsure = 0xFF;

#define LANES_SPLAT(v) (Lanes{} + static_cast<uint32_t>(v))
// All ones where the lanes are equal, else zero.
#define LANES_EQUAL(a, b) reinterpret_cast<Lanes>((a) == (b))
#define LANES_SELECT(mask, a, b) (((mask) & (a)) | (~(mask) & (b)))
// value % 7 for 15-bit values, by multiplication (exact below 2^15).
#define LANES_MOD7(value) ((value)-7u * (((value)*37450u) >> 18))
// The piece a state rolls: bits 10-24 modulo 7.
#define LANES_PIECE_OF(state) LANES_MOD7(((state) >> 10) & 0x7FFFu)
// Advances the generator `state` (a variable) and rolls a piece.
#define LANES_ROLL(state) (state = state * kMul + kAdd, LANES_PIECE_OF(state))

// The generator k steps on from a state: state * kSteps[k - 1].mul + kSteps[k - 1].add.
struct Step {
    uint32_t mul, add;
};
constexpr Step Then(Step s) {
    return {s.mul * kMul, s.add * kMul + kAdd};
}
constexpr Step kStep1 = {kMul, kAdd};
constexpr Step kSteps[4] = {kStep1, Then(kStep1), Then(Then(kStep1)), Then(Then(Then(kStep1)))};

// The first piece of kChunkSeeds seeds from `first` and the generator state after it, by the
// usual case: the first of four rolls that is not Z, S or O; kUnsure when all four are (the full
// rule then decides). Seeds that deal `want` first or are unsure get their bit in `candidates`,
// 16 bits per sixteen seeds. Seeds a lane apart have states a fixed step apart, so the states
// are carried from one group of eight to the next by addition.
__attribute__((target_clones("avx512f", "avx2", "default"))) void
FirstPieces(uint32_t first, uint32_t want, uint32_t* pieces, uint32_t* states,
            uint16_t* candidates) {
    const Lanes z = LANES_SPLAT(Kovra2_Z), s = LANES_SPLAT(Kovra2_S), o = LANES_SPLAT(Kovra2_O);
    const Lanes wanted = LANES_SPLAT(want), unsure = LANES_SPLAT(kUnsure);
    const Lanes bits = {1 << 0, 1 << 1, 1 << 2,  1 << 3,  1 << 4,  1 << 5,  1 << 6,  1 << 7,
                        1 << 8, 1 << 9, 1 << 10, 1 << 11, 1 << 12, 1 << 13, 1 << 14, 1 << 15};
    const Lanes seeds =
        LANES_SPLAT(first) + Lanes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    Lanes step[4], after[4];
    for (int k = 0; k < 4; ++k) {
        after[k] = seeds * kSteps[k].mul + kSteps[k].add;
        step[k] = LANES_SPLAT(kLanes * kSteps[k].mul);
    }
    for (uint32_t i = 0; i < kChunkSeeds; i += kLanes) {
        Lanes piece = unsure, state = Lanes{}, done = Lanes{};
        for (int k = 0; k < 4; ++k) {
            const Lanes r = LANES_PIECE_OF(after[k]);
            const Lanes take = ~done & ~(LANES_EQUAL(r, z) | LANES_EQUAL(r, s) | LANES_EQUAL(r, o));
            piece = LANES_SELECT(take, r, piece);
            state = LANES_SELECT(take, after[k], state);
            done |= take;
            after[k] += step[k];
        }
        std::memcpy(pieces + i, &piece, sizeof piece);
        std::memcpy(states + i, &state, sizeof state);
        Lanes mask = (LANES_EQUAL(piece, wanted) | LANES_EQUAL(piece, unsure)) & bits;
        mask |= LANES_SHUFFLE(mask, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
        mask |= LANES_SHUFFLE(mask, 4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15, 8, 9, 10, 11);
        mask |= LANES_SHUFFLE(mask, 2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
        mask |= LANES_SHUFFLE(mask, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
        candidates[i / kLanes] = static_cast<uint16_t>(mask[0]);
    }
}

// Deals the next piece from each of `count` states (rounded up to whole lanes), all with the
// same history, and leaves the state after it; keep[i] is nonzero where the piece is `want`.
// The same rule as Kovra2_NextPiece without a branch: all ten rolls are made, the first that
// counts is kept.
__attribute__((target_clones("avx512f", "avx2", "default"))) void
NextPieces(uint32_t* states, uint32_t* keep, uint32_t count, const uint8_t history[4],
           uint32_t want) {
    const Lanes h0 = LANES_SPLAT(history[0]), h1 = LANES_SPLAT(history[1]),
                h2 = LANES_SPLAT(history[2]), h3 = LANES_SPLAT(history[3]);
    for (uint32_t i = 0; i < count; i += kLanes) {
        Lanes state;
        std::memcpy(&state, states + i, sizeof state);
        Lanes piece = Lanes{}, after = Lanes{}, done = Lanes{};
        for (int attempt = 0; attempt < 5; ++attempt) {
            const Lanes r = LANES_ROLL(state);
            const Lanes take = ~done & ~(LANES_EQUAL(r, h0) | LANES_EQUAL(r, h1) |
                                         LANES_EQUAL(r, h2) | LANES_EQUAL(r, h3));
            piece = LANES_SELECT(take, r, piece);
            after = LANES_SELECT(take, state, after);
            done |= take;
            const Lanes second = LANES_ROLL(state);
            if (attempt == 4) {
                piece = LANES_SELECT(done, piece, second);
                after = LANES_SELECT(done, after, state);
            }
        }
        const Lanes match = LANES_EQUAL(piece, LANES_SPLAT(want));
        std::memcpy(states + i, &after, sizeof after);
        std::memcpy(keep + i, &match, sizeof match);
    }
}

struct SearchState {
    const uint8_t* pieces;
    uint32_t count;
    std::atomic<uint32_t> nextChunk{0};
    std::atomic<uint32_t> best{kEndSeed};
};

void LowerBest(std::atomic<uint32_t>& best, uint32_t seed) {
    uint32_t current = best.load(std::memory_order_relaxed);
    while (seed < current && !best.compare_exchange_weak(current, seed)) {
    }
}

// The first seed of the chunk that deals the sequence, or kEndSeed. Every seed whose first piece
// matches goes on as a candidate; each further piece is dealt to all candidates at once, and
// those that deal it stay, in ascending order. They share their history: it is the sequence.
uint32_t SearchChunk(const uint8_t* want, uint32_t count, uint32_t first,
                     std::vector<uint32_t>& seeds, std::vector<uint32_t>& states,
                     std::vector<uint32_t>& scratch) {
    uint32_t* pieces = scratch.data();
    uint16_t candidates[kChunkSeeds / kLanes];
    FirstPieces(first, want[0], pieces, states.data(), candidates);
    uint32_t n = 0;
    for (uint32_t block = 0; block < kChunkSeeds; block += 64) {
        uint64_t bits = 0; // bit i: seed block + i
        for (uint32_t j = 0; j < 64 / kLanes; ++j)
            bits |= uint64_t{candidates[block / kLanes + j]} << (kLanes * j);
        for (; bits; bits &= bits - 1) {
            const uint32_t i = block + uint32_t(__builtin_ctzll(bits));
            const uint32_t seed = first + i;
            uint32_t piece = pieces[i];
            uint32_t state = states[i];
            if (piece == kUnsure) { // rare: more than four rolls
                Kovra2History r{};
                piece = Kovra2_Init(r, seed);
                state = r.Seed;
            }
            seeds[n] = seed;
            states[n] = state;
            n += piece == want[0] && seed >= kFirstSeed;
        }
    }
    uint8_t history[4] = {want[0], Kovra2_Z, Kovra2_S, Kovra2_S};
    uint32_t* keep = scratch.data();
    for (uint32_t k = 1; k < count && n > 0; ++k) {
        NextPieces(states.data(), keep, n, history, want[k]);
        uint32_t kept = 0;
        for (uint32_t i = 0; i < n; ++i) {
            seeds[kept] = seeds[i];
            states[kept] = states[i];
            kept += keep[i] & 1;
        }
        n = kept;
        history[3] = history[2];
        history[2] = history[1];
        history[1] = history[0];
        history[0] = want[k];
    }
    return n > 0 ? seeds[0] : kEndSeed;
}

void Worker(SearchState& s) {
    // Room for a whole chunk plus a lane's worth, as the kernels run in whole lanes.
    std::vector<uint32_t> seeds(kChunkSeeds + kLanes), states(kChunkSeeds + kLanes),
        scratch(kChunkSeeds + kLanes);
    for (;;) {
        const uint32_t chunk = s.nextChunk.fetch_add(1, std::memory_order_relaxed);
        const uint32_t begin = chunk * kChunkSeeds;
        // Chunks are handed out in ascending order, so once one starts above a match found
        // elsewhere, every later one does too.
        if (begin >= kEndSeed || begin >= s.best.load(std::memory_order_relaxed)) return;
        const uint32_t found = SearchChunk(s.pieces, s.count, begin, seeds, states, scratch);
        if (found < kEndSeed) LowerBest(s.best, found);
    }
}

} // namespace

bool SeedSearch_CannotMatch(const uint8_t* pieces, uint32_t count) {
    return count > 0 && (pieces[0] == Kovra2_Z || pieces[0] == Kovra2_S || pieces[0] == Kovra2_O);
}

uint32_t SeedSearch_FindSeed(const uint8_t* pieces, uint32_t count, unsigned threads) {
    if (count == 0) return kFirstSeed; // nothing to compare: the first seed deals it
    SearchState state;
    state.pieces = pieces;
    state.count = count;
    SeedSearch_RunOnThreads(threads, [&state] { Worker(state); });
    const uint32_t best = state.best.load();
    return best < kEndSeed ? best : 0; // 0: the seed counter wrapped without a match
}
