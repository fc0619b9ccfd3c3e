// Stand-ins for the player life cycle until the Player unit lands; weak, so the real
// definitions win as soon as they are linked in. Delete this file then.
#include "Vantrel_Adv_Player.h"

__attribute__((weak)) Player* Player_Create(void*, uint32_t) {
    return nullptr;
}
__attribute__((weak)) int32_t Player_Free(Player*) {
    return 0;
}
