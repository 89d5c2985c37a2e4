// The neighbour table as the multicast DNS lookups of every worker read it:
// one shared read, with the address table read alongside (which interface
// holds the address a device was heard on), taken by lookups that may not
// wait while it is recent enough, and searched for a device's row on the
// interface that heard it only.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

// A lookup that may not wait takes a read of the table that ended this
// recently: a burst of devices found together costs one read, not one each
// (under Wine a read takes ~90 ms with 254 neighbours, over 100 ms on a busy
// machine).
constexpr DWORD kSharedReadMaxAgeMs = 100;

// What a lookup asks of the neighbour table: the row of address on the
// interface that holds interfaceAddress. Its MAC comes back in mac, and in
// *shared whether that interface's live rows (reachable, stale, delay or
// permanent) give the MAC to other addresses too (a bridge answering ARP for
// the devices behind it).
struct NeighbourAsked {
    uint32_t address;
    uint32_t interfaceAddress;
    unsigned char* mac;
    bool* shared;
};

// True when the neighbour table holds a counting row for the address on the
// interface (reachable, stale or permanent, with a six-byte address), in a
// read that ended at most maxAgeMs before this call (0: read now) and began
// not before *floor (null: no floor). *readStart: when the read it searched
// began. A lookup never waits for another's read except one that serves it
// too, and then only until that read ends.
bool FindNeighbour(const NeighbourAsked& asked, DWORD maxAgeMs, const DWORD* floor, DWORD* readStart);
