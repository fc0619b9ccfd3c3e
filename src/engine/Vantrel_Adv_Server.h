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
constexpr uint32_t kClientHelloRefused = 2; // a Hello of another engine version came
constexpr uint32_t kClientJoinTried = 4;    // a Join came: a second one ends the connection

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
    uint32_t AwaitingFirst;     // started: frames of the game before are dropped until frame 0
    uint64_t Order;             // connect order: a pass handles its ready clients in it
    uint32_t WatchWrite;        // the wait set reports it writable while its backlog drains
    uint32_t AcceptedAt;        // GetMilliseconds at the connect: the deadline to join runs from it
    uint32_t Spoke;             // some bytes have arrived from it
    uint64_t RefusedVersion;    // the engine version of a refused Hello, for the log
    const char16_t* DropReason; // why the server ends the connection, for the log; 0: it left
    uint32_t Faults;            // packets it may not send (wrong ids, Ready/Input unjoined)
    uint32_t Queued;            // bytes the kernel has not taken yet, as last looked at
    uint32_t QuietDrop;         // its closing is counted in the summary, not given a line
    uint32_t ReadyIndex;        // the rotation system its last Ready chose
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
// The host's wait between passes: returns once a connection, data or a hang-up is waiting,
// or a backlog can move, or after timeoutMs. It never returns sooner than the pass gap
// after the previous Server_Process began, so the relays of a busy moment leave together:
// at most one send per client per gap instead of one per arriving packet. 1 when something
// is waiting, 0 on timeout.
int32_t Server_Wait(Server* s, int32_t timeoutMs);
// The pass gap in microseconds (0..100000): a longer one costs fewer sends per second and
// adds up to that much to every relay's latency.
constexpr int32_t kServerPassGapUs = 1000;
int32_t Server_SetPassGap(Server* s, int32_t us);
// Admission: a connection has joinDeadlineMs from its connect to join (info queries too), and
// at most waitingPerAddress connections from one address may be waiting to join at once (a
// further one closes the oldest of them, silent ones first). Joined players count against
// neither, so a LAN party or a test with many clients on one address is not limited.
constexpr int32_t kServerWaitingPerAddress = 16;
constexpr int32_t kServerJoinDeadlineMs = 5000;
int32_t Server_SetAdmission(Server* s, int32_t waitingPerAddress, int32_t joinDeadlineMs);
// What is not logged one by one (info queries, connections closed before they joined) is
// summed up in the log at most once per period, and only when something happened.
constexpr int32_t kServerSummaryMs = 60000;
// Connections held at once: the open-descriptor limit (raised to its hard limit at creation)
// less a reserve, at most kServerMaxConnections. Below kServerWantedConnections the log warns:
// addresses enough to fill fewer could crowd players out.
constexpr uint64_t kServerMaxConnections = 65536;
constexpr int32_t kServerWantedConnections = 16384;
int32_t Server_GetCapacity(Server* s);
int32_t Server_SetSummaryPeriod(Server* s, int32_t ms);
// Players held at once, from one address and in all: far beyond a LAN party, low enough that
// one address cannot make the server hold gigabytes of announcements for clients that never
// read. A refused Join gets a message saying why.
constexpr int32_t kServerPlayersPerAddress = 64;
constexpr int32_t kServerMaxPlayers = 256;
int32_t Server_SetPlayerLimits(Server* s, int32_t perAddress, int32_t total);
// Bytes waiting in all clients' send queues at most; past it the clients with the most waiting
// (the slowest readers) are dropped until it holds again.
constexpr uint64_t kServerSendBudget = 64u << 20;
// Packets a connection may send out of turn (another player's id, Ready or Input before it
// joined, a Ready while ready) before the server closes it.
constexpr uint32_t kServerFaultAllowance = 8;

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
