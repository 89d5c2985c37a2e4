// The interface table: built from the system's IPv4 address table, one entry
// per address with its socket, events and suspended worker threads; torn down
// at shutdown and before every rebuild. The rows of the last build are kept
// to notice address changes by polling.
#include "net/interface_table.h"

#include <stdlib.h>
#include <string.h>

#include "core/diagnostics.h"
#include "core/globals.h"
#include "core/platform.h"
#include "core/platform_tables.h"
#include "net/adapter_list.h"
#include "net/interface_entry.h"
#include "net/workers.h"

InterfaceTable g_interfaceTable = {nullptr, 0};
InterfaceWorkers g_interfaceWorkers = {ReceiveWorker, TransmitWorker, MdnsWorker};
std::atomic<uint32_t> g_refreshCount(0);

namespace {

const uint32_t kLoopbackAddress = 0x0100007Fu;  // 127.0.0.1 in network byte order

// One recursive lock: the address watcher holds it across teardown plus build,
// the window thread across each read of the table.
CRITICAL_SECTION g_tableLock;
INIT_ONCE g_tableLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitialiseTableLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&g_tableLock);
    return TRUE;
}

// The address rows the last build was made from, sorted; null when that
// build could not read the table.
AddressRow* g_builtRows = nullptr;
uint32_t g_builtRowCount = 0;

void ShowBuildError(const wchar_t* message)
{
    g_platform.messageBox(nullptr, message, L"Error", MB_OK | MB_ICONERROR);
}

int CompareRows(const void* left, const void* right)
{
    const AddressRow* a = static_cast<const AddressRow*>(left);
    const AddressRow* b = static_cast<const AddressRow*>(right);
    if (a->address != b->address) return a->address < b->address ? -1 : 1;
    if (a->mask != b->mask) return a->mask < b->mask ? -1 : 1;
    if (a->index != b->index) return a->index < b->index ? -1 : 1;
    return 0;
}

// Sorts the rows so that two reads compare equal whatever their order.
void SortRows(AddressRow* rows, uint32_t count)
{
    if (rows != nullptr && count > 1) {
        qsort(rows, count, sizeof(AddressRow), CompareRows);
    }
}

// Takes ownership of the rows of this build.
void RememberBuiltRows(AddressRow* rows, uint32_t count)
{
    FreeTableRows(g_builtRows);
    SortRows(rows, count);
    g_builtRows = rows;
    g_builtRowCount = count;
}

uint32_t CountNonLoopback(const AddressRow* rows, uint32_t count)
{
    uint32_t entries = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (rows[i].address != kLoopbackAddress) {
            ++entries;
        }
    }
    return entries;
}

// Gives each non-loopback row, in table order, its entry and the entry's
// objects; returns the failure message or null. Sets *filterSeen when an
// entry's network is the saved subnet filter.
const wchar_t* FillEntries(const AddressRow* rows, uint32_t count, bool* filterSeen)
{
    IP_ADAPTER_ADDRESSES* adapters = ReadAdapterList();
    const wchar_t* failure = nullptr;
    uint32_t next = 0;
    for (uint32_t i = 0; i < count && next < g_interfaceTable.count && failure == nullptr; ++i) {
        if (rows[i].address == kLoopbackAddress) {
            continue;
        }
        InterfaceEntry* entry = &g_interfaceTable.entries[next++];
        entry->address = rows[i].address;
        entry->mask = rows[i].mask;
        entry->broadcast = rows[i].address | ~rows[i].mask;
        entry->network = rows[i].address & rows[i].mask;
        // The address table names the interface too; the adapter list has
        // the final word only where it can be read and carries the address.
        entry->interfaceIndex = adapters != nullptr ? FindInterfaceIndex(adapters, entry->address)
                                                    : kNoInterfaceIndex;
        if (entry->interfaceIndex == kNoInterfaceIndex) {
            entry->interfaceIndex = rows[i].index;
        }
        if (g_subnetFilter != kAllInterfaces && g_subnetFilter == entry->network) {
            *filterSeen = true;
        }
        failure = CreateInterfaceEntryObjects(entry);
    }
    FreeAdapterList(adapters);
    return failure;
}

// Allocates the entries, all empty; returns the failure message or null.
const wchar_t* AllocateEntries(uint32_t count)
{
    g_interfaceTable.entries =
        static_cast<InterfaceEntry*>(GlobalAlloc(GPTR, count * sizeof(InterfaceEntry)));
    if (g_interfaceTable.entries == nullptr) {
        return L"Unable to allocate interface table";
    }
    g_interfaceTable.count = count;
    for (uint32_t i = 0; i < count; ++i) {
        InitialiseInterfaceEntry(&g_interfaceTable.entries[i]);
    }
    return nullptr;
}

// The build proper, without its error box; returns the failure message or null.
// Only a build on the window's own thread (start-up) may reset the subnet
// filter; after a rebuild the window does that when it refills its choice.
const wchar_t* BuildTable(bool mayResetFilter)
{
    diag::Reset();  // the start, or interfaces that changed: counts begin afresh
    bool filterSeen = false;
    const wchar_t* failure = nullptr;
    AddressRow* rows = nullptr;
    uint32_t count = 0;
    if (ReadAddressRows(&rows, &count) != NO_ERROR) {
        failure = L"Unable to load IP Address table";
    } else {
        uint32_t entries = CountNonLoopback(rows, count);
        failure = entries == 0 ? L"No network interfaces detected" : AllocateEntries(entries);
    }
    if (failure == nullptr) {
        failure = FillEntries(rows, count, &filterSeen);
    }
    if (failure != nullptr) {
        TeardownInterfaceTable();
    }
    RememberBuiltRows(rows, count);
    // A saved subnet that no current interface has falls back to all interfaces.
    if (!filterSeen && mayResetFilter) {
        g_subnetFilter = kAllInterfaces;
    }
    return failure;
}

// Builds under the lock, after an optional teardown in the same hold. The box
// is shown outside the lock: the window thread must never wait on a lock
// whose holder waits for a user.
bool ShutdownBegun()
{
    HANDLE stop = g_stopEvent;
    return stop != INVALID_HANDLE_VALUE && stop != nullptr && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

int BuildUnderLock(bool teardownFirst)
{
    LockInterfaceTable();
    if (teardownFirst) {
        // The final teardown may have waited for this lock: once shutdown
        // has begun, a rebuild would only bring back what it took down.
        if (ShutdownBegun()) {
            UnlockInterfaceTable();
            return 0;
        }
        TeardownInterfaceTable();
    }
    const wchar_t* failure = BuildTable(!teardownFirst);
    UnlockInterfaceTable();
    if (failure != nullptr) {
        ShowBuildError(failure);
        return 0;
    }
    return 1;
}

}  // namespace

void LockInterfaceTable()
{
    InitOnceExecuteOnce(&g_tableLockOnce, InitialiseTableLock, nullptr, nullptr);
    EnterCriticalSection(&g_tableLock);
}

void UnlockInterfaceTable()
{
    LeaveCriticalSection(&g_tableLock);
}

int BuildInterfaceTable()
{
    return BuildUnderLock(false);
}

int RebuildInterfaceTable()
{
    return BuildUnderLock(true);
}

void TeardownInterfaceTable()
{
    LockInterfaceTable();
    if (g_interfaceTable.entries != nullptr) {
        // Every entry is told to stop before any is waited for, so the time
        // taken is that of the slowest worker, not the sum over interfaces.
        for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
            StopInterfaceEntry(&g_interfaceTable.entries[i]);
        }
        for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
            ReleaseInterfaceEntry(&g_interfaceTable.entries[i]);
        }
        GlobalFree(g_interfaceTable.entries);
        g_interfaceTable.entries = nullptr;
    }
    g_interfaceTable.count = 0;
    UnlockInterfaceTable();
}

void ResumeInterfaceWorkers()
{
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        InterfaceEntry* entry = &g_interfaceTable.entries[i];
        ResumeThread(entry->mdnsThread);
        ResumeThread(entry->receiveThread);
        ResumeThread(entry->transmitThread);
    }
    UnlockInterfaceTable();
}

void TriggerRefresh()
{
    // Before the triggers: the answers to this round must find it changed,
    // and count afresh.
    diag::Reset();
    ++g_refreshCount;
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        SetEvent(g_interfaceTable.entries[i].transmitTrigger);
        SetEvent(g_interfaceTable.entries[i].mdnsTrigger);
    }
    UnlockInterfaceTable();
}

bool AddressTableDiffersFromBuild()
{
    AddressRow* rows = nullptr;
    uint32_t count = 0;
    if (ReadAddressRows(&rows, &count) != NO_ERROR) {
        // Unreadable now: no evidence of a change.
        return false;
    }
    SortRows(rows, count);

    LockInterfaceTable();
    bool differs = count != g_builtRowCount ||
                   (count != 0 && (g_builtRows == nullptr ||
                                   memcmp(rows, g_builtRows, count * sizeof(AddressRow)) != 0));
    UnlockInterfaceTable();

    FreeTableRows(rows);
    return differs;
}
