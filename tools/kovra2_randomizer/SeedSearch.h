// The search for the first seed whose deal begins with a given piece sequence.
#pragma once

#include <cstdint>

// The first of seeds 1 to 4294967295 in ascending order that deals the sequence, or 0 when none
// does. Only seeds below 2^25 need trying: every higher seed deals what a lower one deals.
// Split over `threads` workers (0: one per core); the smallest match wins whatever order they
// finish in.
uint32_t SeedSearch_FindSeed(const uint8_t* pieces, uint32_t count, unsigned threads);

// True when no seed can deal the sequence: a game never starts with Z, S or O.
bool SeedSearch_CannotMatch(const uint8_t* pieces, uint32_t count);
