// The KOVRA2 arcade board's piece randomizer: a 32-bit linear congruential generator and a
// four-piece history. Pure and header-only, so the randomizer plug-in and the seed-search tool
// deal exactly the same sequence from the same seed.
#pragma once

#include <cstdint>

// Piece indexes in the engine's piece-kind order, each one lower (PieceKind = index + 1).
enum Kovra2Piece : uint8_t {
    Kovra2_I = 0,
    Kovra2_Z = 1,
    Kovra2_S = 2,
    Kovra2_J = 3,
    Kovra2_L = 4,
    Kovra2_O = 5,
    Kovra2_T = 6,
};

struct Kovra2Randomizer {
    uint32_t seed = 0;
    // history[0] is the piece just dealt, 1-3 the three before it, newest first.
    uint8_t history[4] = {0, 0, 0, 0};
};

// Advances the generator; a 15-bit value (bits 10-24 of the new state).
inline uint32_t Kovra2_NextRandom(Kovra2Randomizer& r) {
    r.seed = r.seed * 1103515245u + 12345u;
    return (r.seed >> 10) & 0x7FFFu;
}

inline uint8_t Kovra2_RollPiece(Kovra2Randomizer& r) {
    return static_cast<uint8_t>(Kovra2_NextRandom(r) % 7u);
}

inline bool Kovra2_InHistory(const Kovra2Randomizer& r, uint8_t piece) {
    return r.history[0] == piece || r.history[1] == piece || r.history[2] == piece ||
           r.history[3] == piece;
}

// Deals the next piece into the history and returns it. Up to five tries; a try whose roll is
// in the history rolls once more, and that second roll is kept only on the fifth try.
inline uint8_t Kovra2_NextPiece(Kovra2Randomizer& r) {
    uint8_t piece = 0;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        piece = Kovra2_RollPiece(r);
        if (!Kovra2_InHistory(r, piece)) break;
        const uint8_t reroll = Kovra2_RollPiece(r);
        if (attempt == 5) piece = reroll;
    }
    r.history[3] = r.history[2];
    r.history[2] = r.history[1];
    r.history[1] = r.history[0];
    r.history[0] = piece;
    return piece;
}

// Restarts from the seed and deals the first piece, which is never Z, S or O.
inline void Kovra2_Init(Kovra2Randomizer& r, uint32_t seed) {
    r.seed = seed;
    uint8_t piece;
    do {
        piece = Kovra2_RollPiece(r);
    } while (piece == Kovra2_Z || piece == Kovra2_S || piece == Kovra2_O);
    r.history[0] = piece;
    r.history[1] = Kovra2_Z;
    r.history[2] = Kovra2_S;
    r.history[3] = Kovra2_S;
}

// True when the seed deals `pieces` (count of them) as its first pieces; leaves r wherever the
// comparison stopped.
inline bool Kovra2_Matches(Kovra2Randomizer& r, uint32_t seed, const uint8_t* pieces,
                           uint32_t count) {
    Kovra2_Init(r, seed);
    if (count == 0) return true;
    if (r.history[0] != pieces[0]) return false;
    for (uint32_t i = 1; i < count; ++i)
        if (Kovra2_NextPiece(r) != pieces[i]) return false;
    return true;
}
