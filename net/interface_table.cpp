// The interface table: built from the system's IPv4 address table, one entry
// per address with its socket, events and suspended worker threads; torn down
// at shutdown and before every rebuild.
#include "net/interface_table.h"

#include <process.h>
#include <stdlib.h>
#include <string.h>

#include "core/globals.h"
#include "core/platform.h"
#include "net/workers.h"

InterfaceTable g_interfaceTable = {nullptr, 0};
InterfaceWorkers g_interfaceWorkers = {ReceiveWorker, TransmitWorker, MdnsWorker};

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

// The address rows the last build was made from, to notice changes by polling.
struct AddressRow {
    uint32_t address;
    uint32_t mask;
    uint32_t index;
};
AddressRow* g_builtRows = nullptr;
uint32_t g_builtRowCount = 0;

void ShowBuildError(const wchar_t* message)
{
    g_platform.messageBox(nullptr, message, L"Error", MB_OK | MB_ICONERROR);
}

void CloseHandleSlot(HANDLE* slot)
{
    if (*slot != INVALID_HANDLE_VALUE) {
        CloseHandle(*slot);
        *slot = INVALID_HANDLE_VALUE;
    }
}

// A worker that was never resumed is resumed before it is waited for, so
// that it sees its abort event and the wait returns.
void ResumeWorkerSlot(HANDLE slot)
{
    if (slot != INVALID_HANDLE_VALUE) {
        ResumeThread(slot);
    }
}

// Waits for a worker and closes its handle.
void JoinWorkerSlot(HANDLE* slot)
{
    if (*slot != INVALID_HANDLE_VALUE) {
        WaitForSingleObject(*slot, INFINITE);
        CloseHandleSlot(slot);
    }
}

void InitialiseEntry(InterfaceEntry* entry)
{
    entry->socket = INVALID_SOCKET;
    entry->socketMutex = INVALID_HANDLE_VALUE;
    entry->transmitTrigger = INVALID_HANDLE_VALUE;
    entry->mdnsTrigger = INVALID_HANDLE_VALUE;
    entry->abortEvent = INVALID_HANDLE_VALUE;
    entry->transmitThread = INVALID_HANDLE_VALUE;
    entry->receiveThread = INVALID_HANDLE_VALUE;
    entry->mdnsThread = INVALID_HANDLE_VALUE;
    entry->address = 0;
    entry->mask = 0;
    entry->broadcast = 0;
    entry->network = 0;
    entry->interfaceIndex = 0xFFFFFFFFu;
}

// Null-checked handle creation: the slot keeps its empty value on failure.
bool StoreHandle(HANDLE* slot, HANDLE handle)
{
    if (handle == nullptr) {
        return false;
    }
    *slot = handle;
    return true;
}

bool StartWorker(HANDLE* slot, unsigned(__stdcall* procedure)(void*), InterfaceEntry* entry)
{
    uintptr_t thread = _beginthreadex(nullptr, 0, procedure, entry, CREATE_SUSPENDED, nullptr);
    return StoreHandle(slot, reinterpret_cast<HANDLE>(thread));
}

// Creates the entry's objects in their fixed order; returns the failure
// message, or null on success.
const wchar_t* CreateEntryObjects(InterfaceEntry* entry)
{
    // Both triggers start signalled without auto-refresh: one pass at once.
    BOOL initialPass = g_autoRefresh == 0 ? TRUE : FALSE;
    if (!StoreHandle(&entry->socketMutex, CreateMutexW(nullptr, FALSE, nullptr))) {
        return L"Unable to allocate socket mutex";
    }
    if (!StoreHandle(&entry->abortEvent, CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
        return L"Unable to allocate abort event";
    }
    if (!StoreHandle(&entry->transmitTrigger, CreateEventW(nullptr, FALSE, initialPass, nullptr))) {
        return L"Unable to allocate socket event";
    }
    if (!StoreHandle(&entry->mdnsTrigger, CreateEventW(nullptr, FALSE, initialPass, nullptr))) {
        return L"Unable to allocate mDNS event";
    }
    entry->socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (entry->socket == INVALID_SOCKET) {
        return L"Unable to create socket";
    }
    int broadcast = 1;
    if (setsockopt(entry->socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast),
                   sizeof(broadcast)) == SOCKET_ERROR) {
        return L"Unable to set SO_BROADCAST";
    }
    if (!StartWorker(&entry->receiveThread, g_interfaceWorkers.receive, entry)) {
        return L"Unable to create receive thread";
    }
    if (!StartWorker(&entry->transmitThread, g_interfaceWorkers.transmit, entry)) {
        return L"Unable to create transmit thread";
    }
    if (!StartWorker(&entry->mdnsThread, g_interfaceWorkers.mdns, entry)) {
        return L"Unable to create mDNS thread";
    }
    return nullptr;
}

// The last adapter in list order that carries the address wins.
uint32_t FindInterfaceIndex(const IP_ADAPTER_ADDRESSES* adapters, uint32_t address)
{
    uint32_t index = 0xFFFFFFFFu;
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* socketAddress = unicast->Address.lpSockaddr;
            if (socketAddress == nullptr || socketAddress->sa_family != AF_INET ||
                unicast->Address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in))) {
                continue;
            }
            const sockaddr_in* ipv4 = reinterpret_cast<const sockaddr_in*>(socketAddress);
            if (ipv4->sin_addr.s_addr == address) {
                index = adapter->IfIndex;
                break;
            }
        }
    }
    return index;
}

// Reads the address table into a zero-filled global-heap buffer; null on failure.
// The table may grow between the size probe and the read (an address added
// meanwhile): then it is read again at the new size, a few times.
MIB_IPADDRTABLE* ReadAddressTable()
{
    const int kAttempts = 4;
    ULONG size = 0;
    if (g_platform.getIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return nullptr;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        MIB_IPADDRTABLE* table = static_cast<MIB_IPADDRTABLE*>(GlobalAlloc(GPTR, size));
        if (table == nullptr) {
            return nullptr;
        }
        ULONG readSize = size;
        DWORD status = g_platform.getIpAddrTable(table, &readSize, FALSE);
        if (status == NO_ERROR) {
            return table;
        }
        GlobalFree(table);
        if (status != ERROR_INSUFFICIENT_BUFFER || readSize <= size) {
            return nullptr;
        }
        size = readSize;
    }
    return nullptr;
}

// The adapter list, or null (silently) when it cannot be had.
IP_ADAPTER_ADDRESSES* ReadAdapterList()
{
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 0;
    if (g_platform.getAdaptersAddresses(AF_INET, flags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW ||
        size == 0) {
        return nullptr;
    }
    IP_ADAPTER_ADDRESSES* list = static_cast<IP_ADAPTER_ADDRESSES*>(GlobalAlloc(GPTR, size));
    if (list == nullptr) {
        return nullptr;
    }
    if (g_platform.getAdaptersAddresses(AF_INET, flags, nullptr, list, &size) != NO_ERROR) {
        // The list would be unusable; carry on without interface indexes.
        GlobalFree(list);
        return nullptr;
    }
    return list;
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

// Sorted copy of every row of the address table; null and count 0 on failure.
AddressRow* SnapshotRows(const MIB_IPADDRTABLE* table, uint32_t* count)
{
    *count = 0;
    if (table == nullptr || table->dwNumEntries == 0) {
        return nullptr;
    }
    AddressRow* rows = static_cast<AddressRow*>(GlobalAlloc(GPTR, table->dwNumEntries * sizeof(AddressRow)));
    if (rows == nullptr) {
        return nullptr;
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        rows[i].address = table->table[i].dwAddr;
        rows[i].mask = table->table[i].dwMask;
        rows[i].index = table->table[i].dwIndex;
    }
    qsort(rows, table->dwNumEntries, sizeof(AddressRow), CompareRows);
    *count = table->dwNumEntries;
    return rows;
}

void RememberBuiltRows(const MIB_IPADDRTABLE* table)
{
    if (g_builtRows != nullptr) {
        GlobalFree(g_builtRows);
    }
    g_builtRows = SnapshotRows(table, &g_builtRowCount);
}

// The build proper, without its error box; returns the failure message or null.
// Only a build on the window's own thread (start-up) may reset the subnet
// filter; after a rebuild the window does that when it refills its choice.
const wchar_t* BuildTable(bool mayResetFilter)
{
    bool filterSeen = false;
    const wchar_t* failure = nullptr;
    IP_ADAPTER_ADDRESSES* adapters = nullptr;
    uint32_t count = 0;
    uint32_t next = 0;

    MIB_IPADDRTABLE* table = ReadAddressTable();
    RememberBuiltRows(table);
    if (table == nullptr) {
        failure = L"Unable to load IP Address table";
        goto done;
    }

    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (table->table[i].dwAddr != kLoopbackAddress) {
            ++count;
        }
    }
    if (count == 0) {
        failure = L"No network interfaces detected";
        goto done;
    }

    g_interfaceTable.entries =
        static_cast<InterfaceEntry*>(GlobalAlloc(GPTR, count * sizeof(InterfaceEntry)));
    if (g_interfaceTable.entries == nullptr) {
        failure = L"Unable to allocate interface table";
        goto done;
    }
    g_interfaceTable.count = count;
    for (uint32_t i = 0; i < count; ++i) {
        InitialiseEntry(&g_interfaceTable.entries[i]);
    }

    adapters = ReadAdapterList();

    for (DWORD i = 0; i < table->dwNumEntries && next < count; ++i) {
        const MIB_IPADDRROW& row = table->table[i];
        if (row.dwAddr == kLoopbackAddress) {
            continue;
        }
        InterfaceEntry* entry = &g_interfaceTable.entries[next++];
        entry->address = row.dwAddr;
        entry->mask = row.dwMask;
        entry->broadcast = row.dwAddr | ~row.dwMask;
        entry->network = row.dwAddr & row.dwMask;
        if (adapters != nullptr) {
            entry->interfaceIndex = FindInterfaceIndex(adapters, entry->address);
        }
        if (g_subnetFilter != kAllInterfaces && g_subnetFilter == entry->network) {
            filterSeen = true;
        }
        failure = CreateEntryObjects(entry);
        if (failure != nullptr) {
            break;
        }
    }

done:
    if (failure != nullptr) {
        TeardownInterfaceTable();
    }
    if (table != nullptr) {
        GlobalFree(table);
    }
    if (adapters != nullptr) {
        GlobalFree(adapters);
    }
    // A saved subnet that no current interface has falls back to all interfaces.
    if (!filterSeen && mayResetFilter) {
        g_subnetFilter = kAllInterfaces;
    }
    return failure;
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

namespace {

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
            InterfaceEntry* entry = &g_interfaceTable.entries[i];
            if (entry->abortEvent != INVALID_HANDLE_VALUE) {
                SetEvent(entry->abortEvent);
            }
            ResumeWorkerSlot(entry->transmitThread);
            ResumeWorkerSlot(entry->receiveThread);
            ResumeWorkerSlot(entry->mdnsThread);
        }
        for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
            InterfaceEntry* entry = &g_interfaceTable.entries[i];
            JoinWorkerSlot(&entry->transmitThread);
            JoinWorkerSlot(&entry->receiveThread);
            JoinWorkerSlot(&entry->mdnsThread);
            CloseHandleSlot(&entry->mdnsTrigger);
            CloseHandleSlot(&entry->transmitTrigger);
            CloseHandleSlot(&entry->abortEvent);
            CloseHandleSlot(&entry->socketMutex);
            if (entry->socket != INVALID_SOCKET) {
                closesocket(entry->socket);
                entry->socket = INVALID_SOCKET;
            }
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
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        SetEvent(g_interfaceTable.entries[i].transmitTrigger);
        SetEvent(g_interfaceTable.entries[i].mdnsTrigger);
    }
    UnlockInterfaceTable();
}

bool AddressTableDiffersFromBuild()
{
    MIB_IPADDRTABLE* table = ReadAddressTable();
    if (table == nullptr) {
        // Unreadable now: no evidence of a change.
        return false;
    }
    uint32_t count = 0;
    AddressRow* rows = SnapshotRows(table, &count);
    GlobalFree(table);

    LockInterfaceTable();
    bool differs = count != g_builtRowCount ||
                   (count != 0 && (rows == nullptr || g_builtRows == nullptr ||
                                   memcmp(rows, g_builtRows, count * sizeof(AddressRow)) != 0));
    UnlockInterfaceTable();

    if (rows != nullptr) {
        GlobalFree(rows);
    }
    return differs;
}
