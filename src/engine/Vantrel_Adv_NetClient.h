// The network client inside the player: what the player's frame and life cycle call.
#pragma once

#include "Zelvik_Player.h"

// Receive pump of a connected local player (no-op when not networked).
int32_t Net_ClientProcess(Player* p);
// Writes the frame's input of a remote player; 0 when nothing is queued for it yet.
int32_t Net_TakeRemoteInput(Player* p, uint32_t frame, uint32_t* input);
// Queues a local frame's input for sending.
int32_t Net_AddFrameInput(Player* p, uint32_t frame, uint32_t input);
// Sends the packet being built (the end of a game flushes it).
int32_t SendNetPacket(Player* p);
// Closes the player's own connection (Player_Free; never for remote players).
void Net_ClosePlayerConnection(Player* p);
