// KOVRA1: a long READY phase, fixed timings, a grade taken from the score, a top grade earned by
// three score-and-time checkpoints and a four-frame pause after every lock.
#include "Mode_Kovra1.h"

#include "Mode_Kovra.h"

namespace {

using namespace Kovra1;

struct Kovra1State : ModeState {
    uintptr_t hookGameOver;
    int32_t gmCondition;
    int32_t grade;
};

Kovra1State* Own(ModeState* st) {
    return static_cast<Kovra1State*>(st);
}

void ApplyTimings(ModeState* st) {
    ModeCommon_ApplyTimings(st->player,
                            {kShiftDelay, kLineClearDelay, kEntryDelay, kLineEntryDelay, kLockDelay,
                             LevelTable_Lookup(PexaMaster::kGravity, st->level)});
}

void OnGameOver(Player* p, uintptr_t, uintptr_t) {
    p->GameTime += 1;
}

int32_t UpdateGrade(const Kovra1State* st) {
    if (st->gmCondition == kAllCheckpoints) return kTopGrade;
    return LevelTable_Lookup(kGradeByScore, st->score);
}

int32_t Start(ModeState* base) {
    Kovra1State* st = Own(base);
    Player* p = st->player;
    ModeKovra_DropHook(st, &st->hookGameOver, Event_GameOver);
    ModeKovra_Register(st);
    st->hookGameOver = ModeKovra_AddHook(st, Event_GameOver, OnGameOver);
    p->InputRelockMask = 0;
    st->gmCondition = 0;
    ModeKovra_PublishLive(st, u"GMCondition", &st->gmCondition);
    st->grade = 0;
    ModeKovra_PublishLive(st, u"Grade", &st->grade);
    ApplyTimings(st);
    return 0;
}

int32_t AddLevel(ModeState* base, int32_t n) {
    Kovra1State* st = Own(base);
    Player* p = st->player;
    const int32_t level = st->level;
    if (level == 999) return 0;
    const double fps = p->Settings.FramesPerSecond;
    for (const Checkpoint& c : kCheckpoints) {
        if (!Mode_Crosses(level, n, c.level)) continue;
        if (st->score >= c.score && p->GameTime <= Mode_RoundFrames(fps * c.seconds))
            st->gmCondition |= c.bit;
        if (c.level == 999) p->ops->SetTimeLimit(p, kFinalPhaseFrames, 0);
        break;
    }
    static constexpr ModeMusicCue kMusic[] = {{495, 500, 1}};
    ModeCommon_MusicCues(p, level, n, kMusic);
    if (ModeCommon_NewSection(level, n)) {
        p->GameTime -= 1;
        ModeCommon_PlaySound(p, Sound_SectionUp);
    }
    ModeKovra_AddLevel(st, n);
    ApplyTimings(st);
    return 0;
}

int32_t OnLinesCleared(ModeState* base, int32_t rows) {
    Kovra1State* st = Own(base);
    ModeKovra_Score(st, rows);
    const int32_t g = UpdateGrade(st);
    if (g != st->grade) {
        st->grade = g;
        ModeCommon_PlaySound(st->player, g == kTopGrade ? Sound_Gm : Sound_GradeUp);
    }
    return 0;
}

int32_t Free(ModeState* base) {
    Kovra1State* st = Own(base);
    ModeKovra_DropHook(st, &st->hookGameOver, Event_GameOver);
    ModeKovra_FreeState(st);
    return 0;
}

constexpr ModeStateOps kStateOps = {Start, AddLevel, OnLinesCleared, Free};

} // namespace

ModeState* ModeKovra_CreateState() {
    return ModeKovra_AllocState(sizeof(Kovra1State), kStateOps);
}
