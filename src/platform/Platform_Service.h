// What a network service built on a server library needs from the system: a listening socket
// it owns alone, enough descriptors for many connections, and its callers' addresses as text.
#pragma once

#include <cstdint>
#include <string>

// A listening, non-blocking TCP socket on address (dotted IPv4) and port (0 takes a free one)
// for a server library to take over. The port is never shared with another listener, so a
// second program on a port in use fails here. Returns the descriptor and the bound port in
// *bound, or -1 with the reason in *error.
int Platform_Service_Listen(const std::string& address, uint16_t port, int backlog, uint16_t* bound,
                            std::string* error);
// Raises the soft limit on open descriptors to the hard limit; returns the limit now in force.
uint64_t Platform_Service_RaiseDescriptorLimit();
// The dotted IPv4 text of a socket address (IPv4, or IPv4 mapped into IPv6); "" otherwise.
std::string Platform_Service_AddressText(const void* socketAddress);
