// The replay object: records a player's inputs and rules, saves and loads ".er" files, and
// imports MAME INP recordings.
#pragma once

#include <cstdint>

struct Player;
struct Replay;

// The largest replay file the loader takes: two bytes for every frame a 32-bit count can name,
// and room for the rules and the value store.
inline constexpr uint64_t kReplayFileMaxBytes = (uint64_t{1} << 33) + (uint64_t{64} << 20);

// Results of Replay_LoadMAMEINP.
enum InpResult : int32_t {
    Inp_Ok = 0,
    Inp_OutOfMemory = 2,
    Inp_CannotOpen = 3,
    Inp_Invalid = 4,
    Inp_NoZlib = 5,
    Inp_ZlibError = 6,
};

struct ReplayOps {
    int32_t (*LoadMAMEINP)(Replay* r, const char16_t* fileName, int32_t skipPresses,
                           int32_t skipFrames, uint32_t flags);
    int32_t (*Load)(Replay* r, Player* player, const char16_t* fileName, uint32_t flags);
    int32_t (*CountFrames)(Replay* r);
    uint32_t (*GetInput)(Replay* r, uint32_t frame);
    int32_t (*ApplyToPlayer)(Replay* r, Player* player);
    int32_t (*AddInput)(Replay* r, uint32_t input);
    int32_t (*StartRecording)(Replay* r, Player* player);
    int32_t (*Save)(Replay* r, const char16_t* fileName);
    const char16_t* (*GetModeName)(Replay* r);
    const char16_t* (*GetRotationSystemName)(Replay* r);
    const char16_t* (*GetRandomizerName)(Replay* r);
    int32_t (*Clear)(Replay* r);
    int32_t (*Free)(Replay* r);
};
static_assert(sizeof(ReplayOps) == 13 * sizeof(void*));

// The record's other fields are the engine's own.
struct Replay {
    const ReplayOps* ops;
};
