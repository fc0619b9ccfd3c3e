// The randomizer interface: the order of the pieces, from a seed.
#pragma once

#include <cstdint>

struct RandomizerInterface;

struct RandomizerOps {
    int32_t (*Init)(RandomizerInterface* r, uint32_t seed); // same seed, same sequence
    uint32_t (*NextKind)(RandomizerInterface* r);           // PieceKind 1-7
    int32_t (*Free)(RandomizerInterface* r);
};
static_assert(sizeof(RandomizerOps) == 3 * sizeof(void*));

struct RandomizerInterface {
    const RandomizerOps* ops;
};
