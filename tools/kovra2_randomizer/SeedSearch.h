// The search for the first seed whose deal begins with a given piece sequence.
#pragma once

#include <cstdint>

// Seeds 1 to 4294967295 in ascending order, split over `threads` workers (0: one per core);
// the smallest matching seed wins whatever order the workers finish in. 0 when no seed
// matches.
uint32_t SeedSearch_FindSeed(const uint8_t* pieces, uint32_t count, unsigned threads);

// True when no seed can deal the sequence: a game never starts with Z, S or O.
bool SeedSearch_CannotMatch(const uint8_t* pieces, uint32_t count);
