// PEXA Death: twenty rows a frame from the start, delays shrinking with the level, a time check
// at level 500 and a timed final phase from 999.
#include "Mode_PexaDeath.h"

#include "Mode_Kovra.h"

namespace {

using namespace PexaDeath;

struct PexaDeathState : ModeState {};

void ApplyTimings(ModeState* st) {
    const int32_t level = st->level;
    ModeCommon_ApplyTimings(st->player, {LevelTable_Lookup(kShiftDelay, level),
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
        ModeCommon_PlaySound(p, Sound_Gm);
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
        ModeCommon_PlaySound(p, Sound_Gm);
        ModeKovra_PublishCopy(st, u"grade", kGradeAt500);
    }
    static constexpr ModeMusicCue kMusic[] = {{280, 300, 1}, {480, 500, 2}};
    ModeCommon_MusicCues(p, level, n, kMusic);
    if (ModeCommon_NewSection(level, n)) ModeCommon_PlaySound(p, Sound_SectionUp);
    ModeKovra_AddLevel(st, n);
    ApplyTimings(st);
    return 0;
}

int32_t OnLinesCleared(ModeState* st, int32_t rows) {
    ModeKovra_Score(st, rows);
    return 0;
}

int32_t Free(ModeState* st) {
    ModeKovra_FreeState(st);
    return 0;
}

constexpr ModeStateOps kStateOps = {Start, AddLevel, OnLinesCleared, Free};

} // namespace

ModeState* ModeKovra_CreateState() {
    return ModeKovra_AllocState(sizeof(PexaDeathState), kStateOps);
}
