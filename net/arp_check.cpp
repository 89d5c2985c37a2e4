// ARP table cross-check with a short-lived per-worker snapshot of the table.
#include "net/arp_check.h"

#include <stddef.h>
#include <stdio.h>

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
    snapshot->readTick = 0;
}

void ReleaseArpSnapshot(ArpSnapshot* snapshot)
{
    if (snapshot->table != nullptr) {
        LocalFree(snapshot->table);
    }
    InitArpSnapshot(snapshot);
}

DWORD RefreshArpSnapshot(ArpSnapshot* snapshot, DWORD now)
{
    ReleaseArpSnapshot(snapshot);
    // Under Wine one read of a full table takes close to the snapshot's whole
    // lifetime, so its age counts from the end of the read.
    DWORD readStarted = GetTickCount();

    ULONG size = 0;
    DWORD status = g_platform.getIpNetTable(nullptr, &size, FALSE);
    if (status != ERROR_INSUFFICIENT_BUFFER) {
        return status == NO_ERROR ? ERROR_NO_DATA : status;
    }
    MIB_IPNETTABLE* table = static_cast<MIB_IPNETTABLE*>(LocalAlloc(LPTR, size));
    if (table == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    ULONG readSize = size;
    status = g_platform.getIpNetTable(table, &readSize, FALSE);
    if (status != NO_ERROR) {
        LocalFree(table);
        return status;
    }

    // Never trust the row count beyond what the allocation can hold.
    const size_t header = offsetof(MIB_IPNETTABLE, table);
    DWORD fits = size > header ? static_cast<DWORD>((size - header) / sizeof(MIB_IPNETROW)) : 0;
    snapshot->table = table;
    snapshot->rowCount = table->dwNumEntries < fits ? table->dwNumEntries : fits;
    snapshot->readTick = now + (GetTickCount() - readStarted);
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

void ArpCrossCheck(ArpSnapshot* snapshot, uint32_t sender, DeviceRecord* record, DWORD now)
{
    // Wrapping tick arithmetic: the age is right across the 49.7-day wrap.
    bool fresh = snapshot->table != nullptr && now - snapshot->readTick < kArpSnapshotMaxAgeMs;
    if (!fresh || !ArpSnapshotHasSender(snapshot, sender)) {
        if (RefreshArpSnapshot(snapshot, now) != NO_ERROR) {
            return;
        }
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
