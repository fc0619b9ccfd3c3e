// The visualizer's own reader of compressed MAME INP recordings: a small replay object that
// holds one input word per emulated frame.
#pragma once

#include <cstdint>

struct DoublyLinkedList;
struct InpReplay;

// Results of InpReplay_LoadMAMEINP.
enum InpReplayResult : int32_t {
    InpReplay_Ok = 0,
    InpReplay_OutOfMemory = 2,
    InpReplay_CannotOpen = 3,
    InpReplay_Invalid = 4,
    InpReplay_NoZlib = 5,
    InpReplay_ZlibError = 6,
};

// Ten slots; the visualizer needs only loading, clearing and freeing, the others stay empty.
struct InpReplayOps {
    int32_t (*LoadMAMEINP)(InpReplay* r, const char* fileName, int32_t skipPresses,
                           int32_t skipFrames, uint32_t flags);
    void* Load;
    void* CountFrames;
    void* GetInput;
    void* ApplyToPlayer;
    void* AddInput;
    void* StartRecording;
    void* Save;
    int32_t (*Clear)(InpReplay* r);
    int32_t (*Free)(InpReplay* r);
};
static_assert(sizeof(InpReplayOps) == 10 * sizeof(void*));

struct InpReplay {
    const InpReplayOps* ops;
    int32_t inputsState;      // 1 while a list of frames is held
    DoublyLinkedList* inputs; // u32 per frame, frame 0 first
    uint32_t seed;
    uint32_t loadedParts;
};

InpReplay* InpReplay_Create(); // 0 when memory runs out
// Every check, the inflate set-up included, runs before the frames are replaced: any result
// but 0 leaves the frames loaded before.
int32_t InpReplay_LoadMAMEINP(InpReplay* r, const char* fileName, int32_t skipPresses,
                              int32_t skipFrames, uint32_t flags);
int32_t InpReplay_Clear(InpReplay* r);
int32_t InpReplay_Free(InpReplay* r);
