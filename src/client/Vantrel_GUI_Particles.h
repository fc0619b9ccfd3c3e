// Small tinted quads that move on their own: advanced once per game frame, drawn after the
// player's field. Each ClientPlayer keeps a list of particle pointers.
#pragma once

#include <cstdint>

struct DoublyLinkedList;
struct Sprite3D;
struct Particle;

struct ParticleOps {
    int32_t (*Update)(Particle* p);
    int32_t (*Draw)(Particle* p);
    int32_t (*IsFinished)(Particle* p);
    int32_t (*Free)(Particle* p);
};
static_assert(sizeof(ParticleOps) == 4 * sizeof(void*));

struct Particle {
    const ParticleOps* ops;
    double X, Y;          // top-left, screen pixels
    double Width, Height; // drawn size
    double VelocityX, VelocityY;
    double AccelerationY;
    int32_t Life;     // frames left
    uint32_t Colour;  // as Sprite3D_SetColor takes it (0xAABBGGRR)
    Sprite3D* Sprite; // shared, must outlive the particle
};

// A zeroed particle; null when memory runs out.
Particle* Particle_Create();
int32_t Particle_Update(Particle* p);
int32_t Particle_Draw(Particle* p);
int32_t Particle_IsFinished(Particle* p);
int32_t Particle_Free(Particle* p);

// A list whose elements hold one Particle pointer each; null when memory runs out.
DoublyLinkedList* Particle_CreateList();
// Appends a particle (the list takes it over); false when memory runs out.
bool Particle_Add(DoublyLinkedList* list, Particle* p);
// One game frame: every particle moves, those that have finished are freed and removed.
void Particle_RunList(DoublyLinkedList* list);
void Particle_DrawList(DoublyLinkedList* list);
// Frees every particle and the list.
void Particle_FreeList(DoublyLinkedList* list);
