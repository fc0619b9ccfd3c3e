#include "Vantrel_GUI_Particles.h"

#include "DoublyLinkedList.h"
#include "Sprite3D.h"

#include <new>

namespace {
const ParticleOps kOps = {Particle_Update, Particle_Draw, Particle_IsFinished, Particle_Free};
}

Particle* Particle_Create() {
    Particle* p = new (std::nothrow) Particle{};
    if (p) p->ops = &kOps;
    return p;
}

int32_t Particle_Update(Particle* p) {
    if (!p || p->Life <= 0) return 0;
    p->X += p->VelocityX;
    p->Y += p->VelocityY;
    p->VelocityY += p->AccelerationY; // after the step: the first frame moves by the start speed
    p->Life -= 1;
    return 0;
}

int32_t Particle_Draw(Particle* p) {
    if (!p || !p->Sprite) return 0;
    Sprite3D_SetColor(p->Sprite, p->Colour, p->Colour, p->Colour, p->Colour);
    Sprite3D_Zoom(p->Sprite, RoundPixel(p->Width), RoundPixel(p->Height));
    Sprite3D_Display(p->Sprite, RoundPixel(p->X), RoundPixel(p->Y));
    return 0;
}

int32_t Particle_IsFinished(Particle* p) {
    return !p || p->Life <= 0 ? 1 : 0;
}

int32_t Particle_Free(Particle* p) {
    delete p;
    return 0;
}

DoublyLinkedList* Particle_CreateList() {
    return DoublyLinkedList_Create(sizeof(Particle*));
}

bool Particle_Add(DoublyLinkedList* list, Particle* p) {
    if (!list || !p) return false;
    auto* slot = static_cast<Particle**>(DoublyLinkedList_AddElement(list));
    if (!slot) return false;
    *slot = p;
    return true;
}

void Particle_RunList(DoublyLinkedList* list) {
    if (!list) return;
    for (auto* slot = static_cast<Particle**>(DoublyLinkedList_FirstElement(list)); slot;
         slot = static_cast<Particle**>(DoublyLinkedList_NextElement(list))) {
        Particle* p = *slot;
        p->ops->Update(p);
        if (p->ops->IsFinished(p)) {
            p->ops->Free(p);
            // The cursor steps back to the previous element, so the walk goes on with the next.
            DoublyLinkedList_DeleteElement(list);
        }
    }
}

void Particle_DrawList(DoublyLinkedList* list) {
    if (!list) return;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next)
        Particle_Draw(*static_cast<Particle**>(DoublyLinkedList_Data(e)));
}

void Particle_FreeList(DoublyLinkedList* list) {
    if (!list) return;
    for (DoublyLinkedListElement* e = list->First; e; e = e->Next)
        Particle_Free(*static_cast<Particle**>(DoublyLinkedList_Data(e)));
    DoublyLinkedList_FreeList(list);
}
