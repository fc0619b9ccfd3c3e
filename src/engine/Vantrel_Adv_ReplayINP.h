// MAME INP import into a replay's input list (Replay slot 0).
#pragma once

#include "Zelvik_Replay.h"

int32_t Replay_LoadMAMEINP(Replay* r, const char16_t* fileName, int32_t skipPresses,
                           int32_t skipFrames, uint32_t flags);
// The uncompressed recordings that came before the "MAMEINP" header; the same arguments and
// result codes.
int32_t Replay_LoadOldINP(Replay* r, const char16_t* fileName, int32_t skipPresses,
                          int32_t skipFrames, uint32_t flags);
