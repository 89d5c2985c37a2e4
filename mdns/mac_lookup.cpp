// The MAC address of a device found by multicast DNS. SendARP first; where
// the platform says it is not supported (Wine), the neighbour table, after
// one harmless datagram has made the system resolve the address.
#include <string.h>

#include "core/platform.h"
#include "core/platform_tables.h"
#include "core/wait.h"
#include "mdns/service_found.h"

namespace {

constexpr DWORD kResolvePollMs = 100;
// A lookup that may not wait takes a read of the table this recent: a burst
// of devices found together costs one read, not one each (under Wine a read
// takes up to ~90 ms).
constexpr DWORD kSharedReadMaxAgeMs = 100;

// The last read of the neighbour table, shared by every worker's lookups.
struct NeighbourSnapshot {
    SRWLOCK lock = SRWLOCK_INIT;
    NeighbourRow* rows = nullptr;  // FreeTableRows; kept for the process's life
    uint32_t count = 0;
    DWORD readTick = 0;
    bool read = false;
};

NeighbourSnapshot g_neighbours;

// True when the neighbour table holds a counting row for the address
// (reachable, stale or permanent, with a six-byte address), as read at most
// maxAgeMs ago (0: read now).
bool FindNeighbour(uint32_t address, unsigned char mac[6], DWORD maxAgeMs)
{
    AcquireSRWLockExclusive(&g_neighbours.lock);
    DWORD now = GetTickCount();
    if (!g_neighbours.read || maxAgeMs == 0 || now - g_neighbours.readTick > maxAgeMs) {
        NeighbourRow* rows = nullptr;
        uint32_t count = 0;
        bool read = ReadNeighbourRows(&rows, &count) == NO_ERROR;
        FreeTableRows(g_neighbours.rows);
        g_neighbours.rows = read ? rows : nullptr;
        g_neighbours.count = read ? count : 0;
        g_neighbours.readTick = now;
        g_neighbours.read = read;
    }
    bool found = false;
    for (uint32_t i = 0; i < g_neighbours.count && !found; ++i) {
        if (g_neighbours.rows[i].address == address) {
            memcpy(mac, g_neighbours.rows[i].mac, kNeighbourMacLength);
            found = true;
        }
    }
    ReleaseSRWLockExclusive(&g_neighbours.lock);
    return found;
}

// Waits one poll interval; true when the abort event is set.
bool WaitOnePoll(HANDLE abortEvent)
{
    if (abortEvent == INVALID_HANDLE_VALUE) {
        Sleep(kResolvePollMs);
        return false;
    }
    DWORD wait = WaitForSingleObject(abortEvent, kResolvePollMs);
    if (wait == WAIT_FAILED) {
        Sleep(kResolvePollMs);
    }
    return IsSignalled(wait);
}

}  // namespace

MacLookup LookUpMacAddress(uint32_t address, unsigned char mac[6], HANDLE abortEvent, uint32_t waitMs)
{
    unsigned char buffer[8] = {};
    ULONG length = sizeof(buffer);
    DWORD status = g_platform.sendArp(address, 0, buffer, &length);
    if (status == NO_ERROR) {
        memcpy(mac, buffer, 6);
        return kMacFound;
    }
    if (status != ERROR_NOT_SUPPORTED) {
        return kMacUnknown;
    }
    if (FindNeighbour(address, mac, waitMs == 0 ? kSharedReadMaxAgeMs : 0)) {
        return kMacFound;
    }
    if (g_platform.solicitNeighbour(address) != 0) {
        return kMacUnknown;  // nothing will make the system resolve it
    }
    DWORD start = GetTickCount();
    while (GetTickCount() - start < waitMs) {
        if (WaitOnePoll(abortEvent)) {
            return kMacUnknown;
        }
        if (FindNeighbour(address, mac, 0)) {
            return kMacFound;
        }
    }
    // A caller that waited has had its answer; one that did not asks again.
    return waitMs == 0 ? kMacPending : kMacUnknown;
}
