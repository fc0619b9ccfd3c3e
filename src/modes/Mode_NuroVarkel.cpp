// Nuro Varkel: a high-speed mode without the common mode frame. It keeps one plain record per
// player, scores inside the lock event and changes its timings only at locks.
#include "Mode_NuroVarkel.h"

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

ClientInterface* ClientOf(Player* p) {
    return p->Game ? p->Game->clientInterface : nullptr;
}

VarkelRecord* FindRecord(ModeInterface* mode, Player* player) {
    if (!mode || !mode->states) return nullptr;
    for (DoublyLinkedListElement* e = mode->states->First; e; e = e->Next) {
        VarkelRecord* r = static_cast<VarkelRecord*>(DoublyLinkedList_Data(e));
        if (r->player == player) return r;
    }
    return nullptr;
}

// After a reset the player has already deleted the hook; removing it again finds nothing.
void DropHook(VarkelRecord* r, uintptr_t* handle, uint32_t) {
    if (!*handle) return;
    if (Player* p = r->player) p->ops->RemoveHook(p, *handle);
    *handle = 0;
}

void ApplyTimings(VarkelRecord* r) {
    PlayerSettings& s = r->player->Settings;
    const int32_t level = TableLevel(r->level);
    s.ShiftDelay = LevelTable_Lookup(kShiftDelay, level);
    s.LineClearDelay = LevelTable_Lookup(kLineClearDelay, level);
    s.EntryDelay = LevelTable_Lookup(kEntryDelay, level);
    s.LineEntryDelay = LevelTable_Lookup(kLineEntryDelay, level);
    s.LockDelay = LevelTable_Lookup(kLockDelay, level);
    s.Gravity = kGravity;
}

void AddLevel(VarkelRecord* r, int32_t n) {
    if (ClientInterface* ci = ClientOf(r->player)) {
        if (Mode_Crosses(r->level, n, 290)) ci->ops->StopMusic(ci);
        if (Mode_Crosses(r->level, n, 300)) ci->ops->PlayMusic(ci, 1);
        if (r->level / 100 != (r->level + n) / 100) ci->ops->PlaySound(ci, Sound_SectionUp);
    }
    r->level = Mode_AddScore(r->level, n);
    r->levelStop = (r->level / 100 + 1) * 100;
}

void OnLock(Player* p, int32_t rows, VarkelRecord* r) {
    if (rows == 0)
        r->scoreCombo = 1;
    else if (rows >= 2)
        r->scoreCombo += 2 * rows - 2;

    int32_t soft = 0, sonic = 0, speed = 0;
    DoublyLinkedList* records = p->PieceRecords;
    if (records && records->Last) {
        const PieceRecord* rec =
            static_cast<const PieceRecord*>(DoublyLinkedList_Data(records->Last));
        soft = static_cast<int32_t>(rec->softDropFrames);
        sonic = static_cast<int32_t>(rec->greatestHardDrop);
        speed = p->Settings.LockDelay - static_cast<int32_t>(rec->activeFrames);
        if (speed < 0) speed = 0;
    }
    const int64_t base = Mode_CeilDiv(r->level + rows, 4) + int64_t{soft} + sonic;
    r->score = Mode_AddScore(r->score, base * rows * r->scoreCombo);

    static constexpr int32_t kStepByRows[5] = {0, 1, 2, 4, 6};
    const int32_t step = rows >= 0 && rows <= 4 ? kStepByRows[rows] : 0;
    if (step) AddLevel(r, step);

    r->score = Mode_AddScore(r->score, int64_t{Mode_CeilDiv(r->level, 2)} + speed);
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
    if (p->State == State_EntryDelay)
        p->PlayerFlags |= Flag_ShiftChargesInDelay;
    else
        p->PlayerFlags &= ~Flag_ShiftChargesInDelay;
}

void Publish(Player* p, const char16_t* key, int32_t* field) {
    p->ops->SetValue(p, key, 0, field, sizeof(int32_t), kValueCallerMemory);
}

// ---- ModeInterface operations ----

int32_t Mode_StartPlayer(ModeInterface* mode, Player* player) {
    if (!player) return 0;
    VarkelRecord* r = FindRecord(mode, player);
    Field* f = player->ops->GetField(player);
    if (f && !(f->ops->GetWidth(f) == 10 && f->ops->GetHeight(f) == 20 &&
               f->ops->GetHiddenRows(f) >= 2)) {
        // Other players may share the field: it goes only with its last player.
        player->ops->SetField(player, nullptr);
        if (!f->players || f->players->ops->CountList(f->players) == 0) f->ops->Free(f);
    }
    if (!player->ops->GetField(player) && g_engineApi && g_engineApi->Field_Create) {
        if (Field* created = g_engineApi->Field_Create(10, 20, 2))
            player->ops->SetField(player, created);
    }
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
    Publish(player, u"level", &r->level);
    r->levelStop = 100;
    Publish(player, u"levelstop", &r->levelStop);
    r->score = 0;
    Publish(player, u"score", &r->score);
    r->pieceFrames = 0;
    r->lockPending = 0;

    // A game started again without a reset still holds the previous game's hooks.
    DropHook(r, &r->hookFrame, Event_Frame);
    DropHook(r, &r->hookLock, Event_PieceLocked);
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
            DropHook(r, &r->hookFrame, Event_Frame);
            DropHook(r, &r->hookLock, Event_PieceLocked);
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
            DropHook(r, &r->hookFrame, Event_Frame);
            DropHook(r, &r->hookLock, Event_PieceLocked);
        }
        list->ops->FreeList(list);
    }
    std::free(mode);
    return 1;
}

void CopyText(char16_t* out, size_t capacity, const char16_t* text) {
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; i++) out[i] = text[i];
    for (; i < capacity; i++) out[i] = 0;
}

uint32_t FillID(ZelvikID* id) {
    if (!id || id->size != sizeof(ZelvikID)) return 0;
    id->kind = PluginKind_Mode;
    CopyText(id->name, 32, u"Nuro Varkel");
    CopyText(id->author, 32, u"Pemlow");
    id->version = 0x0000000100000000ull;
    id->build = 0x4B196898;
    return 1;
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
    ModeInterface* mode = static_cast<ModeInterface*>(std::calloc(1, sizeof(ModeInterface)));
    if (!mode) return nullptr;
    mode->ops = &kModeOps;
    mode->states = DoublyLinkedList_Create(sizeof(VarkelRecord));
    if (!mode->states) {
        std::free(mode);
        return nullptr;
    }
    return mode;
}
