// Placeholder until the network client lands: a player that is never networked.
#include "Vantrel_Adv_NetClient.h"

#include "Vantrel_Adv_Player.h"

int32_t Net_ClientProcess(Player*) { return 0; }
int32_t Net_TakeRemoteInput(Player*, uint32_t, uint32_t*) { return 0; }
int32_t Net_AddFrameInput(Player*, uint32_t, uint32_t) { return 0; }
int32_t SendNetPacket(Player*) { return 0; }
void Net_ClosePlayerConnection(Player*) {}
int32_t Player_RequestStart(Player* p) { return p ? p->ops->Start(p) : 0; }
uint32_t Player_Connect(Player*, const char16_t*, int32_t, PlayerConnectedCallback,
                        PlayerRemoteCallback, PlayerRemoteCallback) {
    return 0;
}
