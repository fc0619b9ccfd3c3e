// Outgoing TCP connections that Platform_Socket_Connect does not make: from a chosen local
// address, with the reason of a failure, and many at once without blocking. The handles are
// Platform_Socket handles (descriptor + 1): send, receive and close them with Platform_Socket_*.
#pragma once

#include <cstdint>
#include <string>

// Connects to host:port (IPv4, name or dotted) from the local address source (first octet in
// the lowest byte; 0 lets the system choose), waiting at most timeoutMs. 0 on failure, with
// *why saying why ("Connection refused", "no answer within 5 s", "unknown host").
uint32_t Platform_Dial_Connect(const char* host, uint16_t port, uint32_t source, int32_t timeoutMs,
                               std::string* why);

// Starts a connection to address:port (first octet in the lowest byte) without waiting for it;
// 0 when it cannot even start (no descriptor left, no route). Poll it for writing to learn when
// it is made.
uint32_t Platform_Dial_Start(uint32_t address, uint16_t port);
// After a started connection polled writable or hung up: true when it is made.
bool Platform_Dial_Made(uint32_t handle);

struct PlatformDialPoll {
    uint32_t handle;
    uint8_t wantWrite; // in: also report writability (a connection under way)
    uint8_t readable;  // out: data or a hang-up can be read
    uint8_t writable;  // out
    uint8_t hangup;    // out: closed or failed
};
// One poll() over the entries and, when wake is not 0, the reading end of a Platform_Dial_Waker
// (drained when it fired); waits at most timeoutMs (-1: until something happens). Returns the
// number of entries with news, 0 on timeout or a wake-up, -1 on error.
int32_t Platform_Dial_Poll(PlatformDialPoll* entries, uint32_t count, uint32_t wake,
                           int32_t timeoutMs);

// A wake-up for a thread sleeping in Platform_Dial_Poll; 0 when it cannot be made.
uint32_t Platform_Dial_WakerCreate();
// Any thread; a wake-up that nobody waits for yet ends the next poll at once.
void Platform_Dial_Wake(uint32_t waker);
void Platform_Dial_WakerFree(uint32_t waker);
