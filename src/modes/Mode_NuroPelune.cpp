// Nuro Pelune: twenty prepared stages with target blocks, played against a count-down clock that
// grows with every target block cleared; hold is allowed, also during READY.
#include "Mode_NuroPelune.h"

#include "Mode_Kovra.h"
#include "Zelvik_RotationSystem.h"

namespace {

using namespace NuroPelune;

constexpr uint32_t kHoldKey = Input_Hold;

struct NuroPeluneState : ModeState {
    int32_t stage;
    uintptr_t hookCollapse;
    uintptr_t hookOwnFrame;
};

NuroPeluneState* Own(ModeState* st) {
    return static_cast<NuroPeluneState*>(st);
}

void ApplyTimings(ModeState* st) {
    ModeCommon_ApplyTimings(st->player, {kShiftDelay, kLineClearDelay, kEntryDelay, kLineEntryDelay,
                                         kLockDelay, LevelTable_Lookup(kGravity, st->level)});
}

// The table's ARGB colour in the byte order of the pieces' cell data (red in the low byte), which
// is what the client paints with.
constexpr uint32_t CellColour(uint32_t argb) {
    return ((argb >> 16) & 0xFFu) | (argb & 0xFF00u) | ((argb & 0xFFu) << 16);
}

// 1 when the stage was loaded; a stage outside 1-20 leaves the field untouched.
int32_t LoadStage(NuroPeluneState* st) {
    if (st->stage < 1 || st->stage > kStageCount) return 0;
    Field* f = st->player->Field;
    if (!f) return 0;
    f->ops->Clear(f);
    const StageLayout& layout = kStages[st->stage - 1];
    for (int32_t y = 0; y < kStageHeight; y++) {
        for (int32_t x = 0; x < kStageWidth; x++) {
            const StageCell& c = layout[y * kStageWidth + x];
            if (c.colour)
                f->ops->SetCell(f, x, y, 1, CellColour(c.colour), uint32_t{c.marker} << 7);
        }
    }
    return 1;
}

void FreeHeldPiece(Player* p) {
    if (!p->HoldPiece) return;
    if (RotationSystemInterface* rs = p->RotationSystem) rs->ops->FreePiece(rs, p->HoldPiece);
    p->HoldPiece = nullptr;
}

bool TargetsLeft(Field* f) {
    const int32_t width = f->ops->GetWidth(f);
    const int32_t height = f->ops->GetHeight(f);
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
            const FieldCell* c = f->ops->GetCell(f, x, y);
            if (c && c->block && (c->flags & kTargetFlag)) return true;
        }
    }
    return false;
}

void OnCollapse(Player* p, uintptr_t, uintptr_t userdata) {
    NuroPeluneState* st = reinterpret_cast<NuroPeluneState*>(userdata);
    Field* f = p->Field;
    if (!f || TargetsLeft(f)) return;
    st->stage += 1;
    if (!LoadStage(st)) return; // after the last stage play goes on as it is
    p->State = State_Ready;
    p->StateEntered = 1;
    FreeHeldPiece(p);
    st->level = 0;
    st->levelStop = 100;
    st->methods->AddLevel(st, 0);
}

void OnFrame(Player* p, uintptr_t, uintptr_t) {
    if (p->State != State_Ready) return;
    // The frame's input is not masked yet: the new press is read from the raw input.
    if (!(p->InputRead & kHoldKey) || (p->PreviousInput & kHoldKey)) return;
    FreeHeldPiece(p);
    p->HoldPiece = p->NextQueue[0];
    p->NextQueue[0] = nullptr;
    p->ops->FillNextQueue(p);
}

int32_t Start(ModeState* base) {
    NuroPeluneState* st = Own(base);
    Player* p = st->player;
    ModeKovra_DropHook(st, &st->hookCollapse, Event_RowsCollapsed);
    ModeKovra_DropHook(st, &st->hookOwnFrame, Event_Frame);
    ModeKovra_Register(st);
    st->stage = 1;
    LoadStage(st);
    p->GameTime = Mode_RoundFrames(p->Settings.FramesPerSecond * kStartSeconds);
    p->PlayerFlags |= Flag_TimerCountsDown;
    st->hookCollapse = ModeKovra_AddHook(st, Event_RowsCollapsed, OnCollapse);
    st->hookOwnFrame = ModeKovra_AddHook(st, Event_Frame, OnFrame);
    ApplyTimings(st);
    return 0;
}

int32_t AddLevel(ModeState* st, int32_t n) {
    ModeKovra_AddLevel(st, n);
    ApplyTimings(st);
    return 0;
}

int32_t OnLinesCleared(ModeState* base, int32_t rows) {
    NuroPeluneState* st = Own(base);
    Player* p = st->player;
    ModeKovra_Score(st, rows);
    // One second for every target block in the rows of this lock (not yet emptied).
    Field* f = p->Field;
    if (!f) return 0;
    int32_t targets = 0;
    const int32_t width = f->ops->GetWidth(f);
    const int32_t height = f->ops->GetHeight(f);
    for (int32_t y = 0; y < height; y++) {
        for (int32_t x = 0; x < width; x++) {
            const FieldCell* c = f->ops->GetCell(f, x, y);
            if (c && c->block && (c->flags & kTargetFlag) && (c->flags & CellFlag_RowFull))
                targets++;
        }
    }
    p->GameTime += Mode_RoundFrames(targets * p->Settings.FramesPerSecond);
    return 0;
}

int32_t Free(ModeState* base) {
    NuroPeluneState* st = Own(base);
    ModeKovra_DropHook(st, &st->hookCollapse, Event_RowsCollapsed);
    ModeKovra_DropHook(st, &st->hookOwnFrame, Event_Frame);
    ModeKovra_FreeState(st);
    return 0;
}

constexpr ModeStateOps kStateOps = {Start, AddLevel, OnLinesCleared, Free};

} // namespace

ModeState* ModeKovra_CreateState() {
    return ModeKovra_AllocState(sizeof(NuroPeluneState), kStateOps);
}
