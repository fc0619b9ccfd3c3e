#include "DoublyLinkedList.h"
#include "Platform_Screen.h"
#include "Sprite3D.h"
#include "Vantrel_GUI_Particles.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Particle* Make(int32_t life, double vx, double vy, double ay) {
    Particle* p = Particle_Create();
    p->Life = life;
    p->VelocityX = vx;
    p->VelocityY = vy;
    p->AccelerationY = ay;
    return p;
}

Particle* At(DoublyLinkedList* list, int32_t i) {
    return *static_cast<Particle**>(DoublyLinkedList_SelectElement(list, i));
}

} // namespace

TEST(ParticleMotion, AccelerationAppliesAfterThePositionStep) {
    Particle* p = Make(3, 1.0, 2.0, 0.5);
    Particle_Update(p);
    EXPECT_EQ(p->X, 1.0);
    EXPECT_EQ(p->Y, 2.0); // the first frame moves by the start speed
    EXPECT_EQ(p->VelocityY, 2.5);
    Particle_Update(p);
    EXPECT_EQ(p->Y, 4.5);
    EXPECT_EQ(p->Life, 1);
    Particle_Update(p);
    EXPECT_EQ(Particle_IsFinished(p), 1);
    Particle_Update(p); // finished: nothing changes any more
    EXPECT_EQ(p->Y, 7.5);
    Particle_Free(p);
    Particle_Free(nullptr);
}

TEST(ParticleList, FinishedParticlesLeaveInTheSameRun) {
    DoublyLinkedList* list = Particle_CreateList();
    Particle* once = Make(1, 5, 0, 0);
    Particle* never = Make(0, 5, 0, 0);
    Particle* stays = Make(10, 1, 0, 0);
    Particle* alsoOnce = Make(1, 1, 0, 0);
    for (Particle* p : {once, never, stays, alsoOnce}) ASSERT_TRUE(Particle_Add(list, p));
    Particle_RunList(list);
    // The two that reached 0 and the one created at 0 are gone; the walk kept going.
    ASSERT_EQ(DoublyLinkedList_CountList(list), 1);
    EXPECT_EQ(At(list, 0), stays);
    EXPECT_EQ(stays->X, 1.0);
    Particle_RunList(list);
    EXPECT_EQ(stays->X, 2.0);
    Particle_RunList(nullptr);
    Particle_FreeList(list);
}

TEST(ParticleDraw, ATintedQuadAtTheRoundedPosition) {
    ASSERT_TRUE(Platform_Screen_Open(32, 32, true, "Particles test"));
    Sprite3D* quad = Sprite3D_Create(1, 1, 4);
    const uint8_t white[4] = {255, 255, 255, 255};
    Sprite3D_WritePixels(quad, white, 1, 1);
    DoublyLinkedList* list = Particle_CreateList();
    Particle* p = Make(5, 0, 0, 0);
    p->X = 4.5;                 // to 4
    p->Y = 7.5;                 // to 8
    p->Width = p->Height = 2.5; // to 2
    p->Colour = 0xFF00FF00;
    p->Sprite = quad;
    Particle_Add(list, p);
    Particle* bare = Make(5, 0, 0, 0); // no sprite: draws nothing
    Particle_Add(list, bare);
    Particle_DrawList(list);
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(Platform_Screen_ReadPixels(rgba));
    auto px = [&](int x, int y) { return rgba[(size_t(y) * 32 + x) * 4 + 1]; };
    EXPECT_EQ(px(4, 8), 255);
    EXPECT_EQ(px(5, 9), 255);
    EXPECT_EQ(px(6, 9), 0);
    EXPECT_EQ(px(4, 7), 0);
    Particle_FreeList(list);
    Sprite3D_Free(quad);
    Platform_Screen_Close();
}
