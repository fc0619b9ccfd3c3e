// The rotation-system interface and the piece record it builds.
#pragma once

#include "Zelvik_Field.h"
#include "Zelvik_ID.h"

#include <cstddef>
#include <cstdint>

enum PieceKind : uint32_t {
    Piece_None = 0, Piece_I = 1, Piece_Z = 2, Piece_S = 3, Piece_J = 4, Piece_L = 5,
    Piece_O = 6, Piece_T = 7,
};

#pragma pack(push, 1)
struct RotationPiece {
    uint32_t kind;
    int32_t width;       // 4
    int32_t height;      // 4
    int32_t rotations;   // 4
    int32_t spawnOffset; // added to the player's SpawnColumn
    FieldCell cells[4 * 4 * 4]; // [rotation][row][column]
};
#pragma pack(pop)
static_assert(offsetof(RotationPiece, cells) == 20);
static_assert(sizeof(RotationPiece) == 20 + 64 * 9);

struct RotationSystemInterface;

struct RotationSystemOps {
    uint32_t (*GetID)(RotationSystemInterface* rs, ZelvikID* id);
    int32_t (*StartPlayer)(RotationSystemInterface* rs, Player* player);
    int32_t (*InitialRotation)(RotationSystemInterface* rs, Player* player);
    int32_t (*Rotate)(RotationSystemInterface* rs, Player* player);
    int32_t (*Free)(RotationSystemInterface* rs);
    RotationPiece* (*CreatePiece)(RotationSystemInterface* rs, uint32_t kind, uint32_t flags);
    FieldCell* (*GetPieceCell)(RotationSystemInterface* rs, RotationPiece* piece, int32_t x,
                               int32_t y, int32_t rotation);
    uint8_t (*GetPieceBlock)(RotationSystemInterface* rs, RotationPiece* piece, int32_t x,
                             int32_t y, int32_t rotation);
    int32_t (*Collides)(RotationSystemInterface* rs, RotationPiece* piece, Field* field, int32_t x,
                        int32_t y, int32_t rotation);
    int32_t (*GetTopRow)(RotationSystemInterface* rs, RotationPiece* piece, int32_t rotation);
    int32_t (*FindDropRow)(RotationSystemInterface* rs, RotationPiece* piece, Field* field,
                           int32_t x, int32_t rotation);
    int32_t (*PlacePiece)(RotationSystemInterface* rs, RotationPiece* piece, Field* field,
                          int32_t x, int32_t y, int32_t rotation);
    int32_t (*FreePiece)(RotationSystemInterface* rs, RotationPiece* piece);
};
static_assert(sizeof(RotationSystemOps) == 13 * sizeof(void*));

struct RotationSystemInterface {
    const RotationSystemOps* ops; // built on the plug-in's heap when the object is created
};
