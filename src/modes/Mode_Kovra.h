// The mode frame that four game modes compile: the ModeInterface with its per-player states,
// the frame's hooks (frame rule, gravity fix-up, lock, danger siren), scoring and medals.
// MODE_KOVRA_BUILD selects the build; the differences between builds are kept in ModeKovraBuild.
#pragma once

#include "Mode_Common.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Field.h"
#include "Zelvik_Game.h"
#include "Zelvik_ID.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Player.h"

#include <cstddef>
#include <cstdint>

#define MODE_KOVRA_PEXA_MASTER 1
#define MODE_KOVRA_KOVRA1 2
#define MODE_KOVRA_NURO_PELUNE 3
#define MODE_KOVRA_PEXA_DEATH 4

#ifndef MODE_KOVRA_BUILD
#error "MODE_KOVRA_BUILD must name the frame build"
#endif

// What differs between the four builds.
struct ModeKovraBuild {
    const char16_t* name;
    int32_t buildStamp;
    int32_t readyTime;
    int32_t previewCount;
    uint32_t registerFlags;
    bool bravo;              // all-clear factor 4
    bool scaleDrops;         // sonic * 2, speed * 7
    bool sonicInScore;       // the hard-drop term counts in the score
    bool levelBonus;         // ceil(level / 2) + speed after the level step
    bool comboMedal;         // combo medal at 7 / 5 / 4
    bool deferredLock;       // scoring four frames after the lock, in the mode's lock pause
    int32_t fourRowMedal[3]; // four-row clears for medal values 2 / 1 / 0
    int32_t levelStep[5];    // level step by cleared rows 0-4
};

inline constexpr ModeKovraBuild kKovraBuilds[4] = {
    {u"PEXA Master",
     0x4B19689A,
     100,
     1,
     Flag_LockWhenResting,
     true,
     true,
     true,
     true,
     true,
     false,
     {35, 20, 10},
     {0, 1, 2, 3, 4}},
    {u"KOVRA1",
     0x4B196898,
     179,
     1,
     Flag_LockWhenResting,
     true,
     true,
     false,
     false,
     true,
     true,
     {35, 20, 10},
     {0, 1, 2, 3, 4}},
    {u"Nuro Pelune",
     0x4B196899,
     100,
     3,
     Flag_LockWhenResting | Flag_HoldAllowed | Flag_InitialHold,
     false,
     false,
     true,
     true,
     false,
     false,
     {40, 25, 10},
     {0, 1, 2, 4, 6}},
    {u"PEXA Death",
     0x4B19689B,
     100,
     1,
     Flag_LockWhenResting,
     true,
     true,
     true,
     true,
     true,
     false,
     {17, 10, 5},
     {0, 1, 2, 3, 4}},
};
inline constexpr const ModeKovraBuild& kKovraBuild = kKovraBuilds[MODE_KOVRA_BUILD - 1];

inline constexpr uint64_t kModeKovraVersion = 0x0001000000000000ull;
inline constexpr int32_t kMedalNone = -1;

// Fields every build shares; each mode's own state extends it.
struct ModeState {
    ModeStateOps* methods; // heap table, filled at creation
    Player* player;
    int32_t scoreCombo;
    int32_t gradeCombo;
    int32_t score;
    int32_t alarmOn;
    int32_t level;
    int32_t levelStop;
    int32_t medalAllClear;
    int32_t medalRotation;
    int32_t medalSteps;
    int32_t medalSkill;
    int32_t medalRecover;
    int32_t medalCombo;
    int32_t fourLineClears;
    int32_t recoveries;
    int32_t recoverArmed;
    int32_t lastLockRows;
    int32_t pieceFrames;
    int32_t lockPending;
    uintptr_t hookFrame;
    uintptr_t hookLock;
    uintptr_t hookGravity;
};

// Each mode unit provides its state's creation (zero-filled state and its four-slot table); 0
// when memory runs out.
ModeState* ModeKovra_CreateState();

// Zero-filled state of `size` bytes with a heap copy of `ops`; 0 (nothing kept) when memory runs
// out.
ModeState* ModeKovra_AllocState(size_t size, const ModeStateOps& ops);
// End of every build's ModeState_Free: takes the frame's hooks off, stops the siren, frees the
// method table and the state.
void ModeKovra_FreeState(ModeState* state);

// Start of every build's ModeState_Start: hooks, values, settings, music.
void ModeKovra_Register(ModeState* state);
// Level step after the mode's own threshold events: level and levelstop, both capped at 999.
void ModeKovra_AddLevel(ModeState* state, int32_t levels);
// First step of every build's ModeState_OnLinesCleared: score, combos, medals, level step.
void ModeKovra_Score(ModeState* state, int32_t rows);
void ModeKovra_StopAlarm(ModeState* state);

// Hook handles: adds one / removes one (a handle already gone is harmless) and zeroes it.
uintptr_t ModeKovra_AddHook(ModeState* state, uint32_t event, PlayerHookCallback callback);
void ModeKovra_DropHook(ModeState* state, uintptr_t* handle, uint32_t event);

// Publishes a live value (the store reads the field) or a copy of it.
void ModeKovra_PublishLive(ModeState* state, const char16_t* key, int32_t* field);
void ModeKovra_PublishCopy(ModeState* state, const char16_t* key, int32_t value);
