// What every game-mode plug-in does the same way, with or without the mode frame: its ID, its
// interface object, the field it plays on, hooks, published values, timings, drop scoring terms
// and the client's sounds and music.
#pragma once

#include "Mode_Tables.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Field.h"
#include "Zelvik_Game.h"
#include "Zelvik_ID.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Player.h"

#include <cstddef>
#include <cstdint>

// Fills a mode's ID (kind, name, author, version, build); 0 when id is null or of another size.
uint32_t ModeCommon_FillID(ZelvikID* id, const char16_t* name, uint64_t version, int32_t build);

// A mode interface with `ops` and an empty list of `elementSize`-byte per-player elements; 0
// (nothing kept) when memory runs out.
ModeInterface* ModeCommon_CreateInterface(const ModeInterfaceOps* ops, size_t elementSize);

// Gives the player a 10 x 20 field with at least two hidden rows: a field of another size goes
// (freed with its last player) and the engine makes the new one; without the engine's table the
// player is left without a field.
void ModeCommon_FitField(const EngineApi* api, Player* player);

// End of every mode's frame hook: the shift charge builds during the entry delay only.
void ModeCommon_ChargeShiftInDelay(Player* player);

// Removes a hook (a handle already gone is harmless) and zeroes the handle.
void ModeCommon_DropHook(Player* player, uintptr_t* handle);
// Publishes a live value: the store reads the field itself.
void ModeCommon_PublishLive(Player* player, const char16_t* key, int32_t* field);

// The host's callbacks of the player's game; 0 on a server.
ClientInterface* ModeCommon_Client(Player* player);
void ModeCommon_PlaySound(Player* player, int32_t sound);
void ModeCommon_PlayMusic(Player* player, int32_t music);
void ModeCommon_StopMusic(Player* player);

// One change of music on the way up: the music stops at `fadeAt` and `music` starts at `startAt`.
struct ModeMusicCue {
    int32_t fadeAt;
    int32_t startAt;
    int32_t music;
};
// Plays the cues a step of n levels from level crosses, in order.
template <size_t N>
void ModeCommon_MusicCues(Player* player, int32_t level, int32_t n, const ModeMusicCue (&cues)[N]) {
    if (!ModeCommon_Client(player)) return;
    for (const ModeMusicCue& c : cues) {
        if (Mode_Crosses(level, n, c.fadeAt)) ModeCommon_StopMusic(player);
        if (Mode_Crosses(level, n, c.startAt)) ModeCommon_PlayMusic(player, c.music);
    }
}

// The six timing fields, in the order the engine expects them written.
struct ModeTimings {
    int32_t shiftDelay;
    int32_t lineClearDelay;
    int32_t entryDelay;
    int32_t lineEntryDelay;
    int32_t lockDelay;
    int32_t gravity;
};
void ModeCommon_ApplyTimings(Player* player, const ModeTimings& t);

// The drop terms of a lock's score, from the player's last piece record (all 0 without one):
// frames of soft drop, the longest hard drop and the lock delay left unused.
struct ModeDropTerms {
    int32_t soft;
    int32_t sonic;
    int32_t speed;
};
ModeDropTerms ModeCommon_DropTerms(Player* player);

// The score combo after a lock of `rows` rows: back to 1 without rows, up by 2 * rows - 2.
constexpr int32_t ModeCommon_NextScoreCombo(int32_t combo, int32_t rows) {
    if (rows == 0) return 1;
    return rows >= 2 ? combo + 2 * rows - 2 : combo;
}

// A step of n levels from level enters a new hundred.
constexpr bool ModeCommon_NewSection(int32_t level, int32_t n) {
    return level / 100 != (level + n) / 100;
}
