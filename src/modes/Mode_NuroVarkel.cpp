// Nuro Varkel: a high-speed mode without the common mode frame. It keeps one plain record per
// player, scores inside the lock event and changes its timings only at locks.
#include "Mode_NuroVarkel.h"

#include "Mode_Common.h"

#include "DoublyLinkedList.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Game.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Player.h"

#include <cstdlib>

namespace {

using namespace NuroVarkel;

const EngineApi* g_engineApi = nullptr;

struct VarkelRecord {
    Player* player;
    int32_t level;
    int32_t levelStop;
    int32_t score;
    int32_t scoreCombo;
    uintptr_t hookFrame;
    int32_t pieceFrames;
    int32_t lockPending;
    uintptr_t hookLock;
};

VarkelRecord* FindRecord(ModeInterface* mode, Player* player) {
    if (!mode || !mode->states) return nullptr;
    for (DoublyLinkedListElement* e = mode->states->First; e; e = e->Next) {
        VarkelRecord* r = static_cast<VarkelRecord*>(DoublyLinkedList_Data(e));
        if (r->player == player) return r;
    }
    return nullptr;
}

void DropHooks(VarkelRecord* r) {
    ModeCommon_DropHook(r->player, &r->hookFrame);
    ModeCommon_DropHook(r->player, &r->hookLock);
}

void ApplyTimings(VarkelRecord* r) {
    const int32_t level = TableLevel(r->level);
    ModeCommon_ApplyTimings(r->player, {LevelTable_Lookup(kShiftDelay, level),
                                        LevelTable_Lookup(kLineClearDelay, level),
                                        LevelTable_Lookup(kEntryDelay, level),
                                        LevelTable_Lookup(kLineEntryDelay, level),
                                        LevelTable_Lookup(kLockDelay, level), kGravity});
}

void AddLevel(VarkelRecord* r, int32_t n) {
    static constexpr ModeMusicCue kMusic[] = {{290, 300, 1}};
    ModeCommon_MusicCues(r->player, r->level, n, kMusic);
    if (ModeCommon_NewSection(r->level, n)) ModeCommon_PlaySound(r->player, Sound_SectionUp);
    r->level = Mode_AddScore(r->level, n);
    r->levelStop = (r->level / 100 + 1) * 100;
}

void OnLock(Player* p, int32_t rows, VarkelRecord* r) {
    r->scoreCombo = ModeCommon_NextScoreCombo(r->scoreCombo, rows);
    const ModeDropTerms terms = ModeCommon_DropTerms(p);
    const int64_t base = Mode_CeilDiv(r->level + rows, 4) + int64_t{terms.soft} + terms.sonic;
    r->score = Mode_AddScore(r->score, base * rows * r->scoreCombo);

    static constexpr int32_t kStepByRows[5] = {0, 1, 2, 4, 6};
    const int32_t step = rows >= 0 && rows <= 4 ? kStepByRows[rows] : 0;
    if (step) AddLevel(r, step);

    r->score = Mode_AddScore(r->score, int64_t{Mode_CeilDiv(r->level, 2)} + terms.speed);
    ApplyTimings(r);
}

void OnEvent6(Player* p, uintptr_t rowsPointer, uintptr_t userdata) {
    VarkelRecord* r = reinterpret_cast<VarkelRecord*>(userdata);
    r->lockPending = 1;
    OnLock(p, rowsPointer ? *reinterpret_cast<const int32_t*>(rowsPointer) : 0, r);
}

void OnFrame(Player* p, uintptr_t, uintptr_t userdata) {
    VarkelRecord* r = reinterpret_cast<VarkelRecord*>(userdata);
    r->pieceFrames += 1;
    if (r->pieceFrames == 2) {
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
    } else if (p->State == State_EntryDelay && p->StateTimer == 3) {
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
        r->pieceFrames = 0;
        // The timings follow at the next lock.
        if (r->level % 100 != 99) AddLevel(r, 1);
    } else if (p->State == State_LineClear) {
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
    } else if (r->lockPending) {
        r->lockPending = 0;
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
    } else {
        p->PlayerFlags &= ~Flag_ShiftCounterFrozen;
    }
    ModeCommon_ChargeShiftInDelay(p);
}

// ---- ModeInterface operations ----

int32_t Mode_StartPlayer(ModeInterface* mode, Player* player) {
    if (!player) return 0;
    VarkelRecord* r = FindRecord(mode, player);
    ModeCommon_FitField(g_engineApi, player);
    if (!r) return 0;

    PlayerSettings& s = player->Settings;
    s.FramesPerSecond = 60.0;
    s.SoftDropSpeed = 256;
    s.ReadyTime = 100;
    s.StepOrder = 0;
    player->PreviewCount = 3;
    player->InputRelockMask = Input_SoftDrop;
    player->PlayerFlags |= Flag_HoldAllowed | Flag_InitialHold;

    r->level = 0;
    ModeCommon_PublishLive(player, u"level", &r->level);
    r->levelStop = 100;
    ModeCommon_PublishLive(player, u"levelstop", &r->levelStop);
    r->score = 0;
    ModeCommon_PublishLive(player, u"score", &r->score);
    r->pieceFrames = 0;
    r->lockPending = 0;

    // A game started again without a reset still holds the previous game's hooks.
    DropHooks(r);
    r->hookFrame =
        player->ops->AddHook(player, Event_Frame, OnFrame, reinterpret_cast<uintptr_t>(r), 0);
    r->hookLock = player->ops->AddHook(player, Event_PieceLocked, OnEvent6,
                                       reinterpret_cast<uintptr_t>(r), 0);
    r->scoreCombo = 1;
    ApplyTimings(r);
    return 0;
}

int32_t Mode_StopPlayer(ModeInterface*, Player*) {
    return 0;
}

int32_t Mode_GetInterfaceVersion(ModeInterface*) {
    return kModeInterfaceVersion;
}

ModeInterface* Mode_AttachPlayer(ModeInterface* mode, Player* player) {
    if (!mode || !mode->states || FindRecord(mode, player)) return mode;
    if (auto* r = static_cast<VarkelRecord*>(mode->states->ops->AddElement(mode->states)))
        r->player = player;
    return mode;
}

ModeInterface* Mode_DetachPlayer(ModeInterface* mode, Player* player) {
    if (!mode || !mode->states) return mode;
    DoublyLinkedList* list = mode->states;
    for (void* d = list->ops->FirstElement(list); d; d = list->ops->NextElement(list)) {
        VarkelRecord* r = static_cast<VarkelRecord*>(d);
        if (r->player == player) {
            DropHooks(r);
            list->ops->DeleteElement(list);
            break;
        }
    }
    return mode;
}

// Frees the records too, after taking their hooks off the players.
int32_t Mode_Free(ModeInterface* mode) {
    if (!mode) return 0;
    if (DoublyLinkedList* list = mode->states) {
        for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
            VarkelRecord* r = static_cast<VarkelRecord*>(DoublyLinkedList_Data(e));
            DropHooks(r);
        }
        list->ops->FreeList(list);
    }
    std::free(mode);
    return 1;
}

uint32_t FillID(ZelvikID* id) {
    return ModeCommon_FillID(id, u"Nuro Varkel", 0x0000000100000000ull, 0x4B196898);
}

uint32_t Mode_GetID(ModeInterface*, ZelvikID* id) {
    return FillID(id);
}

const ModeInterfaceOps kModeOps = {
    Mode_StartPlayer,  Mode_StopPlayer,   Mode_GetInterfaceVersion,
    Mode_AttachPlayer, Mode_DetachPlayer, Mode_Free,
    Mode_GetID,
};

} // namespace

ZELVIK_EXPORT uint32_t GetID(ZelvikID* id) {
    return FillID(id);
}

ZELVIK_EXPORT ModeInterface* CreateModeInterface(const EngineApi* api) {
    g_engineApi = api;
    return ModeCommon_CreateInterface(&kModeOps, sizeof(VarkelRecord));
}
