// The Player object: creation, start, reset, release and the small accessors.
#include "Vantrel_Adv_Player.h"
#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Vantrel_Adv_Field.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_Replay.h"
#include "Vantrel_Common.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Game.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Randomizer.h"
#include "Zelvik_RotationSystem.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

const PlayerOps playerOps = {
    Player_GetModeInfo,
    Player_AddMode,
    Player_SetMode,
    Player_GetRotationSystemInfo,
    Player_SetRotationSystem,
    Player_GetRandomizerInfo,
    Player_SetRandomizer,
    Player_CopyRulesTo,
    Player_Update,
    Player_DrawField,
    Player_DrawNextQueue,
    Player_DrawHold,
    Player_Draw,
    Player_Start,
    Player_RequestStart,
    Player_Connect,
    Player_AddHook,
    Player_FireEvent,
    Player_RemoveHook,
    Player_GetNetworkError,
    Player_SetClientInterface,
    Player_Reset,
    Player_Free,
    Player_SetName,
    Player_SetField,
    Player_GetField,
    Player_TestPosition,
    Player_TestMove,
    Player_QueryCell,
    Player_GameOver,
    Player_Finish,
    Player_SaveSnapshot,
    nullptr,
    Player_GetFieldChecksum,
    Player_GetName,
    Player_SetValue,
    Player_GetValue,
    nullptr,
    nullptr,
    Player_SetTimeLimit,
    Player_Hold,
    Player_FillNextQueue,
};

// Text handed out by Player_GetName lives here until the next call.
char16_t nameText[kNameLength + 16];

constexpr int32_t kSyncRecordSize = 264;
constexpr int32_t kChecksumRecordSize = 8;

uint32_t NewSeed() {
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> half(0, 65535);
    const uint32_t r1 = half(generator);
    const uint32_t r2 = half(generator);
    return (r1 << 16) | r2;
}

void FreeList(DoublyLinkedList*& list) {
    if (list) list->ops->FreeList(list);
    list = nullptr;
}

void ClearList(DoublyLinkedList* list) {
    if (list) list->ops->ClearList(list);
}

void FreePiece(Player* p, RotationPiece*& piece) {
    if (piece && p->RotationSystem) p->RotationSystem->ops->FreePiece(p->RotationSystem, piece);
    piece = nullptr;
}

// Every piece the player holds goes back through the rotation system that made it.
void FreeAllPieces(Player* p) {
    if (!p->RotationSystem) return;
    for (RotationPiece*& slot : p->NextQueue) FreePiece(p, slot);
    FreePiece(p, p->Piece);
    FreePiece(p, p->HoldPiece);
}

void AppendDecimal(std::u16string& text, uint32_t v) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) text.push_back(static_cast<char16_t>(digits[--n]));
}

// Releases everything Player_Free releases; also the half-built player of a failed create.
void Release(Player* p) {
    if (p->Game) p->Game->ops->RemovePlayer(p->Game, p);
    p->Game = nullptr;

    // Modes remove their hooks while detaching, so the hook lists must still exist.
    Player_RemoveModes(p);
    FreeList(p->ModeList);
    for (DoublyLinkedList*& list : p->HookLists) FreeList(list);
    Player_ClearValues(p);
    FreeList(p->ValueList);

    // Also without an open link: the network side may still know the player. A remote
    // player's link is its local player's and stays open.
    if (!p->IsRemote) Net_ClosePlayerConnection(p);
    // Remote players belong to the local player that received them.
    if (DoublyLinkedList* remotes = p->RemotePlayers) {
        p->RemotePlayers = nullptr;
        for (DoublyLinkedListElement* e = remotes->First; e; e = e->Next) {
            Player* remote = *static_cast<Player**>(DoublyLinkedList_Data(e));
            if (remote && remote != p) Player_Free(remote);
        }
        remotes->ops->FreeList(remotes);
    }
    FreeList(p->InputQueue);
    FreeList(p->ChecksumQueue);
    FreeList(p->SyncQueue);
    std::free(p->ReceiveBuffer);
    std::free(p->OfferedModes);
    std::free(p->OfferedRotationSystems);
    p->ReceiveBuffer = nullptr;
    p->OfferedModes = p->OfferedRotationSystems = nullptr;

    if (::Field* field = p->Field) {
        field->ops->DetachPlayer(field, p);
        p->Field = nullptr;
        if (!field->players || field->players->Count == 0) field->ops->Free(field);
    }
    if (p->Randomizer) p->Randomizer->ops->Free(p->Randomizer);
    p->Randomizer = nullptr;
    FreeAllPieces(p);
    if (p->RotationSystem) p->RotationSystem->ops->Free(p->RotationSystem);
    p->RotationSystem = nullptr;
    if (p->Replay) p->Replay->ops->Free(p->Replay);
    p->Replay = nullptr;
    FreeList(p->InputHistory);
    FreeList(p->PieceRecords);
    std::free(p);
}

} // namespace

ClientInterface* Player_Host(Player* p) {
    return p->Game ? p->Game->clientInterface : nullptr;
}

// A remote player shares the host's game only to be drawn: the host hears its own player.
static ClientInterface* AudioHost(Player* p) {
    return p->IsRemote ? nullptr : Player_Host(p);
}

void Player_PlaySound(Player* p, int32_t soundId) {
    if (ClientInterface* ci = AudioHost(p)) ci->ops->PlaySound(ci, soundId);
}

void Player_StopMusic(Player* p) {
    if (ClientInterface* ci = AudioHost(p)) ci->ops->StopMusic(ci);
}

Player* Player_Create(void*, uint32_t createOwnField) {
    auto* p = static_cast<Player*>(std::calloc(1, sizeof(Player)));
    if (!p) return nullptr;
    p->ops = &playerOps;

    p->ModeList = DoublyLinkedList_Create(sizeof(ModeEntry));
    p->InputQueue = DoublyLinkedList_Create(sizeof(uint32_t));
    p->ChecksumQueue = DoublyLinkedList_Create(kChecksumRecordSize);
    p->SyncQueue = DoublyLinkedList_Create(kSyncRecordSize);
    p->RemotePlayers = DoublyLinkedList_Create(sizeof(Player*));
    p->Replay = Replay_Create();
    p->InputHistory = DoublyLinkedList_Create(sizeof(uint32_t));
    p->PieceRecords = DoublyLinkedList_Create(sizeof(PieceRecord));
    p->ValueList = DoublyLinkedList_Create(sizeof(KeyValueEntry));
    bool complete = p->ModeList && p->InputQueue && p->ChecksumQueue && p->SyncQueue &&
                    p->RemotePlayers && p->Replay && p->InputHistory && p->PieceRecords &&
                    p->ValueList;
    for (DoublyLinkedList*& list : p->HookLists) {
        list = DoublyLinkedList_Create(sizeof(HookSlot));
        complete = complete && list;
    }

    p->Id = Common_NextUniqueID();
    p->State = State_Idle;
    p->Seed = NewSeed();
    p->PreviewCount = 3;
    p->SpawnColumn = 3;

    if (complete && createOwnField) {
        ::Field* field = Field_Create(10, 20, 3);
        if (field)
            Player_SetField(p, field);
        else
            complete = false;
    }
    complete = complete &&
               Player_AddHook(p, Event_PieceLocked, Player_HookLockMark, 0, kHookPersistent) &&
               Player_AddHook(p, Event_PieceSpawned, Player_HookSpawnStats, 0, kHookPersistent);
    if (!complete) {
        Release(p);
        return nullptr;
    }
    return p;
}

int32_t Player_Start(Player* p) {
    if (!p || p->State != State_Idle || !p->Game) return 0;
    p->StartTime = GetMilliseconds();
    if ((p->PlayerFlags & Flag_PlayReplay) && p->Replay)
        p->Replay->ops->ApplyToPlayer(p->Replay, p);
    if ((p->PlayerFlags & Flag_RecordReplay) && p->Replay)
        p->Replay->ops->StartRecording(p->Replay, p);

    if (!p->RotationSystem || !p->Randomizer) {
        const std::u16string name = Player_GetName(p);
        if (!p->RotationSystem)
            Common_OutputMessage(p, (u"Warning: RotationSystem is not set for " + name).c_str());
        if (!p->Randomizer)
            Common_OutputMessage(p, (u"Warning: Randomizer is not set for " + name).c_str());
        p->State = State_Idle;
        return 0;
    }

    // A game that ended without a reset leaves its pieces behind; the new one deals the seed's.
    FreeAllPieces(p);
    // Modes write the settings block here.
    for (DoublyLinkedListElement* e = p->ModeList ? p->ModeList->First : nullptr; e; e = e->Next) {
        auto* entry = static_cast<ModeEntry*>(DoublyLinkedList_Data(e));
        if (entry->mode) entry->mode->ops->StartPlayer(entry->mode, p);
    }
    p->RotationSystem->ops->StartPlayer(p->RotationSystem, p);
    p->Randomizer->ops->Init(p->Randomizer, p->Seed);
    p->State = p->Settings.ReadyTime != 0 ? State_Ready : State_EntryDelay;
    p->StateEntered = 1;
    Player_FillNextQueue(p);
    return 1;
}

int32_t Player_Reset(Player* p) {
    if (!p) return 0;
    if (p->Field) p->Field->ops->Clear(p->Field);
    ClearList(p->InputQueue);
    ClearList(p->SyncQueue);
    p->ReadyFlag = 0;
    p->PacketSent = 1;
    FreeAllPieces(p);
    ClearList(p->InputHistory);
    p->State = State_Idle;
    // Timers of the last game would shift the next one's first lock and shift.
    p->StateTimer = 0;
    p->LockTimer = 0;
    p->ShiftCounter = 0;
    p->LastClearRows = 0;
    p->GameTime = 0;
    p->FrameCounter = 0;
    p->InputUsed = 0;
    p->PreviousInput = 0;
    p->GravityAccumulator = 0;
    p->PlayerFlags &= Flag_RecordReplay | Flag_PlayReplay;
    p->Seed = NewSeed();
    p->PiecesLocked = 0;
    p->InputCarried = 0;
    p->InputRelockMask = 0;
    p->InputDisabled = 0;
    // Values first: live entries may point into the piece records.
    Player_ClearValues(p);
    Player_RemoveTransientHooks(p);
    ClearList(p->PieceRecords);
    return 0;
}

int32_t Player_Free(Player* p) {
    if (!p) return 0;
    Release(p);
    return 1;
}

int32_t Player_SetName(Player* p, const char16_t* text) {
    if (!p) return 0;
    int32_t n = 0;
    for (; text && n < kNameLength - 1 && text[n]; ++n) p->NameBuffer[n] = text[n];
    std::memset(p->NameBuffer + n, 0, (kNameLength - n) * sizeof(char16_t));
    return 0;
}

const char16_t* Player_GetName(Player* p) {
    std::u16string text;
    if (p) {
        if (!p->NameBuffer[0]) {
            text = u"Player";
            AppendDecimal(text, p->Id);
        } else {
            text = u"(";
            AppendDecimal(text, p->Id);
            text += u")";
            for (int32_t i = 0; i < kNameLength && p->NameBuffer[i]; ++i)
                text.push_back(p->NameBuffer[i]);
        }
    }
    const size_t n = text.size() < sizeof nameText / 2 - 1 ? text.size() : sizeof nameText / 2 - 1;
    std::memcpy(nameText, text.data(), n * sizeof(char16_t));
    nameText[n] = 0;
    return nameText;
}

int32_t Player_SetField(Player* p, ::Field* field) {
    if (!p) return 0;
    if (p->Field) p->Field->ops->DetachPlayer(p->Field, p);
    p->Field = field;
    if (field) field->ops->AttachPlayer(field, p);
    return 0;
}

::Field* Player_GetField(Player* p) {
    return p ? p->Field : nullptr;
}

int32_t Player_GetNetworkError(Player* p) {
    return p ? static_cast<int32_t>(p->SendFailed) : 0;
}

int32_t Player_SetClientInterface(Player* p, ClientInterface* ci) {
    if (p && p->Game) p->Game->clientInterface = ci;
    return 0;
}

uint32_t Player_GetFieldChecksum(Player* p) {
    return p && p->Field ? p->Field->ops->Checksum(p->Field) : 0;
}

uint8_t* Player_SaveSnapshot(Player* p, uint32_t* sizeOut) {
    if (!p) return nullptr;
    uint32_t n = 0;
    uint8_t* fieldData = nullptr;
    if (p->Field) {
        fieldData = p->Field->ops->Save(p->Field, &n);
        if (!fieldData) return nullptr;
    }
    const size_t total = size_t(n) + 268;
    auto* buffer = static_cast<uint8_t*>(std::calloc(1, total));
    if (buffer) {
        for (int i = 0; i < 4; ++i) buffer[260 + i] = static_cast<uint8_t>(n >> (8 * i));
        if (n) std::memcpy(buffer + 264, fieldData, n);
        if (sizeOut) *sizeOut = static_cast<uint32_t>(total);
    }
    std::free(fieldData);
    return buffer;
}

int32_t Player_SetTimeLimit(Player* p, int32_t frames, uintptr_t) {
    if (!p) return 0;
    p->PlayerFlags |= Flag_TimeLimitActive;
    p->TimeLimit = frames;
    p->TimeCounter = 0;
    return 0;
}
