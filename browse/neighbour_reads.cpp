// The shared read of the neighbour and address tables, and the search of a
// device's row on the interface that heard it.
#include "browse/neighbour_reads.h"

#include <string.h>

#include "core/platform_tables.h"

namespace {

// How long a lookup waits for another's read under way before it reads for
// itself: only a read that hangs takes this long.
constexpr DWORD kSharedReadWaitMs = 1000;

// One read of the neighbour table, with the address table read alongside
// it: that tells which interface holds the address a device was heard on.
// Arrays from the table reader (FreeTableRows), null after a failed read.
struct TablesRead {
    NeighbourRow* rows;
    uint32_t count;
    AddressRow* addresses;
    uint32_t addressCount;
};

// Whether an interface's rows give one MAC to several addresses.
bool SomeMacShared(const NeighbourRow* rows, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        for (uint32_t j = i + 1; j < count; ++j) {
            if (rows[i].interfaceIndex == rows[j].interfaceIndex &&
                memcmp(rows[i].mac, rows[j].mac, kNeighbourMacLength) == 0) {
                return true;
            }
        }
    }
    return false;
}

void ReadTables(TablesRead* read)
{
    ReadNeighbourRows(&read->rows, &read->count);  // on failure: null and 0
    ReadAddressRows(&read->addresses, &read->addressCount);
    // Only a MAC shared needs the states, which cost a second read. When
    // that read fails, every row counts, as the plain table says.
    if (SomeMacShared(read->rows, read->count)) {
        MarkLiveNeighbours(read->rows, read->count);
    }
}

void FreeTables(TablesRead* read)
{
    FreeTableRows(read->rows);
    FreeTableRows(read->addresses);
}

// The last read of the tables, shared by every worker's lookups. The tables
// are read outside the lock; the read and the ticks change together under it.
struct NeighbourSnapshot {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE readEnded = CONDITION_VARIABLE_INIT;
    TablesRead tables = {};  // kept for the process's life
    DWORD readTick = 0;  // when the kept read began
    DWORD endTick = 0;   // and ended
    bool read = false;
    // A read under way that lookups asked meanwhile may wait for.
    bool reading = false;
    DWORD readingSince = 0;
};

NeighbourSnapshot g_neighbours;

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

// The device's neighbour row on the interface that holds interfaceAddress:
// its MAC, and whether the interface's live rows give that MAC to other
// addresses too (a bridge answering ARP for the devices behind it); an
// address a device left, or one that stopped answering, shares nothing.
bool SearchRows(const TablesRead& read, uint32_t address, uint32_t interfaceAddress, unsigned char mac[6],
                bool* shared)
{
    uint32_t index = 0;
    if (!FindInterfaceOfAddress(read.addresses, read.addressCount, interfaceAddress, &index)) {
        return false;
    }
    const NeighbourRow* found = nullptr;
    for (uint32_t i = 0; i < read.count && found == nullptr; ++i) {
        if (read.rows[i].interfaceIndex == index && read.rows[i].address == address) {
            found = &read.rows[i];
        }
    }
    if (found == nullptr) {
        return false;
    }
    memcpy(mac, found->mac, kNeighbourMacLength);
    *shared = false;
    for (uint32_t i = 0; i < read.count; ++i) {
        const NeighbourRow& row = read.rows[i];
        if (row.live && row.interfaceIndex == index && row.address != address &&
            memcmp(row.mac, found->mac, kNeighbourMacLength) == 0) {
            *shared = true;
        }
    }
    return true;
}

// Under the lock: takes the read (a failed one counts as a read that found
// nothing). Whichever of the two reads began later is kept, the other freed.
void KeepNewerRead(TablesRead* read, DWORD readTick, DWORD endTick)
{
    if (g_neighbours.read && LONG(readTick - g_neighbours.readTick) < 0) {
        FreeTables(read);
        return;
    }
    FreeTables(&g_neighbours.tables);
    g_neighbours.tables = *read;
    g_neighbours.readTick = readTick;
    g_neighbours.endTick = endTick;
    g_neighbours.read = true;
}

}  // namespace

bool FindNeighbour(const NeighbourAsked& asked, DWORD maxAgeMs, const DWORD* floor, DWORD* readStart)
{
    const ReadWanted wanted = {GetTickCount(), maxAgeMs, floor != nullptr, floor != nullptr ? *floor : 0};
    AcquireSRWLockExclusive(&g_neighbours.lock);
    while (maxAgeMs != 0) {
        if (g_neighbours.read && RecentEnough(g_neighbours.readTick, g_neighbours.endTick, wanted)) {
            bool found = SearchRows(g_neighbours.tables, asked.address, asked.interfaceAddress, asked.mac, asked.shared);
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

    TablesRead read = {};
    ReadTables(&read);
    bool found = SearchRows(read, asked.address, asked.interfaceAddress, asked.mac, asked.shared);

    AcquireSRWLockExclusive(&g_neighbours.lock);
    KeepNewerRead(&read, began, GetTickCount());
    if (announced) {
        g_neighbours.reading = false;
    }
    ReleaseSRWLockExclusive(&g_neighbours.lock);
    WakeAllConditionVariable(&g_neighbours.readEnded);
    *readStart = began;
    return found;
}
