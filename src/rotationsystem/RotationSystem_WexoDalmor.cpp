// The "Dalmor WEXO" rotation system: the seven pieces with their colours and four states,
// turns with five-position wall kicks, and the collision, spawn-row, ghost-row and lock
// questions the engine asks. It keeps no state: everything comes in the arguments.
#include "Vantrel_Common.h"
#include "Zelvik_Field.h"
#include "Zelvik_ID.h"
#include "Zelvik_Player.h"
#include "Zelvik_RotationSystem.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kBox = 4;
constexpr int32_t kStates = 4;
constexpr int32_t kCellsPerPiece = kBox * kBox * kStates;

// One picture per state, 16 characters each, top row first ('X' block, '.' empty).
constexpr const char* kPictures[7][kStates] = {
    {"....XXXX........", "..X...X...X...X.", "........XXXX....", ".X...X...X...X.."}, // I
    {"XX...XX.........", "..X..XX..X......", "....XX...XX.....", ".X..XX..X......."}, // Z
    {".XX.XX..........", ".X...XX...X.....", ".....XX.XX......", "X...XX...X......"}, // S
    {"X...XXX.........", ".XX..X...X......", "....XXX...X.....", ".X...X..XX......"}, // J
    {"..X.XXX.........", ".X...X...XX.....", "....XXX.X.......", "XX...X...X......"}, // L
    {".XX..XX.........", ".XX..XX.........", ".XX..XX.........", ".XX..XX........."}, // O
    {".X..XXX.........", ".X...XX..X......", "....XXX..X......", ".X..XX...X......"}, // T
};

struct ShapeTable {
    uint8_t bytes[7][kCellsPerPiece]; // [kind - 1][rotation][row][column]
};

constexpr ShapeTable BuildShapes() {
    ShapeTable t{};
    for (int k = 0; k < 7; ++k)
        for (int r = 0; r < kStates; ++r)
            for (int c = 0; c < kBox * kBox; ++c)
                t.bytes[k][r * kBox * kBox + c] = kPictures[k][r][c] == 'X' ? 1 : 0;
    return t;
}
constexpr ShapeTable kShapes = BuildShapes();

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) {
    return r + g * 256 + b * 65536;
}
constexpr uint32_t kColours[7] = {Rgb(0, 255, 255), Rgb(255, 0, 0),   Rgb(0, 255, 0),
                                  Rgb(0, 0, 255),   Rgb(255, 170, 0), Rgb(255, 255, 0),
                                  Rgb(153, 0, 255)};

struct Kick {
    int8_t dx, dy;
};
using KickTable = Kick[5];

// [state before][0 = counter-clockwise, 1 = clockwise]
constexpr KickTable kKicksI[kStates][2] = {
    {{{0, 0}, {-2, 0}, {1, 0}, {-1, -2}, {-2, 1}}, {{0, 0}, {2, 0}, {-1, 0}, {-1, -2}, {2, 1}}},
    {{{0, 0}, {-1, 0}, {2, 0}, {-1, -2}, {2, 1}}, {{0, 0}, {-2, 0}, {1, 0}, {-2, -1}, {1, 1}}},
    {{{0, 0}, {2, 0}, {-1, 0}, {2, -1}, {-1, 1}}, {{0, 0}, {-2, 0}, {1, 0}, {-2, -1}, {1, 1}}},
    {{{0, 0}, {-2, 0}, {1, 0}, {-2, -1}, {-1, 2}}, {{0, 0}, {1, 0}, {-2, 0}, {1, -2}, {-2, 1}}},
};
constexpr KickTable kKicksOther[kStates][2] = {
    {{{0, 0}, {-1, 0}, {-1, -1}, {0, 2}, {-1, 2}}, {{0, 0}, {1, 0}, {1, -1}, {0, 2}, {1, 2}}},
    {{{0, 0}, {1, 0}, {1, 1}, {0, -2}, {1, -2}}, {{0, 0}, {-1, 0}, {-1, -1}, {0, 2}, {1, 2}}},
    {{{0, 0}, {1, 0}, {1, -1}, {0, 2}, {1, 2}}, {{0, 0}, {-1, 0}, {-1, -1}, {0, 2}, {1, 2}}},
    {{{0, 0}, {-1, 0}, {-1, 1}, {0, -2}, {-1, -2}}, {{0, 0}, {-1, 0}, {-1, 1}, {0, -2}, {-1, -2}}},
};
constexpr KickTable kKicksO = {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}};
constexpr int32_t kKicksOCount = 1;

constexpr char16_t kName[] = u"Dalmor WEXO";
constexpr char16_t kAuthor[] = u"Pemlow";
constexpr uint64_t kVersion = 0x0000000100000000ull;
constexpr int32_t kBuild = 0x4b1968a0;

constexpr uint32_t kCCWKeys = Input_RotCCW | Input_RotCCW2;
constexpr uint32_t kCWKeys = Input_RotCW | Input_RotCW2;

// Writes the text and its terminator; the rest of the 32-unit field stays as it was.
template <size_t N> void CopyText(ZelvikID* id, size_t offset, const char16_t (&text)[N]) {
    static_assert(N <= 32);
    std::memcpy(reinterpret_cast<char*>(id) + offset, text, sizeof text);
}

// The piece's rotation count, kept within the four states a record has room for.
int32_t StatesOf(const RotationPiece* piece) {
    return piece->rotations >= 1 && piece->rotations <= kStates ? piece->rotations : kStates;
}

const FieldCell* CellAt(const RotationPiece* piece, int32_t x, int32_t y, int32_t rotation) {
    if (!piece || x < 0 || y < 0 || x >= kBox || y >= kBox || x >= piece->width ||
        y >= piece->height)
        return nullptr;
    const int32_t r = PositiveMod(rotation, StatesOf(piece));
    return &piece->cells[x + kBox * (y + r * kBox)];
}

// The 16 cells of one rotation state.
const FieldCell* StateCells(const RotationPiece* piece, int32_t rotation) {
    return &piece->cells[kBox * kBox * PositiveMod(rotation, StatesOf(piece))];
}

bool HasBlock(const RotationPiece* piece, int32_t x, int32_t y, int32_t rotation) {
    const FieldCell* c = CellAt(piece, x, y, rotation);
    return c && c->block;
}

uint32_t WexoDalmor_FillID(ZelvikID* id) {
    if (!id || id->size != sizeof(ZelvikID)) return 0;
    id->kind = PluginKind_RotationSystem;
    CopyText(id, offsetof(ZelvikID, name), kName);
    CopyText(id, offsetof(ZelvikID, author), kAuthor);
    id->version = kVersion;
    id->build = kBuild;
    return 1;
}

uint32_t RotationSystem_GetID(RotationSystemInterface*, ZelvikID* id) {
    return WexoDalmor_FillID(id);
}

int32_t RotationSystem_StartPlayer(RotationSystemInterface*, Player* player) {
    if (player) player->PlayerFlags |= Flag_InitialRotation;
    return 0;
}

// Turns on the spawn frame by the keys held now; no kicks.
int32_t RotationSystem_InitialRotation(RotationSystemInterface*, Player* player) {
    if (!player) return 0;
    int32_t turn = 0;
    if (player->InputUsed & kCCWKeys)
        turn = -1;
    else if (player->InputUsed & kCWKeys)
        turn = 1;
    else
        return 0;
    if (player->ops->TestPosition(player, player->X, player->Y, turn) != 0) return 0;
    player->Rotation = turn;
    return 1;
}

int32_t RotationSystem_Rotate(RotationSystemInterface*, Player* player) {
    if (!player || !player->Piece) return 0;
    const int32_t remembered = player->Rotation;
    const uint32_t pressed = player->InputUsed & ~player->PreviousInput;
    const int32_t s = PositiveMod(player->Rotation, kStates);
    int32_t direction;
    if (pressed & kCCWKeys) {
        direction = 0;
        player->Rotation = (s + 3) % kStates;
    } else if (pressed & kCWKeys) {
        direction = 1;
        player->Rotation = (s + 1) % kStates;
    } else {
        return 0;
    }
    const Kick* kicks;
    int32_t count = 5;
    switch (player->Piece->kind) {
    case Piece_I:
        kicks = kKicksI[s][direction];
        break;
    case Piece_O:
        kicks = kKicksO;
        count = kKicksOCount;
        break;
    default:
        kicks = kKicksOther[s][direction];
        break;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (player->ops->TestMove(player, kicks[i].dx, kicks[i].dy, 0) == 0) {
            player->X += kicks[i].dx;
            player->Y += kicks[i].dy;
            return 1;
        }
    }
    player->Rotation = remembered;
    return 0;
}

int32_t RotationSystem_Free(RotationSystemInterface* rs) {
    if (!rs) return 0;
    std::free(const_cast<RotationSystemOps*>(rs->ops));
    std::free(rs);
    return 0;
}

RotationPiece* RotationSystem_BuildPiece(const uint8_t* shape, uint32_t colour, uint32_t flags) {
    auto* piece = static_cast<RotationPiece*>(std::calloc(1, sizeof(RotationPiece)));
    if (!piece) return nullptr;
    piece->width = kBox;
    piece->height = kBox;
    piece->rotations = kStates;
    piece->spawnOffset = 0;
    for (int32_t i = 0; i < kCellsPerPiece; ++i) {
        piece->cells[i].block = shape[i];
        piece->cells[i].data = colour;
        piece->cells[i].flags = flags;
    }
    return piece;
}

RotationPiece* RotationSystem_CreatePiece(RotationSystemInterface*, uint32_t kind, uint32_t flags) {
    if (kind < Piece_I || kind > Piece_T) return nullptr;
    RotationPiece* piece =
        RotationSystem_BuildPiece(kShapes.bytes[kind - 1], kColours[kind - 1], flags);
    if (piece) piece->kind = kind;
    return piece;
}

FieldCell* RotationSystem_GetPieceCell(RotationSystemInterface*, RotationPiece* piece, int32_t x,
                                       int32_t y, int32_t rotation) {
    return const_cast<FieldCell*>(CellAt(piece, x, y, rotation));
}

uint8_t RotationSystem_GetPieceBlock(RotationSystemInterface*, RotationPiece* piece, int32_t x,
                                     int32_t y, int32_t rotation) {
    const FieldCell* c = CellAt(piece, x, y, rotation);
    return c ? c->block : 0;
}

int32_t RotationSystem_Collides(RotationSystemInterface*, RotationPiece* piece, Field* field,
                                int32_t x, int32_t y, int32_t rotation) {
    if (!piece || !field) return 7;
    // The hottest call of a game: reduce the rotation once, not per cell.
    const FieldCell* cells = StateCells(piece, rotation);
    const int32_t rows = std::min(piece->height, kBox), columns = std::min(piece->width, kBox);
    for (int32_t i = 0; i < rows; ++i)
        for (int32_t j = 0; j < columns; ++j)
            if (cells[j + kBox * i].block && field->ops->IsBlocked(field, x + j, y + i)) return 1;
    return 0;
}

int32_t RotationSystem_GetTopRow(RotationSystemInterface*, RotationPiece* piece, int32_t rotation) {
    if (!piece) return -3;
    for (int32_t i = 0; i < kBox; ++i)
        for (int32_t j = 0; j < kBox; ++j)
            if (HasBlock(piece, j, i, rotation)) return -i;
    return -3;
}

int32_t RotationSystem_FindDropRow(RotationSystemInterface*, RotationPiece* piece, Field* field,
                                   int32_t x, int32_t rotation) {
    if (!piece || !field) return 0;
    for (int32_t n = field->ops->GetHeight(field) - 1; n >= 0; --n) {
        bool fits = true;
        for (int32_t i = 0; i < kBox && fits; ++i)
            for (int32_t j = 0; j < kBox && fits; ++j)
                if (HasBlock(piece, j, i, rotation) && field->ops->IsBlocked(field, x + j, n + i))
                    fits = false;
        if (fits) return n;
    }
    return 0;
}

int32_t RotationSystem_PlacePiece(RotationSystemInterface*, RotationPiece* piece, Field* field,
                                  int32_t x, int32_t y, int32_t rotation) {
    if (!piece || !field) return 0;
    for (int32_t i = 0; i < kBox; ++i)
        for (int32_t j = 0; j < kBox; ++j)
            if (const FieldCell* c = CellAt(piece, i, j, rotation); c && c->block)
                field->ops->SetCell(field, x + i, y + j, 1, c->data, c->flags);
    return 0;
}

int32_t RotationSystem_FreePiece(RotationSystemInterface*, RotationPiece* piece) {
    std::free(piece);
    return 0;
}

} // namespace

ZELVIK_EXPORT uint32_t GetID(ZelvikID* id) {
    return WexoDalmor_FillID(id);
}

ZELVIK_EXPORT RotationSystemInterface* CreateRotationSystemInterface(const EngineApi*) {
    auto* rs =
        static_cast<RotationSystemInterface*>(std::calloc(1, sizeof(RotationSystemInterface)));
    if (!rs) return nullptr;
    auto* ops = static_cast<RotationSystemOps*>(std::calloc(1, sizeof(RotationSystemOps)));
    if (!ops) {
        std::free(rs);
        return nullptr;
    }
    ops->GetID = RotationSystem_GetID;
    ops->StartPlayer = RotationSystem_StartPlayer;
    ops->InitialRotation = RotationSystem_InitialRotation;
    ops->Rotate = RotationSystem_Rotate;
    ops->Free = RotationSystem_Free;
    ops->CreatePiece = RotationSystem_CreatePiece;
    ops->GetPieceCell = RotationSystem_GetPieceCell;
    ops->GetPieceBlock = RotationSystem_GetPieceBlock;
    ops->Collides = RotationSystem_Collides;
    ops->GetTopRow = RotationSystem_GetTopRow;
    ops->FindDropRow = RotationSystem_FindDropRow;
    ops->PlacePiece = RotationSystem_PlacePiece;
    ops->FreePiece = RotationSystem_FreePiece;
    rs->ops = ops;
    return rs;
}
