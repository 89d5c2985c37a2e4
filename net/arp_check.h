// Cross-check of the MAC address a device reports against this computer's
// ARP (IPv4 neighbour) table, read through the g_platform seam.
//
// A burst of answers would read the whole table once per answer, which is
// slow for large tables; a receive worker therefore keeps one snapshot of
// the table and reuses it for answers that arrive close together, as long
// as it already holds an entry for the sender.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <stdint.h>

#include "core/device_record.h"

// A snapshot older than this is read afresh.
constexpr DWORD kArpSnapshotMaxAgeMs = 100;

// One copy of the ARP table, owned by one receive worker (not shared).
struct ArpSnapshot {
    MIB_IPNETTABLE* table;  // LocalAlloc'd, or null when none is held
    DWORD rowCount;         // rows that lie inside the allocation
    DWORD readTick;         // GetTickCount value when it was read
};

void InitArpSnapshot(ArpSnapshot* snapshot);

// Frees the table, if any, and leaves the snapshot empty.
void ReleaseArpSnapshot(ArpSnapshot* snapshot);

// Replaces the snapshot with a fresh copy of the table; its age counts from
// tick now plus the time the read itself took.
// Returns NO_ERROR, or the failing status with the snapshot left empty.
DWORD RefreshArpSnapshot(ArpSnapshot* snapshot, DWORD now);

// True when the snapshot holds a row that counts for this sender: dynamic or
// static type, a 6-byte hardware address and the sender's IPv4 address.
bool ArpSnapshotHasSender(const ArpSnapshot* snapshot, uint32_t sender);

// Sets record->arpMismatch when a counting row for sender has a hardware
// address other than record->macText (compared ignoring case) and
// record->arpConfirmed when one has the same; both stay 0 without a counting
// row or when the table cannot be read. The snapshot is reused when it is
// younger than kArpSnapshotMaxAgeMs and has a counting row for the sender,
// otherwise read afresh. now is the current GetTickCount value.
void ArpCrossCheck(ArpSnapshot* snapshot, uint32_t sender, DeviceRecord* record, DWORD now);
