// PEXA Death: twenty rows a frame from the start, delays shrinking with the level, a time check
// at level 500 and a timed final phase from 999.
#include "Mode_PexaDeath.h"

#include "Mode_Kovra.h"

namespace {

using namespace PexaDeath;

struct PexaDeathState : ModeState {};

void ApplyTimings(ModeState* st) {
    const int32_t level = st->level;
    ModeKovra_ApplyTimings(st->player, {LevelTable_Lookup(kShiftDelay, level),
                                        LevelTable_Lookup(kLineClearDelay, level),
                                        LevelTable_Lookup(kEntryDelay, level),
                                        LevelTable_Lookup(kLineEntryDelay, level),
                                        LevelTable_Lookup(kLockDelay, level), kGravity});
}

int32_t Start(ModeState* st) {
    ModeKovra_Register(st);
    st->player->InputRelockMask = Input_SoftDrop;
    ApplyTimings(st);
    return 0;
}

int32_t AddLevel(ModeState* st, int32_t n) {
    Player* p = st->player;
    const int32_t level = st->level;
    if (level == 999) return 0;
    if (Mode_Crosses(level, n, 999)) {
        ModeKovra_PlaySound(p, Sound_Gm);
        ModeKovra_PublishCopy(st, u"grade", kGradeAt999);
        st->level = 999;
        p->ops->SetTimeLimit(p, kFinalPhaseFrames, 0);
        return 0;
    }
    if (Mode_Crosses(level, n, 500)) {
        if (p->FrameCounter > static_cast<uint32_t>(Mode_RoundFrames(p->Settings.FramesPerSecond *
                                                                     kLevel500Seconds))) {
            st->level = 500;
            p->ops->GameOver(p, 1);
            return 0;
        }
        ModeKovra_PlaySound(p, Sound_Gm);
        ModeKovra_PublishCopy(st, u"grade", kGradeAt500);
    }
    if (ModeKovra_Client(p)) {
        if (Mode_Crosses(level, n, 280)) ModeKovra_StopMusic(p);
        if (Mode_Crosses(level, n, 300)) ModeKovra_PlayMusic(p, 1);
        if (Mode_Crosses(level, n, 480)) ModeKovra_StopMusic(p);
        if (Mode_Crosses(level, n, 500)) ModeKovra_PlayMusic(p, 2);
        if (level / 100 != (level + n) / 100) ModeKovra_PlaySound(p, Sound_SectionUp);
    }
    ModeKovra_AddLevel(st, n);
    ApplyTimings(st);
    return 0;
}

int32_t OnLinesCleared(ModeState* st, int32_t rows) {
    ModeKovra_Score(st, rows);
    return 0;
}

int32_t Free(ModeState* st) {
    ModeKovra_Unregister(st);
    ModeKovra_FreeState(st);
    return 0;
}

constexpr ModeStateOps kStateOps = {Start, AddLevel, OnLinesCleared, Free};

} // namespace

ModeState* ModeKovra_CreateState() {
    return ModeKovra_AllocState(sizeof(PexaDeathState), kStateOps);
}
