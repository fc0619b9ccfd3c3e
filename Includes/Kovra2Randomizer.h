// The history randomizer of the second arcade title: a 32-bit linear congruential generator,
// a four-piece history and up to five tries per piece. Header-only, so that the "PEXA"
// randomizer plug-in and the seed-search tool deal exactly the same sequence from a seed.
#pragma once

#include <cstdint>

// Piece indexes: the engine's PieceKind minus one.
enum Kovra2PieceIndex : uint8_t {
    Kovra2_I = 0,
    Kovra2_Z = 1,
    Kovra2_S = 2,
    Kovra2_J = 3,
    Kovra2_L = 4,
    Kovra2_O = 5,
    Kovra2_T = 6,
};

struct Kovra2History {
    uint32_t Seed;      // generator state
    uint8_t History[4]; // [0] the piece just dealt, then the three before it, newest first
};

// Advances the generator; the value is bits 10-24 of the new state.
constexpr uint32_t Kovra2_NextRandom(Kovra2History& r) {
    r.Seed = r.Seed * 1103515245u + 12345u;
    return (r.Seed >> 10) & 0x7FFFu;
}

constexpr uint8_t Kovra2_RollPiece(Kovra2History& r) {
    return static_cast<uint8_t>(Kovra2_NextRandom(r) % 7u);
}

constexpr bool Kovra2_InHistory(const Kovra2History& r, uint8_t piece) {
    return r.History[0] == piece || r.History[1] == piece || r.History[2] == piece ||
           r.History[3] == piece;
}

// Deals the next piece into the history and returns it. A try whose roll is in the history
// costs a second roll; that roll is discarded, except on the fifth try, where it is the piece.
constexpr uint8_t Kovra2_NextPiece(Kovra2History& r) {
    uint8_t piece = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        piece = Kovra2_RollPiece(r);
        if (!Kovra2_InHistory(r, piece)) break;
        piece = Kovra2_RollPiece(r);
    }
    r.History[3] = r.History[2];
    r.History[2] = r.History[1];
    r.History[1] = r.History[0];
    r.History[0] = piece;
    return piece;
}

// Restarts from a seed and deals the first piece (never Z, S or O) into History[0].
constexpr uint8_t Kovra2_Init(Kovra2History& r, uint32_t seed) {
    r.Seed = seed;
    uint8_t piece = 0;
    do {
        piece = Kovra2_RollPiece(r);
    } while (piece == Kovra2_Z || piece == Kovra2_S || piece == Kovra2_O);
    r.History[0] = piece;
    r.History[1] = Kovra2_Z;
    r.History[2] = Kovra2_S;
    r.History[3] = Kovra2_S;
    return piece;
}
