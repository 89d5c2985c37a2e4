// The MAC address of a device found by multicast DNS. SendARP first; where
// the platform says it is not supported (Wine), the neighbour table, after
// one harmless datagram has made the system resolve the address. A caller
// that may not wait (the browse) never blocks in SendARP: it runs on a
// lookup thread (arp_requests.h) and the caller asks again. The datagram is
// sent only where a device of this link could be, and not too often: the
// address comes from a stranger's answer. The browse sends it as soon as it
// hears of a device (PrepareMacLookup), so that the system resolves the
// address while the device's other records are asked for. Every question is
// asked on the interface that heard the device: SendARP from its address,
// and only the neighbour rows of that interface count, so that two cards on
// overlapping subnets never give a device another host's MAC.
#include <string.h>

#include "core/platform.h"
#include "core/platform_tables.h"
#include "core/wait.h"
#include "browse/arp_requests.h"
#include "browse/neighbour_reads.h"
#include "browse/service_found.h"
#include "net/address_class.h"

namespace {

constexpr DWORD kResolvePollMs = 100;

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

// SendARP from the interface's address: on a lookup thread for a caller that
// may not wait (false while it runs), else here. True with *status its
// result (mac filled on NO_ERROR).
bool AskSendArp(uint32_t address, uint32_t source, uint32_t waitMs, unsigned char mac[6], DWORD* status)
{
    unsigned char buffer[8] = {};
    if (waitMs == 0) {
        if (!AskArp(address, source, buffer, status)) {
            return false;
        }
    } else {
        ULONG length = sizeof(buffer);
        *status = g_platform.sendArp(address, source, buffer, &length);
    }
    if (*status == NO_ERROR) {
        memcpy(mac, buffer, kNeighbourMacLength);
    }
    return true;
}

// Whether the neighbour table gives the MAC SendARP found to other addresses
// of the interface too; a read others made lately serves.
bool SendArpMacShared(uint32_t address, uint32_t interfaceAddress, const unsigned char mac[6])
{
    unsigned char tableMac[kNeighbourMacLength] = {};
    bool shared = false;
    DWORD readStart = 0;
    return FindNeighbour({address, interfaceAddress, tableMac, &shared}, kSharedReadMaxAgeMs, nullptr, &readStart) &&
           shared && memcmp(tableMac, mac, kNeighbourMacLength) == 0;
}

}  // namespace

void PrepareMacLookup(uint32_t address, const InterfaceSubnet& heardOn)
{
    if (!PrefetchArp(address, heardOn.address) && MaySolicitNeighbour(address, heardOn) && TakeSolicitTurn(address)) {
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
                           HANDLE abortEvent, uint32_t waitMs, bool* sharedMac)
{
    bool shared = false;
    bool* sharedOut = sharedMac != nullptr ? sharedMac : &shared;
    *sharedOut = false;
    DWORD status = NO_ERROR;
    if (!AskSendArp(address, heardOn.address, waitMs, mac, &status)) {
        return kMacPending;
    }
    if (status == NO_ERROR) {
        *sharedOut = SendArpMacShared(address, heardOn.address, mac);
        return kMacFound;
    }
    if (status != ERROR_NOT_SUPPORTED) {
        return kMacUnknown;
    }
    // A lookup that may not wait takes a read made for others only when it
    // could show what was not there before. One that began after the
    // device's datagram tells whether the system has learnt its address
    // since: that serves as long as the datagram's own turn lasts.
    const NeighbourAsked asked = {address, heardOn.address, mac, sharedOut};
    DWORD floor = 0;
    const bool floored = waitMs == 0 && UsefulReadStart(address, &floor);
    const DWORD maxAgeMs = waitMs != 0 ? 0 : floored ? kSolicitIntervalMs : kSharedReadMaxAgeMs;
    DWORD readStart = 0;
    if (FindNeighbour(asked, maxAgeMs, floored ? &floor : nullptr, &readStart)) {
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
        if (FindNeighbour(asked, 0, nullptr, &readStart)) {
            return kMacFound;
        }
    }
    // A caller that waited has had its answer; one that did not asks again.
    return waitMs == 0 ? kMacPending : kMacUnknown;
}
