// The master-server list as the engine's ServerList_Get returns it, and the per-server query
// record that the server browser reads. Natural alignment: every module includes this header.
#pragma once

#include <cstddef>
#include <cstdint>

struct DoublyLinkedList;
struct ServerInfo;
struct ServerList;

constexpr uint32_t kServerInfoNameUnits = 256;

struct ServerInfoOps {
    // Asks the server for name, players and maximum and measures the ping (at most about
    // 2000 ms); safe on many threads at once, each on its own record. Always 0.
    int32_t (*Query)(ServerInfo* info);
};

struct ServerInfo {
    const ServerInfoOps* ops;
    uint32_t address;                    // IPv4, first octet in the lowest byte
    char16_t name[kServerInfoNameUnits]; // zero padded; not terminated when all 256 are used
    int32_t ping;     // ms; -1 = the last query got no answer; 0 before the first query
    uint32_t players; // players with a game on the server
    int32_t maximum;  // -1 = no limit
};
static_assert(offsetof(ServerInfo, address) == sizeof(void*));
static_assert(offsetof(ServerInfo, name) == sizeof(void*) + 4);
static_assert(offsetof(ServerInfo, ping) == sizeof(void*) + 4 + 2 * kServerInfoNameUnits);
static_assert(offsetof(ServerInfo, maximum) == sizeof(void*) + 4 + 2 * kServerInfoNameUnits + 8);
static_assert(sizeof(void*) != 8 || sizeof(ServerInfo) == 536);

struct ServerListOps {
    int32_t (*Count)(ServerList* list);
    // The entry at a 0-based index, or 0; moves the entry list's cursor (one thread only).
    ServerInfo* (*GetEntry)(ServerList* list, int32_t index);
};
static_assert(sizeof(ServerListOps) == 2 * sizeof(void*));

constexpr size_t kServerListProblemSize = 256;

// Has no free operation: a list lives until the process ends.
struct ServerList {
    const ServerListOps* ops;
    DoublyLinkedList* entries; // ServerInfo elements
    // Empty when the master answered (an empty list then means no server is registered);
    // otherwise why there is no list, as one line of UTF-8 for the user ("Could not reach the
    // master 127.0.0.1:9: Connection refused"), zero terminated.
    char problem[kServerListProblemSize];
};
static_assert(offsetof(ServerList, entries) == sizeof(void*));
