// The Player record and its 42-operation table: one player's game. The client and the rule
// plug-ins read and write some fields directly, so every module includes this one layout.
#pragma once

#include "Zelvik_Field.h"
#include "Zelvik_ID.h"

#include <cstddef>
#include <cstdint>

struct DoublyLinkedList;
struct ClientInterface;
struct Game;
struct ModeInterface;
struct RandomizerInterface;
struct Replay;
struct RotationPiece;
struct RotationSystemInterface;

// Input bits of one frame; the player keeps the low eleven.
enum InputBits : uint32_t {
    Input_Left = 1,
    Input_Right = 2,
    Input_HardDrop = 4,
    Input_SoftDrop = 8,
    Input_RotCCW = 16,
    Input_RotCW = 32,
    Input_Hold = 128,
    Input_RotCCW2 = 256,
    Input_RotCW2 = 512,
    Input_RotCCW3 = 1024, // the client's third pair of rotation keys
    Input_RotCW3 = 2048,
};
constexpr uint32_t kInputMask = 0x7FF;

enum PlayerState : int32_t {
    State_Idle = 0,
    State_Ready = 1,
    State_EntryDelay = 2,
    State_Falling = 3,
    State_Landed = 4,
    State_LineClear = 5,
    State_GameOver = 6,
    State_Finished = 7,
    State_ModePause = 0x10000,     // a mode's own phase
    State_ModeLockPause = 0x10001, // a mode's own phase
};

enum PlayerFlagBits : uint32_t {
    Flag_Ghost = 1,
    Flag_RecordReplay = 2,
    Flag_PlayReplay = 4,
    Flag_ShiftCounterFrozen = 8,
    Flag_LockWhenResting = 16,
    Flag_ShiftChargesInDelay = 32,
    Flag_InitialRotation = 64,
    Flag_SpawnedThisFrame = 128,
    Flag_TimeLimitActive = 256,
    Flag_HoldAllowed = 512,
    Flag_InitialHold = 1024,
    Flag_HoldUsed = 2048,
    Flag_Paused = 4096,
    Flag_TimerStopped = 8192,
    Flag_TimerCountsDown = 16384,
};

// Hook events 0-11 and the argument each passes.
enum PlayerEvent : uint32_t {
    Event_PieceSpawned = 2,
    Event_Frame = 3,
    Event_Falling = 4,
    Event_AfterGravity = 5,
    Event_PieceLocked = 6, // argument: address of the i32 full-row count
    Event_EndOfFrame = 7,
    Event_Finished = 8,
    Event_RowsCollapsed = 9,
    Event_GameOver = 10,
    Event_GameEnded = 11,
};
constexpr uint32_t kEventCount = 12;

constexpr uint32_t kHookPersistent = 1;
constexpr uint32_t kValueCallerMemory = 1;
constexpr int32_t kNextQueueSize = 64;
constexpr int32_t kPacketBufferSize = 591;
constexpr int32_t kNameLength = 256;

using PlayerHookCallback = void (*)(Player* player, uintptr_t argument, uintptr_t userdata);
using PlayerConnectedCallback = void (*)(Player* player);
using PlayerRemoteCallback = void (*)(Player* player, Player* remote);

struct HookRecord {
    uint32_t event;
    PlayerHookCallback callback;
    uintptr_t userdata;
    uint32_t flags; // kHookPersistent
};

struct KeyValueEntry {
    char16_t key[256]; // lower case, zero-terminated
    uint32_t type;     // 0 = 32-bit integer
    void* data;
    uint32_t size;
    uint32_t flags; // kValueCallerMemory
};

struct PieceRecord {
    uint32_t activeFrames;
    uint32_t softDropFrames;
    uint32_t greatestHardDrop;
};

#pragma pack(push, 1)
struct ModeEntry {
    ModeInterface* mode;
    ZelvikID id;
};
#pragma pack(pop)

// Written by the modes, read by the engine.
struct PlayerSettings {
    int32_t ReadyTime;
    int32_t ShiftDelay;
    int32_t LineClearDelay;
    int32_t EntryDelay;
    int32_t LineEntryDelay;
    int32_t LockDelay;
    int32_t Gravity;       // 1/256 rows per frame
    int32_t SoftDropSpeed; // 1/256 rows per frame
    double FramesPerSecond;
    int32_t StepOrder; // 0-5
};

struct PlayerOps {
    intptr_t (*GetModeInfo)(Player* p, int32_t index); // count for index < 0, else ZelvikID*
    int32_t (*AddMode)(Player* p, const ZelvikID* id);
    int32_t (*SetMode)(Player* p, const ZelvikID* id);
    intptr_t (*GetRotationSystemInfo)(Player* p, int32_t index);
    int32_t (*SetRotationSystem)(Player* p, const ZelvikID* id);
    intptr_t (*GetRandomizerInfo)(Player* p, int32_t index);
    int32_t (*SetRandomizer)(Player* p, const ZelvikID* id);
    int32_t (*CopyRulesTo)(Player* p, Player* target);
    int32_t (*Update)(Player* p, uint32_t inputBits, int32_t maxFrames); // frames run
    int32_t (*DrawField)(Player* p, uint32_t flags);
    int32_t (*DrawNextQueue)(Player* p, int32_t index, uint32_t flags);
    int32_t (*DrawHold)(Player* p, uint32_t flags);
    int32_t (*Draw)(Player* p, uint32_t flags);
    int32_t (*Start)(Player* p);
    int32_t (*RequestStart)(Player* p);
    uint32_t (*Connect)(Player* p, const char16_t* host, int32_t port,
                        PlayerConnectedCallback onConnected, PlayerRemoteCallback onPlayerJoined,
                        PlayerRemoteCallback onPlayerLeft);
    uintptr_t (*AddHook)(Player* p, uint32_t event, PlayerHookCallback callback,
                         uintptr_t userdata, uint32_t flags);
    int32_t (*FireEvent)(Player* p, uint32_t event, uintptr_t argument);
    int32_t (*RemoveHook)(Player* p, uintptr_t handle);
    int32_t (*GetNetworkError)(Player* p);
    int32_t (*SetClientInterface)(Player* p, ClientInterface* ci);
    int32_t (*Reset)(Player* p);
    int32_t (*Free)(Player* p);
    int32_t (*SetName)(Player* p, const char16_t* text);
    int32_t (*SetField)(Player* p, Field* field);
    Field* (*GetField)(Player* p);
    int32_t (*TestPosition)(Player* p, int32_t x, int32_t y, int32_t rotation);
    int32_t (*TestMove)(Player* p, int32_t dx, int32_t dy, int32_t drotation);
    int32_t (*QueryCell)(Player* p, int32_t x, int32_t y, uint32_t mask);
    int32_t (*GameOver)(Player* p, uint32_t notify);
    int32_t (*Finish)(Player* p, uintptr_t argument);
    uint8_t* (*SaveSnapshot)(Player* p, uint32_t* sizeOut); // buffer (caller frees) or 0
    void* Slot32;
    uint32_t (*GetFieldChecksum)(Player* p);
    const char16_t* (*GetName)(Player* p); // engine buffer, valid until the next engine call
    int32_t (*SetValue)(Player* p, const char16_t* key, uint32_t type, const void* data,
                        uint32_t size, uint32_t flags);
    int32_t (*GetValue)(Player* p, const char16_t* key, uint32_t* out);
    void* Slot37;
    void* Slot38;
    int32_t (*SetTimeLimit)(Player* p, int32_t frames, uintptr_t argument);
    int32_t (*Hold)(Player* p);
    int32_t (*FillNextQueue)(Player* p);
};
static_assert(sizeof(PlayerOps) == 42 * sizeof(void*));
static_assert(offsetof(PlayerOps, Update) == 8 * sizeof(void*));
static_assert(offsetof(PlayerOps, Start) == 13 * sizeof(void*));
static_assert(offsetof(PlayerOps, AddHook) == 16 * sizeof(void*));
static_assert(offsetof(PlayerOps, Free) == 22 * sizeof(void*));
static_assert(offsetof(PlayerOps, GetFieldChecksum) == 33 * sizeof(void*));
static_assert(offsetof(PlayerOps, SetTimeLimit) == 39 * sizeof(void*));
static_assert(offsetof(PlayerOps, FillNextQueue) == 41 * sizeof(void*));

// Natural alignment: every module includes this header, so the layout is shared as is.
struct Player {
    const PlayerOps* ops;
    uint32_t Id;
    char16_t NameBuffer[kNameLength];
    uint32_t Seed;
    uint32_t PlayerFlags; // PlayerFlagBits
    uint8_t PacketBuffer[kPacketBufferSize];
    uint32_t PacketSent;
    uint32_t Connection;     // socket handle + 1; 0 = not networked
    uint32_t PeerConnection; // server side: handle + 1 of the owning client
    DoublyLinkedList* InputQueue;
    DoublyLinkedList* ChecksumQueue;
    DoublyLinkedList* SyncQueue;
    uint32_t IsRemote;
    DoublyLinkedList* RemotePlayers; // Player* elements
    uint32_t ReadyFlag;
    PlayerConnectedCallback OnConnected;
    PlayerRemoteCallback OnPlayerJoined;
    PlayerRemoteCallback OnPlayerLeft;
    uint8_t* ReceiveBuffer; // 591 bytes
    uint32_t ReceiveCount;
    uint32_t ReceivePartial;
    ZelvikID* OfferedModes;
    uint32_t OfferedRotationSystemCount;
    ZelvikID* OfferedRotationSystems;
    uint32_t SendFailed;
    uint32_t InputRead;
    uint32_t InputUsed;
    uint32_t InputDisabled;
    uint32_t InputRelockMask;
    uint32_t InputCarried;
    ::Field* Field;
    RotationPiece* NextQueue[kNextQueueSize];
    int32_t PreviewCount;
    RotationPiece* HoldPiece;
    RotationPiece* Piece;
    int32_t X;
    int32_t Y;
    int32_t Rotation;
    int32_t SpawnColumn;
    ::Game* Game;
    RotationSystemInterface* RotationSystem;
    ZelvikID RotationSystemID;
    RandomizerInterface* Randomizer;
    ZelvikID RandomizerID;
    uintptr_t UserData;
    ::Replay* Replay;
    int64_t StartTime;
    uint32_t FrameCounter;
    int32_t GameTime;
    int32_t TimeLimit;
    int32_t TimeCounter;
    uint32_t FrameTarget;
    DoublyLinkedList* ModeList; // ModeEntry elements
    PlayerSettings Settings;
    DoublyLinkedList* HookLists[kEventCount]; // HookRecord elements
    int32_t State;
    int32_t StateTimer;
    int32_t LockTimer;
    int32_t ShiftCounter;
    int32_t LastClearRows;
    int32_t GravityAccumulator;
    uint32_t PreviousInput;
    int32_t StateEntered;
    int32_t PiecesLocked;
    double PiecesPerMinute;
    DoublyLinkedList* ValueList;    // KeyValueEntry elements
    DoublyLinkedList* InputHistory; // u32 new presses, 0 separates pieces
    DoublyLinkedList* PieceRecords; // PieceRecord elements
};

// Host-written and plug-in-written fields must sit at the same place in every module.
static_assert(offsetof(Player, ops) == 0);
static_assert(offsetof(Player, NameBuffer) == 12);
static_assert(offsetof(Player, PacketBuffer) == 12 + 512 + 8);
static_assert(offsetof(Player, Settings) % alignof(double) == 0);
static_assert(sizeof(PlayerSettings) == 8 * 4 + 8 + 8);

// How a player's last game ended, as long as it has not been reset for the next one. The
// game-over animation ends in the idle state, so an idle player that has run frames also
// topped out: it is only idle with frames until a reset clears them.
enum class PlayerEnding { None, GameOver, Finished };
inline PlayerEnding Player_Ending(const Player& p) {
    if (p.State == State_GameOver || (p.State == State_Idle && p.FrameCounter > 0))
        return PlayerEnding::GameOver;
    return p.State == State_Finished ? PlayerEnding::Finished : PlayerEnding::None;
}
