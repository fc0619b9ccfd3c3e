// The player's pieces: position tests, the preview queue, hold, and the ends of a game.
#include "DoublyLinkedList.h"
#include "Vantrel_Adv_NetClient.h"
#include "Vantrel_Adv_Player.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Mode.h"
#include "Zelvik_Randomizer.h"
#include "Zelvik_Replay.h"
#include "Zelvik_RotationSystem.h"

namespace {

constexpr int32_t kBox = 4;

// Preview sound by kind (index = kind).
constexpr int32_t kPreviewSound[8] = {-1,           Sound_PieceI, Sound_PieceZ, Sound_PieceS,
                                      Sound_PieceJ, Sound_PieceL, Sound_PieceO, Sound_PieceT};

Player* PlayerOf(DoublyLinkedListElement* e) {
    return *static_cast<Player**>(DoublyLinkedList_Data(e));
}

bool HasActivePiece(const Player* p) {
    return p->Piece && p->RotationSystem && (p->State == State_Falling || p->State == State_Landed);
}

// Whether another player's piece occupies field cell (x, y), asked of its own rotation system.
bool PieceCovers(Player* other, int32_t x, int32_t y) {
    RotationSystemInterface* rs = other->RotationSystem;
    return rs->ops->GetPieceBlock(rs, other->Piece, x - other->X, y - other->Y, other->Rotation) !=
           0;
}

} // namespace

void Player_PlaceAtSpawn(Player* p) {
    p->Rotation = 0;
    p->X = p->SpawnColumn + (p->Piece ? p->Piece->spawnOffset : 0);
    p->Y =
        p->RotationSystem ? p->RotationSystem->ops->GetTopRow(p->RotationSystem, p->Piece, 0) : 0;
}

int32_t Player_TestPosition(Player* p, int32_t x, int32_t y, int32_t rotation) {
    if (!p || !p->RotationSystem || !p->Piece || !p->Field) return 1;
    RotationSystemInterface* rs = p->RotationSystem;
    if (rs->ops->Collides(rs, p->Piece, p->Field, x, y, rotation)) return 1;
    DoublyLinkedList* players = p->Field->players;
    for (DoublyLinkedListElement* e = players ? players->First : nullptr; e; e = e->Next) {
        Player* other = PlayerOf(e);
        if (other == p || !HasActivePiece(other)) continue;
        RotationSystemInterface* ors = other->RotationSystem;
        for (int32_t j = 0; j < kBox; ++j) {
            for (int32_t i = 0; i < kBox; ++i) {
                if (!ors->ops->GetPieceBlock(ors, other->Piece, i, j, other->Rotation)) continue;
                if (rs->ops->GetPieceBlock(rs, p->Piece, i + other->X - x, j + other->Y - y,
                                           rotation))
                    return 2;
            }
        }
    }
    return 0;
}

int32_t Player_TestMove(Player* p, int32_t dx, int32_t dy, int32_t drotation) {
    if (!p) return 1;
    return Player_TestPosition(p, p->X + dx, p->Y + dy, p->Rotation + drotation);
}

int32_t Player_QueryCell(Player* p, int32_t x, int32_t y, uint32_t mask) {
    if (!p) return 0;
    if ((mask & 4) && p->Piece && p->RotationSystem && PieceCovers(p, x, y)) return 4;
    if ((mask & 2) && p->Field && p->Field->players) {
        for (DoublyLinkedListElement* e = p->Field->players->First; e; e = e->Next) {
            Player* other = PlayerOf(e);
            if (other == p || !other->Piece || !other->RotationSystem) continue;
            if (PieceCovers(other, x, y)) return 2;
        }
    }
    if ((mask & 1) && p->Field && p->Field->ops->IsBlocked(p->Field, x, y)) return 1;
    return 0;
}

int32_t Player_FillNextQueue(Player* p) {
    if (!p || !p->Randomizer || !p->RotationSystem) return 0;
    int32_t used = 0;
    for (int32_t i = 0; i < kNextQueueSize; ++i) {
        RotationPiece* piece = p->NextQueue[i];
        p->NextQueue[i] = nullptr;
        if (piece) p->NextQueue[used++] = piece;
    }
    RotationSystemInterface* rs = p->RotationSystem;
    RandomizerInterface* r = p->Randomizer;
    for (int32_t i = used; i < kNextQueueSize; ++i)
        p->NextQueue[i] = rs->ops->CreatePiece(rs, r->ops->NextKind(r), 0);
    return 0;
}

int32_t Player_NextPiece(Player* p) {
    if (!p || !p->RotationSystem) return 0;
    Player_FillNextQueue(p);
    if (p->Piece) p->RotationSystem->ops->FreePiece(p->RotationSystem, p->Piece);
    p->Piece = p->NextQueue[0];
    for (int32_t i = 1; i < kNextQueueSize; ++i) p->NextQueue[i - 1] = p->NextQueue[i];
    p->NextQueue[kNextQueueSize - 1] = nullptr;
    Player_FillNextQueue(p);
    if (RotationPiece* next = p->NextQueue[0]) {
        if (next->kind >= 1 && next->kind <= 7) Player_PlaySound(p, kPreviewSound[next->kind]);
    }
    return 0;
}

int32_t Player_Hold(Player* p) {
    if (!p || (p->PlayerFlags & Flag_HoldUsed)) return 0;
    RotationPiece* held = p->HoldPiece;
    p->HoldPiece = p->Piece;
    p->Piece = held;
    if (!p->Piece) Player_NextPiece(p);
    Player_FireEvent(p, Event_PieceSpawned, 0);
    Player_PlaceAtSpawn(p);
    p->State = State_Falling;
    p->PlayerFlags |= Flag_SpawnedThisFrame | Flag_HoldUsed;
    return 0;
}

int32_t Player_EndGame(Player* p) {
    if (!p) return 0;
    Net_FlushInput(p);
    // In any other state the piece is already in the field (or gone with a collapse).
    if ((p->State == State_Falling || p->State == State_Landed) && p->RotationSystem)
        p->RotationSystem->ops->PlacePiece(p->RotationSystem, p->Piece, p->Field, p->X, p->Y,
                                           p->Rotation);
    if ((p->PlayerFlags & Flag_RecordReplay) && p->Replay)
        p->Replay->ops->Save(p->Replay, u"LastReplay.er");
    // An opponent's game ending leaves the host's music playing.
    Player_StopMusic(p);
    Player_FireEvent(p, Event_GameEnded, 0);
    return 0;
}

int32_t Player_GameOver(Player* p, uint32_t notify) {
    if (!p) return 0;
    Player_EndGame(p);
    p->State = State_GameOver;
    p->StateTimer = 100;
    if (notify & 1) {
        Player_FireEvent(p, Event_GameOver, 0);
        for (DoublyLinkedListElement* e = p->ModeList ? p->ModeList->First : nullptr; e;
             e = e->Next) {
            auto* entry = static_cast<ModeEntry*>(DoublyLinkedList_Data(e));
            if (entry->mode) entry->mode->ops->StopPlayer(entry->mode, p);
        }
    }
    return 0;
}

int32_t Player_Finish(Player* p, uintptr_t) {
    if (!p) return 0;
    Player_EndGame(p);
    p->State = State_Finished;
    Player_FireEvent(p, Event_Finished, 0);
    return 0;
}
