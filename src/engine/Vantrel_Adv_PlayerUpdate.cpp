// The frame loop: as many fixed game frames as the wall clock asks for, each reading one input
// word and advancing the state machine and the movement steps.
#include "DoublyLinkedList.h"
#include "HighResTimer.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_Player.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Replay.h"
#include "Zelvik_RotationSystem.h"

#include <cmath>

namespace {

// The history keeps new presses of these bits, in this order.
constexpr uint32_t kHistoryBits[] = {Input_Left,   Input_Right, Input_HardDrop, Input_SoftDrop,
                                     Input_RotCCW, Input_RotCW, Input_RotCCW2,  Input_RotCW2};

// Frames per second as a whole number, rounded half to even; nonsense gives 0 (no frames).
uint64_t WholeFps(double fps) {
    if (!(fps > 0)) return 0;
    if (fps > 1e6) fps = 1e6;
    return static_cast<uint64_t>(std::nearbyint(fps));
}

void UpdateRemotes(Player* p, int32_t maxFrames, bool smallerIds) {
    DoublyLinkedList* remotes = p->RemotePlayers;
    if (!remotes) return;
    for (DoublyLinkedListElement* e = remotes->First; e; e = e->Next) {
        Player* remote = *static_cast<Player**>(DoublyLinkedList_Data(e));
        if (!remote || remote == p) continue;
        if (smallerIds ? remote->Id < p->Id : remote->Id > p->Id)
            Player_Update(remote, 0, maxFrames);
    }
}

void RecordPresses(Player* p) {
    const uint32_t pressed = p->InputUsed & ~p->PreviousInput;
    DoublyLinkedList* history = p->InputHistory;
    if (!pressed || !history) return;
    for (uint32_t bit : kHistoryBits) {
        if (!(pressed & bit)) continue;
        // In front of the first separator (the current piece's group ends there); with no
        // separator the walk leaves no current element and the insert goes to the front.
        void* d = history->ops->FirstElement(history);
        while (d && *static_cast<uint32_t*>(d) != 0) d = history->ops->NextElement(history);
        auto* entry = static_cast<uint32_t*>(history->ops->InsertElement(history));
        if (entry) *entry = bit;
        while (history->Count > kInputHistoryLimit) {
            history->ops->LastElement(history);
            history->ops->DeleteElement(history);
        }
    }
}

void Spawn(Player* p) {
    // A timer driven below zero by a mode still takes a new piece.
    Player_NextPiece(p);
    if ((p->PlayerFlags & Flag_InitialHold) && (p->InputUsed & Input_Hold)) Player_Hold(p);
    Player_FireEvent(p, Event_PieceSpawned, 0);
    Player_PlaceAtSpawn(p);
    p->State = State_Falling;
    p->StateEntered = 1;
    p->PlayerFlags |= Flag_SpawnedThisFrame;
}

void ReadyOrEntryDelay(Player* p) {
    const PlayerSettings& s = p->Settings;
    if (p->State == State_Ready) {
        if (p->StateEntered == 1) {
            p->StateEntered = 0;
            p->StateTimer = s.ReadyTime;
        }
        if (p->StateTimer == s.ReadyTime)
            Player_PlaySound(p, Sound_Ready);
        else if (p->StateTimer == s.ReadyTime / 2)
            Player_PlaySound(p, Sound_Go);
    }
    if (p->StateEntered == 1) {
        p->StateTimer = p->LastClearRows ? s.LineEntryDelay : s.EntryDelay;
        p->LockTimer = s.LockDelay;
        if (p->Field) p->Field->ops->RaisePendingRows(p->Field);
        p->StateEntered = 0;
    } else {
        p->StateTimer -= 1;
    }
    if (p->StateTimer <= 0) Spawn(p);
}

void LineClear(Player* p) {
    if (p->StateEntered == 1) {
        Player_PlaySound(p, Sound_LineClear);
        if (p->Field) p->Field->ops->ClearFullRows(p->Field);
        p->StateTimer = p->Settings.LineClearDelay;
        p->StateEntered = 0;
    }
    p->StateTimer -= 1;
    // A delay of 0 or less ends on the entry frame instead of never.
    if (p->StateTimer <= 0) {
        if (p->Field) p->Field->ops->CollapseRows(p->Field);
        Player_PlaySound(p, Sound_LineClearFall);
        p->State = State_EntryDelay;
        p->StateEntered = 1;
        p->LastClearRows = 1;
        Player_FireEvent(p, Event_RowsCollapsed, 0);
    }
}

void GameOverAnimation(Player* p) {
    if (p->StateTimer <= 0) {
        p->State = State_Idle;
        return;
    }
    if (::Field* field = p->Field) {
        const int32_t height = field->ops->GetHeight(field);
        const int64_t row = int64_t(p->StateTimer) * height / 100;
        if (row >= 0 && row < height) {
            const int32_t width = field->ops->GetWidth(field);
            for (int32_t x = 0; x < width; ++x) {
                if (FieldCell* cell = field->ops->GetCell(field, x, int32_t(row))) cell->block = 0;
            }
        }
    }
    p->StateTimer -= 1;
    if (p->InputUsed) p->StateTimer -= 1; // any key held speeds it up
}

void StateMachine(Player* p, PieceRecord* record) {
    switch (p->State) {
    case State_Ready:
    case State_EntryDelay:
        ReadyOrEntryDelay(p);
        break;
    case State_Falling:
    case State_Landed:
        if (record) {
            if (p->InputRead & Input_SoftDrop) record->softDropFrames += 1;
            record->activeFrames += 1;
        }
        if ((p->PlayerFlags & Flag_HoldAllowed) && (p->InputUsed & Input_Hold) &&
            !(p->PreviousInput & Input_Hold))
            Player_Hold(p);
        break;
    case State_LineClear:
        LineClear(p);
        break;
    case State_GameOver:
        GameOverAnimation(p);
        break;
    default: // finished, and the modes' own phases
        break;
    }
}

void Shift(Player* p, bool skipOnSpawn) {
    if (skipOnSpawn && (p->PlayerFlags & Flag_SpawnedThisFrame)) return;
    Player_UpdateShift(p);
}

void Steps(Player* p) {
    switch (p->Settings.StepOrder) {
    case 0:
        Player_UpdateRotation(p);
        Shift(p, true);
        Player_UpdateGravity(p);
        break;
    case 1:
        Player_UpdateRotation(p);
        Player_UpdateGravity(p);
        Shift(p, true);
        break;
    case 2:
        Shift(p, true);
        Player_UpdateRotation(p);
        Player_UpdateGravity(p);
        break;
    case 3: {
        const uint32_t both = Flag_SpawnedThisFrame | Flag_InitialRotation;
        if ((p->PlayerFlags & both) != both) Player_UpdateShift(p);
        Player_UpdateGravity(p);
        Player_UpdateRotation(p);
        break;
    }
    case 4:
        Player_UpdateGravity(p);
        Shift(p, true);
        Player_UpdateRotation(p);
        break;
    case 5:
        Player_UpdateGravity(p);
        Player_UpdateRotation(p);
        Shift(p, true);
        break;
    default:
        break;
    }
}

void CountTime(Player* p) {
    switch (p->State) {
    case State_Idle:
    case State_Ready:
    case State_GameOver:
    case State_Finished:
        return;
    default:
        break;
    }
    if (p->PlayerFlags & Flag_TimeLimitActive) {
        p->TimeCounter += 1;
        if (p->TimeCounter > p->TimeLimit) Player_Finish(p, 0);
    } else if (!(p->PlayerFlags & Flag_TimerStopped)) {
        if (p->PlayerFlags & Flag_TimerCountsDown) {
            p->GameTime -= 1;
            if (p->GameTime <= 0) Player_GameOver(p, 1);
        } else {
            p->GameTime += 1;
        }
    }
}

// One game frame; false when a remote player's input for it has not arrived yet.
bool RunFrame(Player* p) {
    if (p->IsRemote) {
        if (!Net_TakeRemoteInput(p, p->FrameCounter, &p->InputRead)) return false;
        p->InputRead &= kInputMask;
    } else if ((p->PlayerFlags & Flag_PlayReplay) && p->Replay) {
        p->InputRead = p->Replay->ops->GetInput(p->Replay, p->FrameCounter) & kInputMask;
    }
    if ((p->PlayerFlags & Flag_RecordReplay) && p->Replay)
        p->Replay->ops->AddInput(p->Replay, p->InputRead);
    if (p->Connection && !p->IsRemote) Net_AddFrameInput(p, p->FrameCounter, p->InputRead);

    // Hooks see the new input before the masks; a mode may disable keys for this frame.
    Player_Fire(p, Event_Frame);

    p->InputUsed = p->InputRead;
    p->InputCarried &= p->InputUsed;
    p->InputUsed &= ~p->InputCarried;
    p->InputUsed &= ~p->InputDisabled;
    p->PlayerFlags &= ~uint32_t(Flag_SpawnedThisFrame);

    RecordPresses(p);
    DoublyLinkedList* records = p->PieceRecords;
    PieceRecord* record = records && records->Last
                              ? static_cast<PieceRecord*>(DoublyLinkedList_Data(records->Last))
                              : nullptr;
    StateMachine(p, record);
    Steps(p);

    // A new piece on top of another player's active piece waits in the entry delay.
    if ((p->PlayerFlags & Flag_SpawnedThisFrame) && Player_TestMove(p, 0, 0, 0) == 2)
        p->State = State_EntryDelay;

    CountTime(p);
    Player_Fire(p, Event_EndOfFrame);
    p->PreviousInput = p->InputUsed;
    p->FrameCounter += 1;
    // The frame that ends the game-over animation is the game's last: no later frame will
    // carry it to the other players' copies, which would otherwise stop one frame short.
    if (p->State == State_Idle && p->Connection && !p->IsRemote) Net_FlushInput(p);
    return true;
}

} // namespace

int32_t Player_Update(Player* p, uint32_t inputBits, int32_t maxFrames) {
    if (!p) return 0;
    if (!p->IsRemote) Net_ClientProcess(p);
    UpdateRemotes(p, maxFrames, true);

    uint32_t target;
    if (p->PlayerFlags & Flag_Paused) {
        target = p->FrameTarget; // the clock has no say while paused
    } else {
        // Modulo 2^32: a clock past 2^31 ms or a wrap still counts forward.
        const uint32_t elapsed = GetMilliseconds() - static_cast<uint32_t>(p->StartTime);
        target =
            static_cast<uint32_t>(uint64_t(elapsed) * WholeFps(p->Settings.FramesPerSecond) / 1000);
        p->FrameTarget = target;
    }
    inputBits &= kInputMask;

    const uint32_t before = p->FrameCounter;
    // A target behind the counter (a host moving StartTime) runs nothing.
    while (static_cast<int32_t>(target - p->FrameCounter) > 0 && p->State != State_Idle &&
           (maxFrames > 0 || maxFrames == -1)) {
        p->InputRead = inputBits;
        if (maxFrames > 0) --maxFrames;
        if (!RunFrame(p)) break;
    }
    UpdateRemotes(p, maxFrames, false);
    return static_cast<int32_t>(p->FrameCounter - before);
}
