// The MAC address of a device found by multicast DNS. SendARP first; where
// the platform says it is not supported (Wine), the neighbour table, after
// one harmless datagram has made the system resolve the address. A caller
// that may not wait (the browse) never blocks in SendARP: it runs on a
// lookup thread (arp_requests.h) and the caller asks again. The datagram is
// sent only where a device of this link could be, and not too often: the
// address comes from a stranger's answer. The browse sends it as soon as it
// hears of a device (PrepareMacLookup), so that the system resolves the
// address while the device's other records are asked for.
#include <string.h>

#include "core/platform.h"
#include "core/platform_tables.h"
#include "core/wait.h"
#include "mdns/arp_requests.h"
#include "mdns/service_found.h"
#include "net/address_class.h"

namespace {

constexpr DWORD kResolvePollMs = 100;
// A lookup that may not wait takes a read of the table that ended this
// recently: a burst of devices found together costs one read, not one each
// (under Wine a read takes ~90 ms with 254 neighbours, over 100 ms on a busy
// machine).
constexpr DWORD kSharedReadMaxAgeMs = 100;
// How long a lookup waits for another's read under way before it reads for
// itself: only a read that hangs takes this long.
constexpr DWORD kSharedReadWaitMs = 1000;

// The last read of the neighbour table, shared by every worker's lookups.
// The table is read outside the lock; rows, count and the ticks change
// together under it.
struct NeighbourSnapshot {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE readEnded = CONDITION_VARIABLE_INIT;
    NeighbourRow* rows = nullptr;  // FreeTableRows; kept for the process's life
    uint32_t count = 0;
    DWORD readTick = 0;  // when the kept read began
    DWORD endTick = 0;   // and ended
    bool read = false;
    // A read under way that lookups asked meanwhile may wait for.
    bool reading = false;
    DWORD readingSince = 0;
};

NeighbourSnapshot g_neighbours;

// At most one datagram per device and second, however many browses ask.
constexpr DWORD kSolicitIntervalMs = 1000;
// Devices solicited lately, by address: a few ways per set, chosen by a hash
// of the address, the oldest way of a full set giving way.
constexpr unsigned kSolicitSets = 64;
constexpr unsigned kSolicitWays = 4;

struct SolicitedDevice {
    uint32_t address;
    DWORD tick;  // the last datagram
    // When the latest read that lacked the device began (if missed): a
    // lookup that may not wait takes only a later read, not the same miss
    // again.
    DWORD missedRead;
    bool missed;
    bool used;
};

struct SolicitedDevices {
    SRWLOCK lock = SRWLOCK_INIT;
    SolicitedDevice sets[kSolicitSets][kSolicitWays] = {};
};

SolicitedDevices g_solicited;

// True when the address may be sent a datagram now; it then counts as sent.
bool TakeSolicitTurn(uint32_t address)
{
    const DWORD now = GetTickCount();
    AcquireSRWLockExclusive(&g_solicited.lock);
    SolicitedDevice* set = g_solicited.sets[(address * 2654435761u) >> 26];
    SolicitedDevice* way = &set[0];
    bool turn = true;
    for (unsigned i = 0; i < kSolicitWays; ++i) {
        if (set[i].used && set[i].address == address) {
            way = &set[i];
            turn = now - way->tick >= kSolicitIntervalMs;
            break;
        }
        if (way->used && (!set[i].used || LONG(set[i].tick - way->tick) < 0)) {
            way = &set[i];  // a free way, else the oldest
        }
    }
    if (turn) {
        *way = SolicitedDevice{address, now, 0, false, true};
    }
    ReleaseSRWLockExclusive(&g_solicited.lock);
    return turn;
}

// Under g_solicited.lock: the device's way, or null when it was not
// solicited lately (or gave its way up).
SolicitedDevice* FindSolicited(uint32_t address)
{
    SolicitedDevice* set = g_solicited.sets[(address * 2654435761u) >> 26];
    for (unsigned i = 0; i < kSolicitWays; ++i) {
        if (set[i].used && set[i].address == address) {
            return &set[i];
        }
    }
    return nullptr;
}

// The earliest start of a read of the neighbour table that could show a
// solicited device not yet seen: none before its datagram, nor the read
// that last lacked it. False when the device was not solicited lately.
bool UsefulReadStart(uint32_t address, DWORD* earliest)
{
    AcquireSRWLockExclusive(&g_solicited.lock);
    const SolicitedDevice* way = FindSolicited(address);
    if (way != nullptr) {
        *earliest = way->missed && LONG(way->missedRead - way->tick) >= 0 ? way->missedRead + 1 : way->tick;
    }
    ReleaseSRWLockExclusive(&g_solicited.lock);
    return way != nullptr;
}

void NoteMissedRead(uint32_t address, DWORD readStart)
{
    AcquireSRWLockExclusive(&g_solicited.lock);
    SolicitedDevice* way = FindSolicited(address);
    if (way != nullptr && (!way->missed || LONG(readStart - way->missedRead) > 0)) {
        way->missedRead = readStart;
        way->missed = true;
    }
    ReleaseSRWLockExclusive(&g_solicited.lock);
}

// What a lookup takes of a read that others made: one that ended at most
// maxAgeMs before it was asked, and, with a floor, began no earlier than the
// floor. It waits for a read under way only if that began at most
// kSharedReadMaxAgeMs before it was asked (and not before the floor).
struct ReadWanted {
    DWORD asked;
    DWORD maxAgeMs;
    bool floored;
    DWORD floor;
};

bool RecentEnough(DWORD began, DWORD ended, const ReadWanted& wanted)
{
    return LONG(wanted.asked - ended) <= LONG(wanted.maxAgeMs) &&
           (!wanted.floored || LONG(began - wanted.floor) >= 0);
}

bool SearchRows(const NeighbourRow* rows, uint32_t count, uint32_t address, unsigned char mac[6])
{
    for (uint32_t i = 0; i < count; ++i) {
        if (rows[i].address == address) {
            memcpy(mac, rows[i].mac, kNeighbourMacLength);
            return true;
        }
    }
    return false;
}

// Under the lock: takes the rows (null after a failed read, which counts as
// a read that found nothing). Whichever of the two reads began later is
// kept, the other freed.
void KeepNewerRead(NeighbourRow* rows, uint32_t count, DWORD readTick, DWORD endTick)
{
    if (g_neighbours.read && LONG(readTick - g_neighbours.readTick) < 0) {
        FreeTableRows(rows);
        return;
    }
    FreeTableRows(g_neighbours.rows);
    g_neighbours.rows = rows;
    g_neighbours.count = count;
    g_neighbours.readTick = readTick;
    g_neighbours.endTick = endTick;
    g_neighbours.read = true;
}

// True when the neighbour table holds a counting row for the address
// (reachable, stale or permanent, with a six-byte address), in a read that
// ended at most maxAgeMs before this call (0: read now) and began not before
// *floor (null: no floor). *readStart: when the read it searched began. A
// lookup never waits for another's read except one that serves it too, and
// then only until that read ends.
bool FindNeighbour(uint32_t address, unsigned char mac[6], DWORD maxAgeMs, const DWORD* floor,
                   DWORD* readStart)
{
    const ReadWanted wanted = {GetTickCount(), maxAgeMs, floor != nullptr, floor != nullptr ? *floor : 0};
    AcquireSRWLockExclusive(&g_neighbours.lock);
    while (maxAgeMs != 0) {
        if (g_neighbours.read && RecentEnough(g_neighbours.readTick, g_neighbours.endTick, wanted)) {
            bool found = SearchRows(g_neighbours.rows, g_neighbours.count, address, mac);
            *readStart = g_neighbours.readTick;
            ReleaseSRWLockExclusive(&g_neighbours.lock);
            return found;
        }
        DWORD waited = GetTickCount() - wanted.asked;
        const DWORD underMs = maxAgeMs < kSharedReadMaxAgeMs ? maxAgeMs : kSharedReadMaxAgeMs;
        const ReadWanted under = {wanted.asked, underMs, wanted.floored, wanted.floor};
        if (!g_neighbours.reading || !RecentEnough(g_neighbours.readingSince, g_neighbours.readingSince, under) ||
            waited >= kSharedReadWaitMs) {
            break;
        }
        SleepConditionVariableSRW(&g_neighbours.readEnded, &g_neighbours.lock, kSharedReadWaitMs - waited, 0);
    }
    // This lookup reads; while it does, others that its read serves wait
    // for it instead of reading too.
    const DWORD began = GetTickCount();
    const bool announced = !g_neighbours.reading;
    if (announced) {
        g_neighbours.reading = true;
        g_neighbours.readingSince = began;
    }
    ReleaseSRWLockExclusive(&g_neighbours.lock);

    NeighbourRow* rows = nullptr;
    uint32_t count = 0;
    ReadNeighbourRows(&rows, &count);  // on failure: null and 0
    bool found = SearchRows(rows, count, address, mac);

    AcquireSRWLockExclusive(&g_neighbours.lock);
    KeepNewerRead(rows, count, began, GetTickCount());
    if (announced) {
        g_neighbours.reading = false;
    }
    ReleaseSRWLockExclusive(&g_neighbours.lock);
    WakeAllConditionVariable(&g_neighbours.readEnded);
    *readStart = began;
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

void PrepareMacLookup(uint32_t address, const InterfaceSubnet& heardOn)
{
    if (!PrefetchArp(address) && MaySolicitNeighbour(address, heardOn) && TakeSolicitTurn(address)) {
        g_platform.solicitNeighbour(address);  // a failure shows when the device is looked up
    }
}

void ForgetSolicitedNeighbours()
{
    AcquireSRWLockExclusive(&g_solicited.lock);
    for (auto& set : g_solicited.sets) {
        for (SolicitedDevice& way : set) {
            way = SolicitedDevice{};
        }
    }
    ReleaseSRWLockExclusive(&g_solicited.lock);
}

bool MaySolicitNeighbour(uint32_t address, const InterfaceSubnet& heardOn)
{
    unsigned char octets[4];
    memcpy(octets, &address, sizeof(octets));
    if (octets[0] == 0 || octets[0] == 127 || octets[0] >= 224) {
        return false;  // "this network", loopback, multicast, reserved and broadcast
    }
    if (IsLinkLocalAddress(address) && IsLinkLocalAddress(heardOn.address)) {
        return true;  // on the link whatever the mask says, as the broadcast path counts it
    }
    if (((address ^ heardOn.address) & heardOn.mask) != 0) {
        return false;
    }
    // With two host bits or more, the first and last address of the subnet
    // are its network and broadcast addresses (a /31 has neither). Bit
    // counts are the same in either byte order.
    uint32_t hostBits = ~heardOn.mask;
    uint32_t host = address & hostBits;
    bool several = (hostBits & (hostBits - 1)) != 0;
    return !several || (host != 0 && host != hostBits);
}

MacLookup LookUpMacAddress(uint32_t address, const InterfaceSubnet& heardOn, unsigned char mac[6],
                           HANDLE abortEvent, uint32_t waitMs)
{
    unsigned char buffer[8] = {};
    DWORD status = NO_ERROR;
    if (waitMs == 0) {
        if (!AskArp(address, buffer, &status)) {
            return kMacPending;
        }
    } else {
        ULONG length = sizeof(buffer);
        status = g_platform.sendArp(address, 0, buffer, &length);
    }
    if (status == NO_ERROR) {
        memcpy(mac, buffer, 6);
        return kMacFound;
    }
    if (status != ERROR_NOT_SUPPORTED) {
        return kMacUnknown;
    }
    // A lookup that may not wait takes a read made for others only when it
    // could show what was not there before. One that began after the
    // device's datagram tells whether the system has learnt its address
    // since: that serves as long as the datagram's own turn lasts.
    DWORD floor = 0;
    const bool floored = waitMs == 0 && UsefulReadStart(address, &floor);
    const DWORD maxAgeMs = waitMs != 0 ? 0 : floored ? kSolicitIntervalMs : kSharedReadMaxAgeMs;
    DWORD readStart = 0;
    if (FindNeighbour(address, mac, maxAgeMs, floored ? &floor : nullptr, &readStart)) {
        return kMacFound;
    }
    if (!MaySolicitNeighbour(address, heardOn) ||
        (TakeSolicitTurn(address) && g_platform.solicitNeighbour(address) != 0)) {
        return kMacUnknown;  // nothing will make the system resolve it
    }
    // After the turn, which forgets the misses before a new datagram: a read
    // in the same tick as the datagram may still have begun before it.
    NoteMissedRead(address, readStart);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < waitMs) {
        if (WaitOnePoll(abortEvent)) {
            return kMacUnknown;
        }
        DWORD readStart = 0;
        if (FindNeighbour(address, mac, 0, nullptr, &readStart)) {
            return kMacFound;
        }
    }
    // A caller that waited has had its answer; one that did not asks again.
    return waitMs == 0 ? kMacPending : kMacUnknown;
}
