// ARP table cross-check with a short-lived per-worker snapshot of the table,
// and the gate that decides when the table is read again and which answers
// wait for that read.
#include "net/arp_check.h"

#include <stddef.h>
#include <stdio.h>

#include "core/device_record.h"
#include "core/platform.h"

namespace {

constexpr DWORD kArpTypeDynamic = 3;
constexpr DWORD kArpTypeStatic = 4;

bool RowCounts(const MIB_IPNETROW& row, uint32_t sender)
{
    return (row.dwType == kArpTypeDynamic || row.dwType == kArpTypeStatic) &&
           row.dwPhysAddrLen == 6 && row.dwAddr == sender;
}

wchar_t AsciiUpper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Compares the reported MAC text with the row's address as this computer
// formats it; only the hyphenated six-pair form can match.
bool MacTextEquals(const wchar_t* macText, const unsigned char* address)
{
    char formatted[18];
    snprintf(formatted, sizeof(formatted), "%02X-%02X-%02X-%02X-%02X-%02X", address[0],
             address[1], address[2], address[3], address[4], address[5]);
    for (size_t i = 0; i < sizeof(formatted); ++i) {
        // Both terminators sit at index 17; any earlier difference fails.
        if (AsciiUpper(macText[i]) != static_cast<wchar_t>(formatted[i])) {
            return false;
        }
        if (formatted[i] == '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

void InitArpSnapshot(ArpSnapshot* snapshot)
{
    snapshot->table = nullptr;
    snapshot->rowCount = 0;
}

void ReleaseArpSnapshot(ArpSnapshot* snapshot)
{
    if (snapshot->table != nullptr) {
        LocalFree(snapshot->table);
    }
    InitArpSnapshot(snapshot);
}

DWORD RefreshArpSnapshot(ArpSnapshot* snapshot)
{
    ReleaseArpSnapshot(snapshot);
    ULONG size = 0;
    DWORD status = g_platform.getIpNetTable(nullptr, &size, FALSE);
    if (status != ERROR_INSUFFICIENT_BUFFER) {
        return status == NO_ERROR ? ERROR_NO_DATA : status;
    }
    MIB_IPNETTABLE* table = nullptr;
    for (int attempt = 0; attempt < kArpReadAttempts; ++attempt) {
        table = static_cast<MIB_IPNETTABLE*>(LocalAlloc(LPTR, size));
        if (table == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        ULONG readSize = size;
        status = g_platform.getIpNetTable(table, &readSize, FALSE);
        if (status == NO_ERROR) {
            break;
        }
        LocalFree(table);
        table = nullptr;
        // Neighbours came in after the probe: the read says how much it needs.
        if (status != ERROR_INSUFFICIENT_BUFFER) {
            return status;
        }
        size = readSize;
    }
    if (table == nullptr) {
        return status;
    }

    // Never trust the row count beyond what the allocation can hold.
    const size_t header = offsetof(MIB_IPNETTABLE, table);
    DWORD fits = size > header ? static_cast<DWORD>((size - header) / sizeof(MIB_IPNETROW)) : 0;
    snapshot->table = table;
    snapshot->rowCount = table->dwNumEntries < fits ? table->dwNumEntries : fits;
    return NO_ERROR;
}

bool ArpSnapshotHasSender(const ArpSnapshot* snapshot, uint32_t sender)
{
    if (snapshot->table == nullptr) {
        return false;
    }
    for (DWORD i = 0; i < snapshot->rowCount; ++i) {
        if (RowCounts(snapshot->table->table[i], sender)) {
            return true;
        }
    }
    return false;
}

void JudgeAgainstSnapshot(const ArpSnapshot* snapshot, uint32_t sender, DeviceRecord* record)
{
    if (snapshot->table == nullptr) {
        return;
    }
    // Every counting row, all interfaces, without stopping at the first.
    for (DWORD i = 0; i < snapshot->rowCount; ++i) {
        const MIB_IPNETROW& row = snapshot->table->table[i];
        if (!RowCounts(row, sender)) {
            continue;
        }
        if (MacTextEquals(record->macText, row.bPhysAddr)) {
            record->arpConfirmed = 1;
        } else {
            record->arpMismatch = 1;
        }
    }
}

namespace {

bool ReadIsDue(const ArpGate* gate, DWORD now)
{
    if (!gate->readAttempted) {
        return true;
    }
    // A slow table (a busy machine, many neighbours) is read less often.
    DWORD gap = gate->lastReadMs * kArpReadCostFactor;
    if (gap < kArpReadIntervalMs) {
        gap = kArpReadIntervalMs;
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

// Reads the table and posts every waiting record, judged against it; a
// failed read leaves the snapshot empty, so they go out without flags.
void ReadAndPostWaiting(ArpGate* gate, DWORD now)
{
    // Under Wine one read can take a good part of the interval, so the gap
    // counts from its end.
    DWORD started = GetTickCount();
    RefreshArpSnapshot(&gate->snapshot);
    gate->readAttempted = true;
    gate->lastReadMs = GetTickCount() - started;
    gate->lastReadTick = now + gate->lastReadMs;
    while (gate->count > 0) {
        ArpWaiting waiting = TakeOldest(gate);
        JudgeAgainstSnapshot(&gate->snapshot, waiting.sender, waiting.record);
        gate->post(waiting.record);
    }
}

void Enqueue(ArpGate* gate, uint32_t sender, DeviceRecord* record)
{
    if (gate->count == kArpWaitingCapacity) {
        // A flood: the oldest answer gives way.
        FreeDeviceRecord(TakeOldest(gate).record);
    }
    ArpWaiting& slot = gate->waiting[(gate->first + gate->count) % kArpWaitingCapacity];
    slot.record = record;
    slot.sender = sender;
    ++gate->count;
}

}  // namespace

void InitArpGate(ArpGate* gate, RecordSink post)
{
    InitArpSnapshot(&gate->snapshot);
    gate->post = post;
    gate->readAttempted = false;
    gate->lastReadTick = 0;
    gate->lastReadMs = 0;
    gate->first = 0;
    gate->count = 0;
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
    if (ReadIsDue(gate, now)) {
        ReadAndPostWaiting(gate, now);
    } else if (!ArpSnapshotHasSender(&gate->snapshot, sender)) {
        // Not judged against a table that cannot know it yet.
        Enqueue(gate, sender, record);
        return;
    }
    JudgeAgainstSnapshot(&gate->snapshot, sender, record);
    gate->post(record);
}

void FlushArpGate(ArpGate* gate, DWORD now)
{
    if (gate->count > 0 && ReadIsDue(gate, now)) {
        ReadAndPostWaiting(gate, now);
    }
}
