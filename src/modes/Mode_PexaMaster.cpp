// PEXA Master: level tables, hidden grading with decay, section checks for the top grade and
// the ending (pause at 999, field clear, timed final phase, invisible blocks).
#include "Mode_PexaMaster.h"

#include "Mode_Kovra.h"

#include <cmath>

namespace {

using namespace PexaMaster;

constexpr int32_t kSections = 10;
constexpr uint32_t kAllConditions = 0x7FF;
constexpr uint32_t kFinishedBit = 0x800;

struct Section {
    int32_t fourLineClears;
    int32_t startTime;
};

struct PexaMasterState : ModeState {
    int32_t gmCondition;
    int32_t gradePoints;
    int32_t internalGrade;
    int32_t decayCountdown;
    Section sections[kSections];
    int32_t decayActive;
    uintptr_t hookOwnFrame;
    uintptr_t hookFinish;
};

PexaMasterState* Own(ModeState* st) {
    return static_cast<PexaMasterState*>(st);
}

int32_t Displayed(int32_t internalGrade) {
    return LevelTable_Lookup(kDisplayedGrade, internalGrade);
}

void ApplyTimings(ModeState* st) {
    const int32_t level = st->level;
    ModeCommon_ApplyTimings(
        st->player,
        {LevelTable_Lookup(kShiftDelay, level), LevelTable_Lookup(kLineClearDelay, level),
         LevelTable_Lookup(kEntryDelay, level), LevelTable_Lookup(kLineEntryDelay, level),
         LevelTable_Lookup(kLockDelay, level), LevelTable_Lookup(kGravity, level)});
}

void ResetDecay(PexaMasterState* st) {
    st->decayCountdown = LevelTable_Lookup(kDecayFrames, st->internalGrade);
    st->decayActive = 0;
}

void SetCellFlags(FieldCell* cell, uintptr_t bits) {
    cell->flags |= static_cast<uint32_t>(bits);
}
void ClearCellFlags(FieldCell* cell, uintptr_t bits) {
    cell->flags &= ~static_cast<uint32_t>(bits);
}

void OnFrame(Player* p, uintptr_t, uintptr_t userdata) {
    PexaMasterState* st = reinterpret_cast<PexaMasterState*>(userdata);
    if (st->decayActive) {
        st->decayCountdown -= 1;
        if (st->decayCountdown <= 0) {
            st->gradePoints -= 1;
            ResetDecay(st);
        }
    }
    // Points drain only while a piece is in play, no chain runs and there is something to lose.
    st->decayActive = st->gradeCombo == 1 &&
                              (p->State == State_Falling || p->State == State_Landed) &&
                              st->gradePoints != 0
                          ? 1
                          : 0;

    if (st->level == 999 && !(p->PlayerFlags & Flag_TimeLimitActive) &&
        p->State == State_EntryDelay) {
        p->State = State_ModePause;
        p->StateTimer = 0;
    }
    Field* f = p->Field;
    if ((p->PlayerFlags & Flag_TimeLimitActive) &&
        (static_cast<uint32_t>(st->gmCondition) & kAllConditions) == kAllConditions &&
        !(st->gmCondition & kFinishedBit) && f) {
        // Every frame, so pieces locked in the final phase vanish at once.
        f->ops->ForEachCell(f, 0, SetCellFlags, CellFlag_NotDrawn);
    }
    if (p->State == State_ModePause) {
        p->StateTimer += 1;
        if (p->StateTimer > kPauseFrames) {
            if (f) f->ops->Clear(f);
            p->State = State_EntryDelay;
            p->ops->SetTimeLimit(p, kFinalPhaseFrames, 0);
        }
    }
}

void OnFinish(Player* p, uintptr_t, uintptr_t userdata) {
    PexaMasterState* st = reinterpret_cast<PexaMasterState*>(userdata);
    if (Field* f = p->Field) f->ops->ForEachCell(f, 0, ClearCellFlags, CellFlag_NotDrawn);
    st->gmCondition |= kFinishedBit;
    if ((st->gmCondition & 0xFFF) == 0xFFF) {
        ModeKovra_PublishCopy(st, u"grade", kTopGrade);
        ModeCommon_PlaySound(p, Sound_Gm);
    }
}

int32_t Start(ModeState* base) {
    PexaMasterState* st = Own(base);
    Player* p = st->player;
    ModeKovra_DropHook(st, &st->hookOwnFrame, Event_Frame);
    ModeKovra_DropHook(st, &st->hookFinish, Event_Finished);
    ModeKovra_Register(st);
    st->hookOwnFrame = ModeKovra_AddHook(st, Event_Frame, OnFrame);
    st->hookFinish = ModeKovra_AddHook(st, Event_Finished, OnFinish);
    p->InputRelockMask = 0;
    st->gradeCombo = 1;
    // A new game on an old state starts its sections and decay afresh.
    for (Section& s : st->sections) s = {};
    st->decayActive = 0;
    st->internalGrade = 0;
    ModeKovra_PublishLive(st, u"InternalGrade", &st->internalGrade);
    st->gradePoints = 0;
    ModeKovra_PublishLive(st, u"InternalGradePoints", &st->gradePoints);
    st->decayCountdown = 125;
    ModeKovra_PublishLive(st, u"InternalGradePoints_DecayCountdown", &st->decayCountdown);
    st->gmCondition = 0;
    ModeKovra_PublishLive(st, u"GMCondition", &st->gmCondition);
    ApplyTimings(st);
    return 0;
}

// Section checks at the hundreds and at 999; only one applies per step.
bool CheckSections(PexaMasterState* st, int32_t n) {
    Player* p = st->player;
    const double fps = p->Settings.FramesPerSecond;
    const int32_t level = st->level;
    const int32_t now = p->GameTime;
    for (int32_t s = 0; s < 9; s++) {
        if (!Mode_Crosses(level, n, (s + 1) * 100)) continue;
        const int32_t elapsed = now - st->sections[s].startTime;
        bool met;
        if (s <= 4) {
            met = elapsed <= Mode_RoundFrames(fps * 65) && st->sections[s].fourLineClears >= 2;
        } else if (s == 5) {
            // The average of the first five sections plus two seconds.
            met = elapsed <= Mode_RoundFrames(fps * 2 + st->sections[5].startTime / 5) &&
                  st->sections[5].fourLineClears >= 1;
        } else {
            // The previous section's time plus two seconds.
            met = elapsed <= Mode_RoundFrames(fps * 2 + st->sections[s].startTime -
                                              st->sections[s - 1].startTime) &&
                  st->sections[s].fourLineClears >= 1;
        }
        if (met) st->gmCondition |= 1 << s;
        st->sections[s + 1].startTime = now;
        return false;
    }
    if (Mode_Crosses(level, n, 999)) {
        const int32_t elapsed = now - st->sections[9].startTime;
        if (elapsed <=
            Mode_RoundFrames(fps * 2 + st->sections[9].startTime - st->sections[8].startTime))
            st->gmCondition |= 1 << 9;
        if (st->internalGrade >= 31 && now <= Mode_RoundFrames(fps * 525))
            st->gmCondition |= 1 << 10;
        ModeCommon_PlaySound(p, Sound_Gm);
        st->level = 999;
        p->PlayerFlags |= Flag_TimerStopped;
        return true;
    }
    return false;
}

int32_t AddLevel(ModeState* base, int32_t n) {
    PexaMasterState* st = Own(base);
    Player* p = st->player;
    if (st->level == 999) return 0;
    if (CheckSections(st, n)) return 0;
    const int32_t level = st->level;
    static constexpr ModeMusicCue kMusic[] = {{495, 500, 1}, {695, 700, 2}};
    ModeCommon_MusicCues(p, level, n, kMusic);
    if (ModeCommon_NewSection(level, n)) ModeCommon_PlaySound(p, Sound_SectionUp);
    ModeKovra_AddLevel(st, n);
    ApplyTimings(st);
    return 0;
}

int32_t OnLinesCleared(ModeState* base, int32_t rows) {
    PexaMasterState* st = Own(base);
    Player* p = st->player;
    if (rows == 4 && st->level >= 0 && st->level / 100 < kSections)
        st->sections[st->level / 100].fourLineClears += 1;
    const int32_t combo = st->gradeCombo;
    ModeKovra_Score(st, rows);

    const int32_t basePoints = BasePoints(rows, st->internalGrade);
    if (basePoints > 0) {
        // Single precision throughout, as the factors are; a double product could round up.
        const float product = static_cast<float>(basePoints) * ComboFactor(combo, rows);
        const int32_t points =
            static_cast<int32_t>(std::ceil(product)) * LevelTable_Lookup(kLevelFactor, st->level);
        st->gradePoints += points;
    }
    if (st->gradePoints >= 100) {
        if (Displayed(st->internalGrade) != Displayed(st->internalGrade + 1))
            ModeCommon_PlaySound(p, Sound_GradeUp);
        st->internalGrade += 1;
        st->gradePoints = 0;
        ResetDecay(st);
    }
    ModeKovra_PublishCopy(st, u"grade", Displayed(st->internalGrade));
    p->InputRelockMask = st->level > 700 ? uint32_t{Input_SoftDrop} : 0u;
    return 0;
}

int32_t Free(ModeState* base) {
    PexaMasterState* st = Own(base);
    ModeKovra_DropHook(st, &st->hookOwnFrame, Event_Frame);
    ModeKovra_DropHook(st, &st->hookFinish, Event_Finished);
    ModeKovra_FreeState(st);
    return 0;
}

constexpr ModeStateOps kStateOps = {Start, AddLevel, OnLinesCleared, Free};

} // namespace

ModeState* ModeKovra_CreateState() {
    return ModeKovra_AllocState(sizeof(PexaMasterState), kStateOps);
}
