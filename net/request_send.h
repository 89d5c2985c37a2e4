// Sends the discovery request from an interface's socket: to its broadcast
// address (transmit worker) or to one device (receive worker, to confirm a
// device that has fallen silent). Answers come back to the same socket.
#pragma once

#include <stdint.h>

#include "net/interface_entry.h"

// Sends one request to address (network byte order) under the socket lock;
// true when the whole request went out.
bool SendDiscoveryRequestTo(InterfaceEntry* entry, uint32_t address);
