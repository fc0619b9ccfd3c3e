// Drawing: the engine walks field, previews and hold box and hands every visible cell to the
// host through the game's ClientInterface.
#include "Vantrel_Adv_Player.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_RotationSystem.h"

namespace {

constexpr int32_t kBox = 4;

int32_t BoxSide(int32_t n) {
    return n < 0 ? 0 : n > kBox ? kBox : n;
}

// Calls draw(x, y, cell) for each block of the piece in rotation state 0, shifted so that the
// top block row is row 0 and the box starts at the spawn offset.
template <typename Draw>
void WalkPiece(RotationSystemInterface* rs, RotationPiece* piece, Draw draw) {
    const int32_t top = rs->ops->GetTopRow(rs, piece, 0);
    const int32_t width = BoxSide(piece->width);
    const int32_t height = BoxSide(piece->height);
    for (int32_t c = 0; c < width; ++c) {
        for (int32_t r = 0; r < height; ++r) {
            FieldCell* cell = rs->ops->GetPieceCell(rs, piece, c, r, 0);
            if (cell && cell->block) draw(c + piece->spawnOffset, r + top, *cell);
        }
    }
}

} // namespace

int32_t Player_DrawField(Player* p, uint32_t flags) {
    if (!p || !p->RotationSystem || !p->Field) return 0;
    ClientInterface* ci = Player_Host(p);
    if (ci) p->Field->ops->Draw(p->Field, ci, flags, p->UserData);
    return 0;
}

int32_t Player_DrawNextQueue(Player* p, int32_t index, uint32_t) {
    if (!p || !p->RotationSystem) return 0;
    ClientInterface* ci = Player_Host(p);
    const int32_t shown = p->PreviewCount < kNextQueueSize ? p->PreviewCount : kNextQueueSize;
    if (!ci || index < 0 || index >= shown) return 0;
    RotationPiece* piece = p->NextQueue[index];
    if (!piece) return 0;
    WalkPiece(p->RotationSystem, piece, [&](int32_t x, int32_t y, const FieldCell& cell) {
        ci->ops->DrawNextBlock(ci, index, x, y, cell.data, cell.flags, p->UserData);
    });
    return 0;
}

int32_t Player_DrawHold(Player* p, uint32_t) {
    if (!p || !p->RotationSystem || !p->HoldPiece) return 0;
    ClientInterface* ci = Player_Host(p);
    if (!ci) return 0;
    WalkPiece(p->RotationSystem, p->HoldPiece, [&](int32_t x, int32_t y, const FieldCell& cell) {
        ci->ops->DrawHoldBlock(ci, x, y, cell.data, cell.flags, p->UserData);
    });
    return 0;
}

int32_t Player_Draw(Player* p, uint32_t flags) {
    if (!p || !p->RotationSystem || !Player_Host(p)) return 0;
    const int32_t shown = p->PreviewCount < kNextQueueSize ? p->PreviewCount : kNextQueueSize;
    for (int32_t i = 0; i < shown; ++i) Player_DrawNextQueue(p, i, flags);
    Player_DrawHold(p, flags);
    Player_DrawField(p, flags);
    return 0;
}
