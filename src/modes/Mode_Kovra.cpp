#include "Mode_Kovra.h"

#include "DoublyLinkedList.h"
#include "Mode_Tables.h"

#include <cstdlib>
#include <cstring>

namespace {

// The last caller's table; the engine passes the same one every time.
const EngineApi* g_engineApi = nullptr;

constexpr int32_t kSirenRows = 5;
constexpr int32_t kSirenCells = 10; // more blocked cells than this in the top rows start it
constexpr int32_t kRecoverArm = 150;
constexpr int32_t kRecoverDone = 70;

// Raises a medal to `value` when that is higher, with the medal sound.
void RaiseMedal(ModeState* st, int32_t* medal, int32_t value) {
    if (*medal >= value) return;
    *medal = value;
    ModeCommon_PlaySound(st->player, Sound_Medal);
}

void OnFrame(Player* p, uintptr_t, uintptr_t userdata) {
    ModeState* st = reinterpret_cast<ModeState*>(userdata);
    st->pieceFrames += 1;
    p->InputDisabled = 0;
    if (st->pieceFrames == 2) {
        // The second frame of a piece ignores both drops and keeps the shift charge.
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
        p->InputDisabled = Input_HardDrop | Input_SoftDrop;
    } else if (p->State == State_EntryDelay && p->StateEntered == 0 && p->StateTimer == 3) {
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
        st->pieceFrames = 0;
        if (st->level % 100 != 99 && st->level != 998) st->methods->AddLevel(st, 1);
    } else if (st->lockPending) {
        st->lockPending = 0;
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
        if constexpr (!kKovraBuild.deferredLock) st->methods->OnLinesCleared(st, st->lastLockRows);
    } else if (p->State == State_LineClear) {
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
    } else if (kKovraBuild.deferredLock && p->State == State_Ready) {
        p->PlayerFlags |= Flag_ShiftCounterFrozen;
    } else {
        p->PlayerFlags &= ~Flag_ShiftCounterFrozen;
    }

    if constexpr (kKovraBuild.deferredLock) {
        // The lock pause: the mode, not the engine, picks the state after it.
        if (p->State == State_ModeLockPause) {
            p->StateTimer += 1;
            if (p->StateTimer > 3) {
                st->methods->OnLinesCleared(st, st->lastLockRows);
                if (p->State == State_ModeLockPause) {
                    if (st->lastLockRows != 0) {
                        p->State = State_LineClear;
                        p->StateEntered = 1;
                    } else {
                        p->State = State_EntryDelay;
                        p->LastClearRows = 0;
                        p->StateEntered = 1;
                    }
                }
            }
        }
    }

    ModeCommon_ChargeShiftInDelay(p);
}

// A new piece keeps its full lock delay on its spawn frame and carries no fall progress out of it.
void OnEvent5(Player* p, uintptr_t, uintptr_t) {
    if (!(p->PlayerFlags & Flag_SpawnedThisFrame)) return;
    p->GravityAccumulator = 0;
    if (p->ops->TestMove(p, 0, 1, 0) == 1) p->LockTimer += 1;
}

void UpdateSiren(ModeState* st) {
    Player* p = st->player;
    ClientInterface* ci = ModeCommon_Client(p);
    Field* f = p->Field;
    if (!ci || !f) return;
    const int32_t width = f->ops->GetWidth(f);
    int32_t count = 0;
    for (int32_t x = 0; x < width && count <= kSirenCells; x++) {
        for (int32_t y = 0; y < kSirenRows; y++) {
            if (f->ops->IsBlocked(f, x, y)) count++;
            if (count > kSirenCells) break;
        }
    }
    if (count > kSirenCells) {
        if (!st->alarmOn) {
            ci->ops->PlaySound(ci, Sound_Siren); // the client loops it
            st->alarmOn = 1;
        }
    } else if (st->alarmOn) {
        ci->ops->StopSound(ci, Sound_Siren);
        st->alarmOn = 0;
    }
}

void OnEvent6(Player* p, uintptr_t rowsPointer, uintptr_t userdata) {
    ModeState* st = reinterpret_cast<ModeState*>(userdata);
    st->lockPending = 1;
    st->lastLockRows = rowsPointer ? *reinterpret_cast<const int32_t*>(rowsPointer) : 0;
    if constexpr (kKovraBuild.deferredLock) {
        p->State = State_ModeLockPause;
        p->StateTimer = 0;
    }
    UpdateSiren(st);
}

ModeState* FindState(ModeInterface* mode, Player* player) {
    if (!mode || !mode->states) return nullptr;
    for (DoublyLinkedListElement* e = mode->states->First; e; e = e->Next) {
        ModeState* st = *static_cast<ModeState**>(DoublyLinkedList_Data(e));
        if (st && st->player == player) return st;
    }
    return nullptr;
}

// ---- ModeInterface operations ----

int32_t Mode_StartPlayer(ModeInterface* mode, Player* player) {
    if (!player) return 0;
    ModeCommon_FitField(g_engineApi, player);
    if (ModeState* st = FindState(mode, player)) st->methods->Start(st);
    return 0;
}

int32_t Mode_StopPlayer(ModeInterface* mode, Player* player) {
    if (ModeState* st = FindState(mode, player)) ModeKovra_StopAlarm(st);
    return 0;
}

int32_t Mode_GetInterfaceVersion(ModeInterface*) {
    return kModeInterfaceVersion;
}

ModeInterface* Mode_AttachPlayer(ModeInterface* mode, Player* player) {
    if (!mode || FindState(mode, player)) return mode;
    ModeState* st = ModeKovra_CreateState();
    if (!st) return mode;
    st->player = player;
    void* slot = mode->states ? mode->states->ops->AddElement(mode->states) : nullptr;
    if (!slot) {
        st->methods->Free(st);
        return mode;
    }
    std::memcpy(slot, &st, sizeof st);
    return mode;
}

ModeInterface* Mode_DetachPlayer(ModeInterface* mode, Player* player) {
    if (!mode || !mode->states) return mode;
    DoublyLinkedList* list = mode->states;
    for (void* d = list->ops->FirstElement(list); d; d = list->ops->NextElement(list)) {
        ModeState* st = *static_cast<ModeState**>(d);
        if (st && st->player == player) {
            st->methods->Free(st);
            list->ops->DeleteElement(list);
            break;
        }
    }
    return mode;
}

int32_t Mode_Free(ModeInterface* mode) {
    if (!mode) return 0;
    if (DoublyLinkedList* list = mode->states) {
        for (DoublyLinkedListElement* e = list->First; e; e = e->Next) {
            ModeState* st = *static_cast<ModeState**>(DoublyLinkedList_Data(e));
            if (st) st->methods->Free(st);
        }
        list->ops->FreeList(list);
    }
    std::free(mode);
    return 1;
}

uint32_t FillID(ZelvikID* id) {
    return ModeCommon_FillID(id, kKovraBuild.name, kModeKovraVersion, kKovraBuild.buildStamp);
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

// ---- helpers shared with the mode units ----

uintptr_t ModeKovra_AddHook(ModeState* state, uint32_t event, PlayerHookCallback callback) {
    Player* p = state->player;
    return p->ops->AddHook(p, event, callback, reinterpret_cast<uintptr_t>(state), 0);
}

void ModeKovra_DropHook(ModeState* state, uintptr_t* handle, uint32_t) {
    ModeCommon_DropHook(state->player, handle);
}

void ModeKovra_PublishLive(ModeState* state, const char16_t* key, int32_t* field) {
    ModeCommon_PublishLive(state->player, key, field);
}

void ModeKovra_PublishCopy(ModeState* state, const char16_t* key, int32_t value) {
    Player* p = state->player;
    p->ops->SetValue(p, key, 0, &value, sizeof(int32_t), 0);
}

// The frame's hooks and siren, gone before a new game and when the state goes.
static void RemoveFrameHooks(ModeState* st) {
    ModeKovra_DropHook(st, &st->hookFrame, Event_Frame);
    ModeKovra_DropHook(st, &st->hookGravity, Event_AfterGravity);
    ModeKovra_DropHook(st, &st->hookLock, Event_PieceLocked);
    ModeKovra_StopAlarm(st);
}

ModeState* ModeKovra_AllocState(size_t size, const ModeStateOps& ops) {
    ModeState* st = static_cast<ModeState*>(std::calloc(1, size));
    if (!st) return nullptr;
    st->methods = static_cast<ModeStateOps*>(std::calloc(1, sizeof(ModeStateOps)));
    if (!st->methods) {
        std::free(st);
        return nullptr;
    }
    *st->methods = ops;
    return st;
}

void ModeKovra_FreeState(ModeState* state) {
    if (!state) return;
    RemoveFrameHooks(state);
    std::free(state->methods);
    std::free(state);
}

void ModeKovra_StopAlarm(ModeState* state) {
    if (!state->alarmOn) return;
    if (ClientInterface* ci = ModeCommon_Client(state->player)) {
        ci->ops->StopSound(ci, Sound_Siren);
        state->alarmOn = 0;
    }
}

void ModeKovra_Register(ModeState* st) {
    Player* p = st->player;
    // A game started again without a reset still holds the previous game's hooks.
    RemoveFrameHooks(st);

    st->hookFrame = ModeKovra_AddHook(st, Event_Frame, OnFrame);
    st->hookGravity = ModeKovra_AddHook(st, Event_AfterGravity, OnEvent5);
    st->hookLock = ModeKovra_AddHook(st, Event_PieceLocked, OnEvent6);

    // Per-game fields: a new game on an old state must not score the old game's last lock.
    st->lockPending = 0;
    st->lastLockRows = 0;
    st->pieceFrames = 0;

    st->scoreCombo = 1;
    st->level = 0;
    ModeKovra_PublishLive(st, u"level", &st->level);
    st->levelStop = 100;
    ModeKovra_PublishLive(st, u"levelstop", &st->levelStop);
    st->score = 0;
    ModeKovra_PublishLive(st, u"score", &st->score);
    st->alarmOn = 0;
    st->medalAllClear = kMedalNone;
    ModeKovra_PublishLive(st, u"medal_ac", &st->medalAllClear);
    st->medalRotation = kMedalNone;
    ModeKovra_PublishLive(st, u"medal_ro", &st->medalRotation);
    st->medalSteps = kMedalNone;
    ModeKovra_PublishLive(st, u"medal_st", &st->medalSteps);
    st->medalSkill = kMedalNone;
    ModeKovra_PublishLive(st, u"medal_sk", &st->medalSkill);
    st->medalRecover = kMedalNone;
    ModeKovra_PublishLive(st, u"medal_re", &st->medalRecover);
    st->medalCombo = kMedalNone;
    ModeKovra_PublishLive(st, u"medal_co", &st->medalCombo);

    p->Settings.FramesPerSecond = 60.0;
    p->Settings.SoftDropSpeed = 256;
    p->Settings.StepOrder = 0;
    p->PreviewCount = kKovraBuild.previewCount;
    p->Settings.ReadyTime = kKovraBuild.readyTime;
    p->PlayerFlags |= kKovraBuild.registerFlags;

    ModeCommon_PlayMusic(p, 0);
}

void ModeKovra_AddLevel(ModeState* st, int32_t levels) {
    if constexpr (MODE_KOVRA_BUILD == MODE_KOVRA_KOVRA1) {
        if (Mode_Crosses(st->level, levels, 999)) st->player->GameTime += 1;
    }
    st->level += levels;
    if (st->level > 999) st->level = 999;
    st->levelStop = (st->level / 100 + 1) * 100;
    if (st->levelStop > 999) st->levelStop = 999;
}

void ModeKovra_Score(ModeState* st, int32_t rows) {
    Player* p = st->player;
    Field* f = p->Field;

    st->scoreCombo = ModeCommon_NextScoreCombo(st->scoreCombo, rows);
    const ModeDropTerms terms = ModeCommon_DropTerms(p);
    const int32_t soft = terms.soft;
    int32_t sonic = terms.sonic, speed = terms.speed;
    if constexpr (kKovraBuild.scaleDrops) {
        sonic *= 2;
        speed *= 7;
    }
    const bool fieldEmpty = f && (f->state & FieldState_AllClear);
    const int32_t bravo = kKovraBuild.bravo && fieldEmpty ? 4 : 1;

    ModeKovra_PublishCopy(st, u"score_combo", st->scoreCombo);
    ModeKovra_PublishCopy(st, u"score_soft", soft);
    ModeKovra_PublishCopy(st, u"score_sonic", sonic);
    ModeKovra_PublishCopy(st, u"score_speed", speed);
    ModeKovra_PublishCopy(st, u"score_bravo", bravo);

    const bool scoring = !(p->PlayerFlags & Flag_TimeLimitActive);
    if (scoring) {
        const int64_t drops = kKovraBuild.sonicInScore ? int64_t{soft} + sonic : int64_t{soft};
        const int64_t base = Mode_CeilDiv(st->level + rows, 4) + drops;
        st->score = Mode_AddScore(st->score, base * rows * st->scoreCombo * bravo);
    }

    if (rows == 0)
        st->gradeCombo = 1;
    else if (rows >= 2)
        st->gradeCombo += 1;

    if (fieldEmpty && st->medalAllClear < 2) {
        ModeCommon_PlaySound(p, Sound_Medal);
        st->medalAllClear += 1;
    }

    if (rows == 4) {
        st->fourLineClears += 1;
        for (int32_t i = 0; i < 3; i++) {
            if (st->fourLineClears >= kKovraBuild.fourRowMedal[i]) {
                RaiseMedal(st, &st->medalSkill, 2 - i);
                break;
            }
        }
    }

    if (f) {
        int32_t cells = 0;
        const int32_t width = f->ops->GetWidth(f);
        const int32_t height = f->ops->GetHeight(f);
        for (int32_t y = -f->ops->GetHiddenRows(f); y < height; y++) {
            for (int32_t x = 0; x < width; x++) {
                const FieldCell* c = f->ops->GetCell(f, x, y);
                if (c && c->block) cells++;
            }
        }
        if (cells >= kRecoverArm) {
            st->recoverArmed = 1;
        } else if (st->recoverArmed && cells <= kRecoverDone) {
            st->recoveries += 1;
            if (st->recoveries >= 4)
                RaiseMedal(st, &st->medalRecover, 2);
            else if (st->recoveries >= 2)
                RaiseMedal(st, &st->medalRecover, 1);
            else if (st->recoveries == 1)
                RaiseMedal(st, &st->medalRecover, 0);
            st->recoverArmed = 0;
        }
    }

    if constexpr (kKovraBuild.comboMedal) {
        if (st->gradeCombo == 7)
            RaiseMedal(st, &st->medalCombo, 2);
        else if (st->gradeCombo == 5)
            RaiseMedal(st, &st->medalCombo, 1);
        else if (st->gradeCombo == 4)
            RaiseMedal(st, &st->medalCombo, 0);
    }

    const int32_t step = rows >= 0 && rows <= 4 ? kKovraBuild.levelStep[rows] : rows;
    st->methods->AddLevel(st, step);

    if constexpr (kKovraBuild.levelBonus) {
        // The level step may have started a time limit (the 999 crossing of PEXA Death).
        if (rows > 0 && !(p->PlayerFlags & Flag_TimeLimitActive))
            st->score = Mode_AddScore(st->score, int64_t{Mode_CeilDiv(st->level, 2)} + speed);
    }
}

// ---- exports ----

ZELVIK_EXPORT uint32_t GetID(ZelvikID* id) {
    return FillID(id);
}

ZELVIK_EXPORT ModeInterface* CreateModeInterface(const EngineApi* api) {
    g_engineApi = api;
    return ModeCommon_CreateInterface(&kModeOps, sizeof(ModeState*));
}
