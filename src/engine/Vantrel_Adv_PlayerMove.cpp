// The three movement steps run every frame: gravity (with landing and the lock), shift, rotate.
#include "DoublyLinkedList.h"
#include "Vantrel_Adv_Player.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_RotationSystem.h"

namespace {

PieceRecord* CurrentRecord(Player* p) {
    DoublyLinkedList* records = p->PieceRecords;
    return records && records->Last
               ? static_cast<PieceRecord*>(DoublyLinkedList_Data(records->Last))
               : nullptr;
}

void Land(Player* p) {
    p->State = State_Landed;
    p->StateEntered = 1;
}

void Lock(Player* p) {
    p->PiecesLocked += 1;
    // No game time yet (or a stopped clock) gives no rate rather than an infinite one.
    p->PiecesPerMinute =
        p->GameTime > 0 ? p->PiecesLocked * p->Settings.FramesPerSecond * 60.0 / p->GameTime : 0.0;
    Player_PlaySound(p, Sound_Lock);
    p->RotationSystem->ops->PlacePiece(p->RotationSystem, p->Piece, p->Field, p->X, p->Y,
                                       p->Rotation);
    int32_t rows = p->Field ? p->Field->ops->MarkFullRows(p->Field) : 0;
    // Hooks read the count through the address and may change it.
    Player_FireEvent(p, Event_PieceLocked, reinterpret_cast<uintptr_t>(&rows));
    p->InputCarried |= p->InputUsed & p->InputRelockMask;
    p->PlayerFlags &= ~uint32_t(Flag_HoldUsed);
    if (p->State != State_Landed) return; // a hook ended the game
    p->StateEntered = 1;
    if (rows) {
        p->State = State_LineClear;
    } else {
        p->State = State_EntryDelay;
        p->LastClearRows = 0;
    }
}

void HardDrop(Player* p) {
    uint32_t drop = 0;
    const int32_t height = p->Field ? p->Field->ops->GetHeight(p->Field) : 0;
    for (int32_t i = 0; i < height; ++i) {
        const int32_t test = Player_TestMove(p, 0, 1, 0);
        if (test == 1) {
            Land(p);
            Player_UpdateGravity(p); // the landed frame happens in this frame
            break;
        }
        if (test == 0) {
            p->Y += 1;
            drop += 1;
            p->LockTimer = p->Settings.LockDelay;
        }
    }
    if (PieceRecord* record = CurrentRecord(p)) {
        if (drop > record->greatestHardDrop) record->greatestHardDrop = drop;
    }
}

void Fall(Player* p) {
    const PlayerSettings& s = p->Settings;
    const bool soft = (p->InputUsed & Input_SoftDrop) && s.SoftDropSpeed > s.Gravity;
    const int32_t speed = soft ? s.SoftDropSpeed : s.Gravity;
    // Saturate: a huge speed must not wrap the accumulator negative.
    const int64_t sum = int64_t(p->GravityAccumulator) + speed;
    p->GravityAccumulator = sum > INT32_MAX   ? INT32_MAX
                            : sum < INT32_MIN ? INT32_MIN
                                              : int32_t(sum);
    while (p->GravityAccumulator >= 256 && p->State == State_Falling) {
        const int32_t test = Player_TestMove(p, 0, 1, 0);
        if (test == 1) {
            Land(p);
        } else if (test == 2) {
            break;
        } else {
            p->Y += 1;
            p->LockTimer = s.LockDelay;
            p->GravityAccumulator -= 256;
        }
    }
    if ((p->PlayerFlags & Flag_LockWhenResting) && Player_TestMove(p, 0, 1, 0) == 1) {
        Land(p);
        Player_UpdateGravity(p);
    }
}

void ShiftDirection(Player* p, uint32_t bit, int32_t dx) {
    if (!(p->InputUsed & bit)) return;
    const bool frozen = p->PlayerFlags & Flag_ShiftCounterFrozen;
    if (!(p->PreviousInput & bit)) {
        if (Player_TestMove(p, dx, 0, 0) == 0) p->X += dx;
        p->ShiftCounter = p->Settings.ShiftDelay;
    } else if (p->ShiftCounter > 0) {
        if (!frozen) p->ShiftCounter -= 1;
    } else if (Player_TestMove(p, dx, 0, 0) == 0) {
        // A counter driven below zero by a negative delay counts as run down.
        p->X += dx;
    }
}

} // namespace

int32_t Player_UpdateGravity(Player* p) {
    if (!p) return 0;
    if (p->State == State_Falling || p->State == State_Landed) {
        if (Player_TestMove(p, 0, 0, 0) == 1) {
            Player_GameOver(p, 1);
            return 0;
        }
    }
    if (p->State == State_Landed && Player_TestMove(p, 0, 1, 0) == 0) {
        p->State = State_Falling;
        p->StateEntered = 1;
    }
    if (p->State == State_Falling) {
        if (p->StateEntered == 1) {
            p->GravityAccumulator = 0;
            p->StateTimer = 0;
            p->StateEntered = 0;
        }
        Player_Fire(p, Event_Falling);
        p->StateTimer += 1;
        if (p->InputUsed & Input_HardDrop)
            HardDrop(p);
        else
            Fall(p);
        Player_Fire(p, Event_AfterGravity);
    } else if (p->State == State_Landed) {
        if (p->StateEntered == 1) {
            Player_PlaySound(p, Sound_Landing);
            p->StateEntered = 0;
        }
        p->LockTimer -= 1;
        // A lock delay of 0 (or a timer already below it) locks on the first landed frame.
        if (p->LockTimer <= 0 || (p->InputUsed & Input_SoftDrop)) Lock(p);
    }
    return 0;
}

int32_t Player_UpdateShift(Player* p) {
    if (!p) return 0;
    const bool frozen = p->PlayerFlags & Flag_ShiftCounterFrozen;
    const uint32_t directions = Input_Left | Input_Right;
    if (p->State == State_Falling || p->State == State_Landed) {
        ShiftDirection(p, Input_Left, -1);
        ShiftDirection(p, Input_Right, 1);
    } else if (p->PlayerFlags & Flag_ShiftChargesInDelay) {
        if (!(p->InputUsed & directions))
            p->ShiftCounter = p->Settings.ShiftDelay;
        else if (p->ShiftCounter > 0 && !frozen)
            p->ShiftCounter -= 1;
    } else if (p->InputUsed & directions) {
        if (!(p->PreviousInput & directions))
            p->ShiftCounter = p->Settings.ShiftDelay;
        else if (p->ShiftCounter > 0 && !frozen)
            p->ShiftCounter -= 1;
    }
    return 0;
}

int32_t Player_UpdateRotation(Player* p) {
    if (!p || !p->RotationSystem) return 0;
    RotationSystemInterface* rs = p->RotationSystem;
    const uint32_t initial = Flag_SpawnedThisFrame | Flag_InitialRotation;
    if ((p->PlayerFlags & initial) == initial) {
        if (rs->ops->InitialRotation(rs, p)) Player_PlaySound(p, Sound_Irs);
    } else if (rs->ops->Rotate(rs, p)) {
        Player_PlaySound(p, Sound_Rotate);
    }
    return 0;
}
