// TCP for the game protocol: non-blocking sockets polled with poll(), never a busy loop.
// Handles are descriptor + 1, so 0 always means "no connection".
#pragma once

#include <cstdint>
#include <string>

// Ignores SIGPIPE once per process as a second guard beside MSG_NOSIGNAL; always 1.
int32_t Platform_Socket_Init();
// Raises this process's open-descriptor limit to its hard limit (at most 1,048,576) so a server
// can hold many connections; returns the limit now in force.
uint64_t Platform_Socket_RaiseDescriptorLimit();

// Listening socket on every local address, with the system's largest backlog of pending
// connections; 0 when the port cannot be opened.
// ipv4 (first octet in the lowest byte) 0 listens on every address.
uint32_t Platform_Socket_Listen(uint16_t port, uint32_t ipv4 = 0);
// Port a listener is bound to (useful after listening on port 0); 0 on failure.
uint16_t Platform_Socket_LocalPort(uint32_t listener);
// One pending connection, made non-blocking; 0 when none is waiting.
// ipv4 receives the peer's address in host byte order (a.b.c.d = a << 24 ...).
uint32_t Platform_Socket_Accept(uint32_t listener, uint32_t* ipv4);
// Connects to host:port (IPv4, name or dotted), waiting at most timeoutMs; 0 on failure.
uint32_t Platform_Socket_Connect(const char* host, uint16_t port, int32_t timeoutMs);
// The same from the local address source (first octet in the lowest byte; 0 lets the system
// choose); on failure *why (when not null) says why ("Connection refused", "no answer within
// 5 s", "unknown host").
uint32_t Platform_Socket_ConnectFrom(const char* host, uint16_t port, uint32_t source,
                                     int32_t timeoutMs, std::string* why);
// Starts a connection to address:port (first octet in the lowest byte) without waiting for it;
// 0 when it cannot even start (no descriptor left, no route). Poll it for writing to learn when
// it is made.
uint32_t Platform_Socket_ConnectStart(uint32_t address, uint16_t port);
// After a started connection polled writable or hung up: true when it is made.
bool Platform_Socket_ConnectMade(uint32_t handle);

// Queues the whole buffer: what the kernel does not take now waits for Platform_Socket_Flush,
// so a packet is never cut. Returns size, or -1 when the connection failed or the peer has
// let more than kSendBacklogLimit bytes pile up.
int32_t Platform_Socket_Send(uint32_t handle, const void* data, uint32_t size);
// Only queues the buffer (bounded like a send); the next Flush writes it together with what
// else was queued, so many small packets to one peer leave in few system calls.
int32_t Platform_Socket_Queue(uint32_t handle, const void* data, uint32_t size);
// Tries to write queued bytes; returns the bytes still queued, or -1 on a hard error.
int32_t Platform_Socket_Flush(uint32_t handle);
// Bytes still queued for sending on this handle.
uint32_t Platform_Socket_Backlog(uint32_t handle);
// Up to size bytes: > 0 bytes read, 0 when nothing is waiting, -1 when the peer closed
// the connection or it failed.
int32_t Platform_Socket_Receive(uint32_t handle, void* data, uint32_t size);

struct PlatformPollEntry {
    uint32_t handle;
    uint8_t readable; // out: data (or a pending connection) can be read
    uint8_t hangup;   // out: the connection closed or failed
    uint8_t writable; // out: queued bytes can be written (asked only when a backlog exists)
};
// One poll() over the entries, waiting at most timeoutMs (0 = just look). Returns the number
// of entries with something to report, 0 on timeout, -1 on error.
int32_t Platform_Socket_Poll(PlatformPollEntry* entries, uint32_t count, int32_t timeoutMs);
// 1 when data (or a hang-up) is waiting within timeoutMs.
int32_t Platform_Socket_Readable(uint32_t handle, int32_t timeoutMs);

// A readiness set: sockets registered once, each wait reports only the ready ones, so a
// server with hundreds of clients does not hand the kernel every socket on every pass.
// A socket belongs to at most one set; closing it takes it out.
struct PlatformReadyEntry {
    uint64_t key;     // what the socket was registered with
    uint8_t readable; // data, a pending connection or a hang-up can be read
    uint8_t hangup;   // the connection closed or failed
    uint8_t writable; // reported only while the socket is watched for writing
};
// 0 when the set cannot be made.
uint32_t Platform_Socket_WaitSetCreate();
// Watches handle for reading, reporting it with key; 1 on success.
int32_t Platform_Socket_WaitSetAdd(uint32_t set, uint32_t handle, uint64_t key);
// Also (or no longer) reports the socket as writable: ask for it only while a backlog exists,
// or every wait returns at once.
int32_t Platform_Socket_WaitSetWatchWrite(uint32_t set, uint32_t handle, uint64_t key,
                                          int32_t watch);
void Platform_Socket_WaitSetRemove(uint32_t set, uint32_t handle);
// Waits at most timeoutUs (0 = just look) for ready sockets and fills up to max entries.
// Returns how many, 0 on timeout, -1 on error.
int32_t Platform_Socket_WaitSetWait(uint32_t set, PlatformReadyEntry* entries, uint32_t max,
                                    int64_t timeoutUs);
void Platform_Socket_WaitSetFree(uint32_t set);

// Peer's IPv4 address in host byte order; 0 when unknown.
uint32_t Platform_Socket_PeerAddress(uint32_t handle);
// Closes the connection and drops its send queue; a 0 handle is ignored.
void Platform_Socket_Close(uint32_t handle);
// Hands memory freed by closed connections and drained queues back to the system: after
// thousands of departures the allocator would otherwise keep it for good.
void Platform_Socket_TrimMemory();

constexpr uint32_t kSendBacklogLimit = 1u << 20;
