// How the sender of a discovery reply relates to the interface that heard
// it: same subnet, both link-local, or elsewhere. Pure address arithmetic.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/device_record.h"

// All addresses are IPv4 in network byte order (first octet first in memory).

// True for 169.254.0.1 to 169.254.255.254; the two ends of 169.254/16 are not.
bool IsLinkLocalAddress(uint32_t address);

// The dotted-quad text of address, bounded by capacity and zero-terminated.
void FormatDottedQuad(uint32_t address, wchar_t* text, size_t capacity);

// LinkLocal when sender and interface address are both link-local, else
// Normal when the sender lies in the interface's network, else OtherSubnet.
DeviceState ClassifySender(uint32_t sender, uint32_t interfaceAddress, uint32_t mask,
                           uint32_t network);
