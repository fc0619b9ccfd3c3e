// The game server inside the engine: accepts clients, hands out the server's rules, starts
// everyone together, relays inputs and runs its own copy of every player's game.
#pragma once

#include "Vantrel_Adv_NetPackets.h"
#include "Zelvik_Server.h"

struct Player;
struct RotationSystemInterface;

#pragma pack(push, 1)
struct RotationSystemEntry {
    RotationSystemInterface* rotationSystem;
    ZelvikID id;
};
#pragma pack(pop)

constexpr uint32_t kClientHelloAccepted = 1;

// One accepted connection.
struct ServerClient {
    uint32_t ClientConnection; // socket handle + 1
    uint32_t ClientFlags;      // kClientHelloAccepted
    Player* HeldPlayer;        // 0 until it joined
    uint8_t ReceiveBuffer[kReceiveBufferSize];
    uint32_t ReceiveCount;
    uint32_t ReceivePartial;
    uint32_t Address;   // peer IPv4, host byte order
    uint32_t Gone;      // disconnected; removed at the end of the pass
    uint32_t NextFrame; // the frame the next Input packet must start at
    uint32_t LastWord;  // last input word queued, for a packet that opens with a repeat
    uint32_t HasLastWord;
    uint32_t Broken;  // a send to it failed; disconnected at the end of the pass
    uint8_t* OutData; // relays and notices of this pass, sent together at its end
    uint32_t OutSize;
    uint32_t OutCapacity;
    uint32_t AwaitingFirst; // started: frames of the game before are dropped until frame 0
};

// 0 when the network cannot be started or the port cannot be opened. Port 0 picks a free one
// (Server_GetPort tells which).
Server* Server_Create(const char16_t* name, int32_t port);
uint16_t Server_GetPort(Server* s);

int32_t Server_AddMode(Server* s, const ZelvikID* id);
int32_t Server_AddRotationSystem(Server* s, const ZelvikID* id);
int32_t Server_SetRandomizer(Server* s, const ZelvikID* id);
int32_t Server_AddModeByName(Server* s, const char16_t* name);
int32_t Server_AddRotationSystemByName(Server* s, const char16_t* name);
int32_t Server_SetRandomizerByName(Server* s, const char16_t* name);
int32_t Server_Process(Server* s);
int32_t Server_SetMessageCallback(Server* s, ServerMessageCallback callback);
int32_t Server_CountPlayers(Server* s);
int32_t Server_CountClients(Server* s);
int32_t Server_Free(Server* s);

// Handles every network event of one poll snapshot.
void Server_HandleNetEvent(Server* s);
// Sends the held player's PacketBuffer to its client (join replies are built here).
int32_t Server_SendNetPacket(Server* s, Player* p);

// Protocol handlers, called with a whole packet in the client's receive buffer.
void Server_OnGetInfo(Server* s, ServerClient* c);
void Server_OnHello(Server* s, ServerClient* c);
void Server_OnJoin(Server* s, ServerClient* c);
void Server_OnReady(Server* s, ServerClient* c);
void Server_OnInputPacket(Server* s, ServerClient* c);
void Server_OnDisconnect(Server* s, uint32_t connection);
