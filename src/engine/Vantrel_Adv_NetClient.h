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
// Sends the frames of an input packet not sent yet; nothing else.
int32_t Net_FlushInput(Player* p);
// Closes the player's own connection (Player_Free; never for remote players).
void Net_ClosePlayerConnection(Player* p);

// Queue records of a remote or server-held player.
struct ChecksumRecord {
    uint32_t frame;
    uint32_t checksum;
};
struct SyncRecord {
    uint32_t frame;
    uint32_t activeKind;
    uint32_t previewKinds[64];
};
static_assert(sizeof(SyncRecord) == 264);

// The player itself when its Id is id, else its remote player with that id, else 0.
Player* Net_FindPlayer(Player* p, uint32_t id);
// Sends a 513-byte NetCmd_Message over connection; the send result (-1 on failure).
int32_t Net_SendMessage(uint32_t connection, const char16_t* text);
// Drops what the network client remembers about p (call before freeing a held player).
void Net_ForgetPlayer(Player* p);
// Appends a u32 word to *queue, creating the list on first use; false when memory runs out.
bool Net_QueueWord(DoublyLinkedList** queue, uint32_t word);
// Frames a queue may hold for one player: ten seconds at its frame rate (60 when unset).
uint32_t Net_MaxQueuedFrames(const Player* p);
