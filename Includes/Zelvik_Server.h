// The game server as a host drives it: the record Server_Create returns and its 13
// operations, in slot order. Everything runs on the host's thread.
#pragma once

#include "Zelvik_ID.h"

#include <cstddef>
#include <cstdint>

struct DoublyLinkedList;
struct ClientInterface;
struct Game;
struct RandomizerInterface;
struct Server;

// A log line of the server, valid only during the call; the result is ignored.
using ServerMessageCallback = int32_t (*)(const char16_t* text);

struct ServerOps {
    int32_t (*AddMode)(Server* s, const ZelvikID* id);
    int32_t (*AddRotationSystem)(Server* s, const ZelvikID* id);
    int32_t (*SetRandomizer)(Server* s, const ZelvikID* id);
    int32_t (*AddModeByName)(Server* s, const char16_t* name);
    int32_t (*AddRotationSystemByName)(Server* s, const char16_t* name);
    int32_t (*SetRandomizerByName)(Server* s, const char16_t* name);
    int32_t (*Process)(Server* s); // always 1; never waits
    int32_t (*SetMessageCallback)(Server* s, ServerMessageCallback callback);
    int32_t (*Register)(Server* s);
    int32_t (*Unregister)(Server* s);
    int32_t (*CountPlayers)(Server* s); // clients that joined with a player
    int32_t (*CountClients)(Server* s); // connected clients
    int32_t (*Free)(Server* s);
};
static_assert(sizeof(ServerOps) == 13 * sizeof(void*));
static_assert(offsetof(ServerOps, Process) == 6 * sizeof(void*));
static_assert(offsetof(ServerOps, Free) == 12 * sizeof(void*));

constexpr uint32_t kServerNameUnits = 256;

struct Server {
    const ServerOps* ops;
    uint32_t Listener;                       // listening socket handle + 1
    DoublyLinkedList* Clients;               // ServerClient elements, in connect order
    DoublyLinkedList* ServerModes;           // ModeEntry elements
    DoublyLinkedList* ServerRotationSystems; // RotationSystemEntry elements
    char16_t ServerName[kServerNameUnits + 1];
    ServerMessageCallback MessageCallback;
    uint32_t GameRunning;
    uint32_t SharedSeed;
    RandomizerInterface* ServerRandomizer;
    ZelvikID ServerRandomizerID;
    ::Game* ServerGame;
    ClientInterface* ClientCallbacks;
};
static_assert(offsetof(Server, ops) == 0);
