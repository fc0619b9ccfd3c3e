// Waiting on many outgoing connections at once (started with Platform_Socket_ConnectStart),
// with a wake-up another thread can ring. The handles are Platform_Socket handles
// (descriptor + 1): send, receive and close them with Platform_Socket_*.
#pragma once

#include <cstdint>
#include <string>

// Platform_Socket_ConnectFrom under the name its older callers use.
uint32_t Platform_Dial_Connect(const char* host, uint16_t port, uint32_t source, int32_t timeoutMs,
                               std::string* why);

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
