// Cross-check of the MAC address a device reports against this computer's
// ARP (IPv4 neighbour) table, read by the platform table reader.
//
// Reading the whole table is slow (under Wine about 86 ms with 254
// neighbours, and a round trip to the server per row even with few), so a
// receive worker keeps one snapshot of it in an ArpGate and reads it afresh
// at most once per kArpReadIntervalMs, and never sooner after a read than
// kArpReadCostFactor times what that read took: reading takes at most about
// a quarter of the worker's time, however many answers arrive. An answer
// from a sender the snapshot knows is judged against it, and reads the
// table again only once the snapshot is kArpRecheckMs old; one from a sender
// it does not know waits in a bounded queue for the next read, which judges
// every waiting answer. So a flood of datagrams from spoofed senders costs a
// few reads a second, not one read per datagram, and known devices answering
// every half second cost one read per kArpRecheckMs.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "core/device_record.h"
#include "core/platform_tables.h"

// Reads of the table are at least this far apart, and at least this many
// times as far as the last read took.
constexpr DWORD kArpReadIntervalMs = 250;
constexpr DWORD kArpReadCostFactor = 3;
// While no answer waits, the snapshot serves known senders this long: the
// ARP column of a listed device then follows its table row within two
// seconds, inside the 3 s its row lives without an answer.
constexpr DWORD kArpRecheckMs = 2000;
// Answers waiting for a read; beyond this the oldest is dropped. More than a
// burst of 250 real devices within one interval needs.
constexpr size_t kArpWaitingCapacity = 512;
// Of the answers a read judges, at most this many from senders the table
// still does not know go to the window; the rest are dropped. A device on
// this computer's subnet resolves it before answering, so the table knows
// it by then; a stranger may be a device of another subnet, or a made-up
// sender. Without the limit, a flood of made-up senders reaches the window
// as fast as the worker can read it, the window falls ever further behind
// with its queue of answers growing without bound, and real rows wait in
// that queue. About 128 a second at most, per interface: room for some
// sixty devices of other subnets answering twice a second. Which of them go
// moves on with each read, so that every stranger answering again is
// listed within a few reads.
constexpr size_t kArpStrangerPostsPerRead = 32;

// One copy of the ARP table, owned by one receive worker (not shared).
struct ArpSnapshot {
    NeighbourRow* table;  // the counting rows (ReadNeighbourRows), or null when none is held
    uint32_t rowCount;
};

void InitArpSnapshot(ArpSnapshot* snapshot);

// Frees the table, if any, and leaves the snapshot empty.
void ReleaseArpSnapshot(ArpSnapshot* snapshot);

// Replaces the snapshot with a fresh copy of the table's counting rows.
// Returns NO_ERROR, or the failing status with the snapshot left empty.
DWORD RefreshArpSnapshot(ArpSnapshot* snapshot);

// True when the snapshot holds a row for the sender's IPv4 address.
bool ArpSnapshotHasSender(const ArpSnapshot* snapshot, uint32_t sender);

// Sets record->arpMismatch when a row for sender has a hardware
// address other than record->macText (compared ignoring case), with that
// address in record->arpTableMac (zeros when the rows that disagree give
// different ones), and record->arpConfirmed when one has the same. Flags
// already set stay set; an empty snapshot sets none.
void JudgeAgainstSnapshot(const ArpSnapshot* snapshot, uint32_t sender, DeviceRecord* record);

// Takes a judged record, the answer of sender, and owns it from then on
// (posts it or frees it); context is the one given to InitArpGate.
typedef bool (*RecordSink)(void* context, uint32_t sender, DeviceRecord* record);

struct ArpWaiting {
    DeviceRecord* record;
    uint32_t sender;
};

// The snapshot, the rule for when to read it, and the answers waiting for
// the next read; owned by one receive worker.
struct ArpGate {
    ArpSnapshot snapshot;
    RecordSink post;
    void* postContext;
    bool readAttempted;  // whether the two below mean anything yet
    DWORD lastReadTick;  // when the last read, failed or not, ended
    DWORD lastReadMs;    // how long it took
    DWORD(WINAPI* clock)(void);  // times the reads: GetTickCount, or a test's clock
    size_t first;        // oldest waiting answer in the ring
    size_t count;
    size_t strangerTurn;  // where the next read's window of strangers starts
    ArpWaiting waiting[kArpWaitingCapacity];
};

void InitArpGate(ArpGate* gate, RecordSink post, void* postContext);

// Frees the snapshot and every waiting record, unposted.
void ReleaseArpGate(ArpGate* gate);

// Takes ownership of record, the answer of sender. When a read is due (see
// above: kArpRecheckMs after the last when the snapshot knows sender and no
// answer waits, kArpReadIntervalMs otherwise) the table is read, and the
// waiting records, this one last, are judged against it and posted, oldest
// first, within the limit on strangers. Otherwise a sender the snapshot
// knows is judged against it and posted at once; one it does not know waits
// for the next read (the oldest waiting record is dropped when the queue is
// full). now is the current GetTickCount value.
void SubmitToArpGate(ArpGate* gate, uint32_t sender, DeviceRecord* record, DWORD now);

// Reads the table, judges and posts the waiting records (within the limit on
// strangers) when some wait and a read is due; the receive loop calls it on every pass so that
// they go out even when nothing more arrives.
void FlushArpGate(ArpGate* gate, DWORD now);
