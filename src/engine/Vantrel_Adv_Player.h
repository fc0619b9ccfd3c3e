// Engine-internal declarations of the Player operations. The table slots are filled by
// Player_Create; the units that implement them are named beside each group.
#pragma once

#include "DoublyLinkedList.h"
#include "Zelvik_Player.h"

// Life cycle and accessors (Vantrel_Adv_Player.cpp).
Player* Player_Create(void* ignored, uint32_t createOwnField);
int32_t Player_Start(Player* p);
int32_t Player_Reset(Player* p);
int32_t Player_Free(Player* p);
int32_t Player_SetName(Player* p, const char16_t* text);
const char16_t* Player_GetName(Player* p);
int32_t Player_SetField(Player* p, Field* field);
Field* Player_GetField(Player* p);
int32_t Player_GetNetworkError(Player* p);
int32_t Player_SetClientInterface(Player* p, ClientInterface* ci);
uint32_t Player_GetFieldChecksum(Player* p);
uint8_t* Player_SaveSnapshot(Player* p, uint32_t* sizeOut);
int32_t Player_SetTimeLimit(Player* p, int32_t frames, uintptr_t argument);

// Hooks and values (Vantrel_Adv_PlayerHooks.cpp). A hook handle is a process-wide serial
// number kept beside the record, never an address, so a stale handle cannot reach freed memory.
struct HookSlot {
    HookRecord record;
    uintptr_t handle;
};
uintptr_t Player_AddHook(Player* p, uint32_t event, PlayerHookCallback callback, uintptr_t userdata,
                         uint32_t flags);
int32_t Player_FireEvent(Player* p, uint32_t event, uintptr_t argument);
int32_t Player_RemoveHook(Player* p, uintptr_t handle);
int32_t Player_SetValue(Player* p, const char16_t* key, uint32_t type, const void* data,
                        uint32_t size, uint32_t flags);
int32_t Player_GetValue(Player* p, const char16_t* key, uint32_t* out);

// Pieces and endings (Vantrel_Adv_PlayerPieces.cpp).
int32_t Player_TestPosition(Player* p, int32_t x, int32_t y, int32_t rotation);
int32_t Player_TestMove(Player* p, int32_t dx, int32_t dy, int32_t drotation);
int32_t Player_QueryCell(Player* p, int32_t x, int32_t y, uint32_t mask);
int32_t Player_GameOver(Player* p, uint32_t notify);
int32_t Player_Finish(Player* p, uintptr_t argument);
int32_t Player_Hold(Player* p);
int32_t Player_FillNextQueue(Player* p);
int32_t Player_NextPiece(Player* p);
int32_t Player_EndGame(Player* p);

// Frame update and movement steps (Vantrel_Adv_PlayerUpdate.cpp, Vantrel_Adv_PlayerMove.cpp).
int32_t Player_Update(Player* p, uint32_t inputBits, int32_t maxFrames);
int32_t Player_UpdateRotation(Player* p);
int32_t Player_UpdateShift(Player* p);
int32_t Player_UpdateGravity(Player* p);

// Drawing (Vantrel_Adv_PlayerDraw.cpp).
int32_t Player_DrawField(Player* p, uint32_t flags);
int32_t Player_DrawNextQueue(Player* p, int32_t index, uint32_t flags);
int32_t Player_DrawHold(Player* p, uint32_t flags);
int32_t Player_Draw(Player* p, uint32_t flags);

// Rule selection (Vantrel_Adv_PlayerRules.cpp).
intptr_t Player_GetModeInfo(Player* p, int32_t index);
int32_t Player_AddMode(Player* p, const ZelvikID* id);
int32_t Player_SetMode(Player* p, const ZelvikID* id);
intptr_t Player_GetRotationSystemInfo(Player* p, int32_t index);
int32_t Player_SetRotationSystem(Player* p, const ZelvikID* id);
intptr_t Player_GetRandomizerInfo(Player* p, int32_t index);
int32_t Player_SetRandomizer(Player* p, const ZelvikID* id);
int32_t Player_CopyRulesTo(Player* p, Player* target);
// Detaches every mode (releasing a mode object no player uses any more), empties ModeList.
void Player_RemoveModes(Player* p);

// Helpers shared by the player units.
// The host of the player's game, 0 without a game or a host.
ClientInterface* Player_Host(Player* p);
void Player_PlaySound(Player* p, int32_t soundId); // dropped without a host
void Player_StopMusic(Player* p);                  // the same
// Spawn position of the active piece: rotation 0, SpawnColumn + offset, top block in row 0.
void Player_PlaceAtSpawn(Player* p);
// The engine's own persistent hooks (lock: history separator; spawn: a new piece record).
void Player_HookLockMark(Player* p, uintptr_t argument, uintptr_t userdata);
void Player_HookSpawnStats(Player* p, uintptr_t argument, uintptr_t userdata);
// Deletes every value entry, releasing the data the store owns.
void Player_ClearValues(Player* p);
// Deletes every hook without kHookPersistent.
void Player_RemoveTransientHooks(Player* p);
// Player_FireEvent for the frame's own events, skipping the call when no hook listens.
inline void Player_Fire(Player* p, uint32_t event, uintptr_t argument = 0) {
    DoublyLinkedList* list = p->HookLists[event];
    if (list && list->First) Player_FireEvent(p, event, argument);
}
// Bounds on the per-game lists nobody reads back beyond the newest entries.
constexpr int32_t kInputHistoryLimit = 4096;
constexpr int32_t kPieceRecordLimit = 1024;

// Network (Vantrel_Adv_NetClient.cpp).
int32_t Player_RequestStart(Player* p);
uint32_t Player_Connect(Player* p, const char16_t* host, int32_t port,
                        PlayerConnectedCallback onConnected, PlayerRemoteCallback onPlayerJoined,
                        PlayerRemoteCallback onPlayerLeft);
