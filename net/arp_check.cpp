// ARP table cross-check with a short-lived per-worker snapshot of the table,
// and the gate that decides when the table is read again and which answers
// wait for that read.
#include "net/arp_check.h"

#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "core/device_record.h"
#include "core/mac_text.h"
#include "net/discovery_events.h"

namespace {

// Compares the reported MAC text with the row's address as this computer
// formats it, in any spelling the list takes as the same MAC.
bool MacTextEquals(const wchar_t* macText, const unsigned char* address)
{
    wchar_t formatted[18];
    swprintf(formatted, 18, L"%02X-%02X-%02X-%02X-%02X-%02X", address[0], address[1], address[2],
             address[3], address[4], address[5]);
    return SameMacText(macText, formatted);
}

}  // namespace

void InitArpSnapshot(ArpSnapshot* snapshot)
{
    snapshot->table = nullptr;
    snapshot->rowCount = 0;
}

void ReleaseArpSnapshot(ArpSnapshot* snapshot)
{
    FreeTableRows(snapshot->table);
    InitArpSnapshot(snapshot);
}

DWORD RefreshArpSnapshot(ArpSnapshot* snapshot)
{
    ReleaseArpSnapshot(snapshot);
    return ReadNeighbourRows(&snapshot->table, &snapshot->rowCount);
}

bool ArpSnapshotHasSender(const ArpSnapshot* snapshot, uint32_t sender)
{
    for (uint32_t i = 0; i < snapshot->rowCount; ++i) {
        if (snapshot->table[i].address == sender) {
            return true;
        }
    }
    return false;
}

void JudgeAgainstSnapshot(const ArpSnapshot* snapshot, uint32_t sender, DeviceRecord* record)
{
    // Every row of the sender, all interfaces, without stopping at the first.
    // The other MAC is kept only while every row that disagrees gives the same
    // one: the list matches it with the device's multicast DNS answer.
    static const unsigned char kNoMac[kNeighbourMacLength] = {};
    bool otherSeen = memcmp(record->arpTableMac, kNoMac, kNeighbourMacLength) != 0;
    for (uint32_t i = 0; i < snapshot->rowCount; ++i) {
        const NeighbourRow& row = snapshot->table[i];
        if (row.address != sender) {
            continue;
        }
        if (MacTextEquals(record->macText, row.mac)) {
            record->arpConfirmed = 1;
            continue;
        }
        record->arpMismatch = 1;
        if (!otherSeen) {
            memcpy(record->arpTableMac, row.mac, kNeighbourMacLength);
            otherSeen = true;
        } else if (memcmp(record->arpTableMac, row.mac, kNeighbourMacLength) != 0) {
            memset(record->arpTableMac, 0, kNeighbourMacLength);
        }
    }
}

namespace {

// shortestGap: kArpReadIntervalMs when an answer waits for the read,
// kArpRecheckMs when it would only judge known senders again.
bool ReadIsDue(const ArpGate* gate, DWORD now, DWORD shortestGap)
{
    if (!gate->readAttempted) {
        return true;
    }
    // A slow table (a busy machine, many neighbours) is read less often.
    DWORD gap = gate->lastReadMs * kArpReadCostFactor;
    if (gap < shortestGap) {
        gap = shortestGap;
    }
    // A now taken before the last read ended (lastReadTick lies up to the
    // read's own length after the now it was given) is no time after it.
    DWORD ahead = gate->lastReadTick - now;
    if (ahead != 0 && ahead <= gate->lastReadMs) {
        return false;
    }
    // Wrapping tick arithmetic: right across the 49.7-day wrap.
    return now - gate->lastReadTick >= gap;
}

ArpWaiting TakeOldest(ArpGate* gate)
{
    ArpWaiting oldest = gate->waiting[gate->first];
    gate->first = (gate->first + 1) % kArpWaitingCapacity;
    --gate->count;
    return oldest;
}

// Waiting answers whose senders the snapshot does not know.
size_t CountStrangers(const ArpGate* gate)
{
    size_t strangers = 0;
    for (size_t i = 0; i < gate->count; ++i) {
        const ArpWaiting& waiting = gate->waiting[(gate->first + i) % kArpWaitingCapacity];
        if (!ArpSnapshotHasSender(&gate->snapshot, waiting.sender)) {
            ++strangers;
        }
    }
    return strangers;
}

// Reads the table and posts every waiting record, judged against it; a
// failed read leaves the snapshot empty, so they go out without flags.
void ReadAndPostWaiting(ArpGate* gate, DWORD now)
{
    // Under Wine one read can take a good part of the interval, so the gap
    // counts from its end.
    DWORD started = gate->clock();
    RefreshArpSnapshot(&gate->snapshot);
    gate->readAttempted = true;
    gate->lastReadMs = gate->clock() - started;
    gate->lastReadTick = now + gate->lastReadMs;
    size_t strangers = CountStrangers(gate);
    // Over the limit, the strangers posted are a window that moves on with
    // each read: devices the table never learns answer every request in the
    // same order, and a window at the front would list the same few each
    // time and the rest never.
    size_t first = 0;
    if (strangers > kArpStrangerPostsPerRead) {
        first = gate->strangerTurn % strangers;
        gate->strangerTurn = first + kArpStrangerPostsPerRead;
    }
    size_t rank = 0;
    while (gate->count > 0) {
        ArpWaiting waiting = TakeOldest(gate);
        if (!ArpSnapshotHasSender(&gate->snapshot, waiting.sender)) {
            size_t place = (rank + strangers - first) % strangers;
            ++rank;
            if (place >= kArpStrangerPostsPerRead) {
                NoteAnswerFate(waiting.record->heardOn, waiting.sender, diag::kAnswersDroppedByArpGate);
                FreeDeviceRecord(waiting.record);
                continue;
            }
        }
        JudgeAgainstSnapshot(&gate->snapshot, waiting.sender, waiting.record);
        gate->post(gate->postContext, waiting.sender, waiting.record);
    }
}

void Enqueue(ArpGate* gate, uint32_t sender, DeviceRecord* record)
{
    if (gate->count == kArpWaitingCapacity) {
        // A flood: the oldest answer gives way.
        ArpWaiting oldest = TakeOldest(gate);
        NoteAnswerFate(oldest.record->heardOn, oldest.sender, diag::kAnswersDroppedByArpGate);
        FreeDeviceRecord(oldest.record);
    }
    ArpWaiting& slot = gate->waiting[(gate->first + gate->count) % kArpWaitingCapacity];
    slot.record = record;
    slot.sender = sender;
    ++gate->count;
}

}  // namespace

void InitArpGate(ArpGate* gate, RecordSink post, void* postContext)
{
    InitArpSnapshot(&gate->snapshot);
    gate->post = post;
    gate->postContext = postContext;
    gate->readAttempted = false;
    gate->lastReadTick = 0;
    gate->lastReadMs = 0;
    gate->clock = GetTickCount;
    gate->first = 0;
    gate->count = 0;
    gate->strangerTurn = 0;
}

void ReleaseArpGate(ArpGate* gate)
{
    while (gate->count > 0) {
        FreeDeviceRecord(TakeOldest(gate).record);
    }
    ReleaseArpSnapshot(&gate->snapshot);
}

void SubmitToArpGate(ArpGate* gate, uint32_t sender, DeviceRecord* record, DWORD now)
{
    bool known = ArpSnapshotHasSender(&gate->snapshot, sender);
    DWORD shortestGap = known && gate->count == 0 ? kArpRecheckMs : kArpReadIntervalMs;
    if (ReadIsDue(gate, now, shortestGap)) {
        // Last in the queue, so that it goes out after the older answers
        // and under the same limit as they.
        Enqueue(gate, sender, record);
        ReadAndPostWaiting(gate, now);
        return;
    }
    if (!known) {
        // Not judged against a table that cannot know it yet.
        Enqueue(gate, sender, record);
        return;
    }
    JudgeAgainstSnapshot(&gate->snapshot, sender, record);
    gate->post(gate->postContext, sender, record);
}

void FlushArpGate(ArpGate* gate, DWORD now)
{
    if (gate->count > 0 && ReadIsDue(gate, now, kArpReadIntervalMs)) {
        ReadAndPostWaiting(gate, now);
    }
}
