// The MAC address of a device found by multicast DNS. SendARP first; where
// the platform says it is not supported (Wine), the neighbour table, after
// one harmless datagram has made the system resolve the address.
#include <string.h>

#include "core/platform.h"
#include "core/platform_tables.h"
#include "mdns/service_found.h"

namespace {

constexpr DWORD kResolvePollMs = 100;

// One read of the neighbour table; true when it holds a counting row for the
// address (reachable, stale or permanent, with a six-byte address).
bool FindNeighbour(uint32_t address, unsigned char mac[6])
{
    NeighbourRow* rows = nullptr;
    uint32_t count = 0;
    if (ReadNeighbourRows(&rows, &count) != NO_ERROR) {
        return false;
    }
    bool found = false;
    for (uint32_t i = 0; i < count && !found; ++i) {
        if (rows[i].address == address) {
            memcpy(mac, rows[i].mac, kNeighbourMacLength);
            found = true;
        }
    }
    FreeTableRows(rows);
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
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
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
    if (FindNeighbour(address, mac)) {
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
        if (FindNeighbour(address, mac)) {
            return kMacFound;
        }
    }
    // A caller that waited has had its answer; one that did not asks again.
    return waitMs == 0 ? kMacPending : kMacUnknown;
}
