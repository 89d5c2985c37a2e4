// The one reader of the system's IPv4 address table and neighbour (ARP)
// table, through the g_platform seam. Either table may grow between the size
// probe and the read (an address added, a neighbour resolved meanwhile): the
// read is then made again at the size it asks for, a bounded number of
// times. A row count is never trusted beyond the buffer that was read. Rows
// come back as small arrays of plain values, all addresses in network byte
// order; the caller frees them with FreeTableRows.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

// Reads of a table in all, the first included, while it keeps growing.
constexpr int kTableReadAttempts = 4;

// Neighbour rows that count: resolved (dynamic) or permanent (static), with
// a six-byte hardware address other than zeros. Wine adds static rows for
// some multicast groups with no hardware address at all, and may show an
// address still being resolved with zeros; those never count.
constexpr DWORD kNeighbourTypeDynamic = 3;
constexpr DWORD kNeighbourTypeStatic = 4;
constexpr DWORD kNeighbourMacLength = 6;

struct AddressRow {
    uint32_t address;
    uint32_t mask;
    uint32_t index;  // the interface's index
};

struct NeighbourRow {
    uint32_t address;
    uint32_t interfaceIndex;
    unsigned char mac[kNeighbourMacLength];
    // Reachable, stale, delay or permanent as far as MarkLiveNeighbours knows
    // (the plain table has no states): an address that moved away or stopped
    // answering keeps its MAC in the table for a while, and gives it to no one.
    bool live;
};

// Every row of the address table, in table order. Returns NO_ERROR with
// *rows a new array (not null, even with no rows), or the failing status
// with *rows null and *count 0.
DWORD ReadAddressRows(AddressRow** rows, uint32_t* count);

// The counting rows of the neighbour table, in table order; returns as
// ReadAddressRows does.
DWORD ReadNeighbourRows(NeighbourRow** rows, uint32_t* count);

// Marks the rows that the table with states (GetIpNetTable2) shows in no live
// state: unreachable, incomplete, probe (no longer known reachable, and
// being verified), or flagged unreachable (Wine shows an address that failed
// to resolve as stale with that flag). Rows it does not show stay live.
// Returns NO_ERROR, or the failing status with every row left as it was.
DWORD MarkLiveNeighbours(NeighbourRow* rows, uint32_t count);

// Frees an array from either reader; null is allowed.
void FreeTableRows(void* rows);

// The address and mask of the interface with this index: its first row in
// table order with an address other than 0.0.0.0. Returns NO_ERROR,
// ERROR_INVALID_PARAMETER when the interface has no such row, or the
// failing status of the read.
DWORD ReadInterfaceAddress(uint32_t interfaceIndex, uint32_t* address, uint32_t* mask);

// The index of the interface that holds address, from rows ReadAddressRows
// gave (its first row with that address). False when none holds it.
bool FindInterfaceOfAddress(const AddressRow* rows, uint32_t count, uint32_t address, uint32_t* interfaceIndex);
