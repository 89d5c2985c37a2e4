// Address table, adapter list and message box doubles for the spine tests.
#include "app/fake_platform.h"

#include <ws2tcpip.h>

#include <stddef.h>
#include <string.h>

FakePlatform* FakePlatform::current = nullptr;

uint32_t Ipv4(const char* text)
{
    in_addr address = {};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

namespace {

void FillRows(FakePlatform* fake, PMIB_IPADDRTABLE table);

DWORD WINAPI FakeGetIpAddrTable(PMIB_IPADDRTABLE table, PULONG size, BOOL)
{
    FakePlatform* fake = FakePlatform::current;
    EnterCriticalSection(&fake->lock);
    DWORD result = NO_ERROR;
    ULONG needed = static_cast<ULONG>(sizeof(DWORD) + (fake->addresses.size() + 1) * sizeof(MIB_IPADDRROW));
    if (table != nullptr && fake->growthsBeforeRead > 0) {
        --fake->growthsBeforeRead;
        fake->addresses.push_back({"172.16.9.1", "255.255.0.0", 99});
        needed += sizeof(MIB_IPADDRROW);
    }
    if (table == nullptr || *size < needed) {
        *size = needed;
        result = table == nullptr ? fake->addressProbeResult : ERROR_INSUFFICIENT_BUFFER;
    } else if (fake->addressReadResult != NO_ERROR) {
        result = fake->addressReadResult;
    } else {
        FillRows(fake, table);
        ++fake->addressReads;
    }
    LeaveCriticalSection(&fake->lock);
    return result;
}

void FillRows(FakePlatform* fake, PMIB_IPADDRTABLE table)
{
    table->dwNumEntries = static_cast<DWORD>(fake->addresses.size());
    for (size_t i = 0; i < fake->addresses.size(); ++i) {
        MIB_IPADDRROW& row = table->table[i];
        row.dwAddr = Ipv4(fake->addresses[i].address);
        row.dwMask = Ipv4(fake->addresses[i].mask);
        row.dwIndex = fake->addresses[i].index;
    }
}

ULONG WINAPI FakeGetAdaptersAddresses(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES list, PULONG size)
{
    FakePlatform* fake = FakePlatform::current;
    size_t unicastCount = 0;
    for (const FakeAdapter& adapter : fake->adapters) {
        unicastCount += adapter.addresses.size();
    }
    ULONG needed = static_cast<ULONG>(fake->adapters.size() * sizeof(IP_ADAPTER_ADDRESSES) +
                                      unicastCount * (sizeof(IP_ADAPTER_UNICAST_ADDRESS) + sizeof(sockaddr_in)) + 16) +
                    fake->adapterGrownBytes;
    if (list != nullptr && *size >= needed && fake->adapterGrowths > 0) {
        --fake->adapterGrowths;
        fake->adapterGrownBytes += sizeof(IP_ADAPTER_ADDRESSES);
        *size = needed + sizeof(IP_ADAPTER_ADDRESSES);
        return ERROR_BUFFER_OVERFLOW;
    }
    if (list == nullptr || *size < needed) {
        *size = needed;
        return fake->adapterProbeResult;
    }
    if (fake->adapters.empty()) {
        return ERROR_NO_DATA;
    }
    // Lay the adapters, then their unicast entries and addresses, into the buffer.
    IP_ADAPTER_ADDRESSES* adapters = list;
    char* cursor = reinterpret_cast<char*>(list) + fake->adapters.size() * sizeof(IP_ADAPTER_ADDRESSES);
    for (size_t i = 0; i < fake->adapters.size(); ++i) {
        IP_ADAPTER_ADDRESSES* adapter = &adapters[i];
        memset(adapter, 0, sizeof(*adapter));
        adapter->Length = sizeof(*adapter);
        adapter->IfIndex = fake->adapters[i].ifIndex;
        adapter->Next = i + 1 < fake->adapters.size() ? &adapters[i + 1] : nullptr;
        IP_ADAPTER_UNICAST_ADDRESS* previous = nullptr;
        for (const char* text : fake->adapters[i].addresses) {
            IP_ADAPTER_UNICAST_ADDRESS* unicast = reinterpret_cast<IP_ADAPTER_UNICAST_ADDRESS*>(cursor);
            cursor += sizeof(IP_ADAPTER_UNICAST_ADDRESS);
            sockaddr_in* address = reinterpret_cast<sockaddr_in*>(cursor);
            cursor += sizeof(sockaddr_in);
            memset(unicast, 0, sizeof(*unicast));
            memset(address, 0, sizeof(*address));
            address->sin_family = AF_INET;
            address->sin_addr.s_addr = Ipv4(text);
            unicast->Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(address);
            unicast->Address.iSockaddrLength = sizeof(sockaddr_in);
            if (previous == nullptr) {
                adapter->FirstUnicastAddress = unicast;
            } else {
                previous->Next = unicast;
            }
            previous = unicast;
        }
    }
    return NO_ERROR;
}

DWORD WINAPI FakeGetIpNetTable(PMIB_IPNETTABLE table, PULONG size, BOOL)
{
    FakePlatform* fake = FakePlatform::current;
    EnterCriticalSection(&fake->lock);
    DWORD result = NO_ERROR;
    ULONG needed = static_cast<ULONG>(sizeof(DWORD) + (fake->neighbours.size() + 1) * sizeof(MIB_IPNETROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        result = ERROR_INSUFFICIENT_BUFFER;
    } else {
        table->dwNumEntries = static_cast<DWORD>(fake->neighbours.size());
        for (size_t i = 0; i < fake->neighbours.size(); ++i) {
            MIB_IPNETROW& row = table->table[i];
            row = {};
            row.dwAddr = Ipv4(fake->neighbours[i].address);
            row.dwIndex = fake->neighbours[i].index;
            row.dwType = 3;
            row.dwPhysAddrLen = 6;
            memcpy(row.bPhysAddr, fake->neighbours[i].mac, 6);
        }
    }
    LeaveCriticalSection(&fake->lock);
    return result;
}

// The same rows with their states, as GetIpNetTable2 gives them.
DWORD WINAPI FakeGetIpNetTable2(ADDRESS_FAMILY, PMIB_IPNET_TABLE2* table)
{
    FakePlatform* fake = FakePlatform::current;
    EnterCriticalSection(&fake->lock);
    const std::vector<FakeNeighbour>& rows = fake->neighbours;
    size_t bytes = offsetof(MIB_IPNET_TABLE2, Table) + (rows.size() + 1) * sizeof(MIB_IPNET_ROW2);
    *table = static_cast<MIB_IPNET_TABLE2*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    if (*table != nullptr) {
        (*table)->NumEntries = static_cast<ULONG>(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            MIB_IPNET_ROW2& row = (*table)->Table[i];
            row.Address.Ipv4.sin_family = AF_INET;
            row.Address.Ipv4.sin_addr.s_addr = Ipv4(rows[i].address);
            row.InterfaceIndex = rows[i].index;
            row.State = rows[i].state;
            row.IsUnreachable = rows[i].unreachable;
        }
    }
    LeaveCriticalSection(&fake->lock);
    return *table != nullptr ? NO_ERROR : ERROR_NOT_ENOUGH_MEMORY;
}

VOID WINAPI FakeFreeMibTable(PVOID table)
{
    HeapFree(GetProcessHeap(), 0, table);
}

DWORD WINAPI FakeSendArp(IPAddr dest, IPAddr source, PVOID mac, PULONG length)
{
    FakePlatform* fake = FakePlatform::current;
    EnterCriticalSection(&fake->lock);
    DWORD result = fake->sendArpResult == NO_ERROR ? DWORD(ERROR_BAD_NET_NAME) : fake->sendArpResult;
    for (const FakeAddress& address : fake->addresses) {
        for (const FakeNeighbour& row : fake->neighbours) {
            if (fake->sendArpResult == NO_ERROR && Ipv4(address.address) == source && row.index == address.index &&
                Ipv4(row.address) == dest && *length >= 6) {
                memcpy(mac, row.mac, 6);
                *length = 6;
                result = NO_ERROR;
            }
        }
    }
    LeaveCriticalSection(&fake->lock);
    return result;
}

int FakeSolicitNeighbour(IPAddr)
{
    InterlockedIncrement(&FakePlatform::current->solicits);
    return 0;
}

int WINAPI FakeMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    FakePlatform* fake = FakePlatform::current;
    EnterCriticalSection(&fake->lock);
    fake->boxes.push_back({owner, text ? text : L"", caption ? caption : L"", type});
    LeaveCriticalSection(&fake->lock);
    return IDOK;
}

DWORD WINAPI FakeNotifyAddrChange(PHANDLE, LPOVERLAPPED overlapped)
{
    FakePlatform* fake = FakePlatform::current;
    EnterCriticalSection(&fake->lock);
    ++fake->notifyCalls;
    // Starting a request resets its event, as the real call does.
    fake->notifyEvent = overlapped->hEvent;
    ResetEvent(overlapped->hEvent);
    DWORD result = fake->notifyResult;
    LeaveCriticalSection(&fake->lock);
    WSASetLastError(result == ERROR_IO_PENDING ? WSA_IO_PENDING : 0);
    return result;
}

BOOL WINAPI FakeCancelIPChangeNotify(LPOVERLAPPED)
{
    InterlockedIncrement(&FakePlatform::current->cancelCalls);
    return TRUE;
}

}  // namespace

void FakePlatform::SignalAddressChange()
{
    EnterCriticalSection(&lock);
    if (notifyEvent != nullptr) {
        SetEvent(notifyEvent);
    }
    LeaveCriticalSection(&lock);
}

FakePlatform::FakePlatform() : saved_(g_platform)
{
    InitializeCriticalSection(&lock);
    current = this;
    g_platform.getIpAddrTable = FakeGetIpAddrTable;
    g_platform.getAdaptersAddresses = FakeGetAdaptersAddresses;
    g_platform.getIpNetTable = FakeGetIpNetTable;
    g_platform.getIpNetTable2 = FakeGetIpNetTable2;
    g_platform.freeMibTable = FakeFreeMibTable;
    g_platform.sendArp = FakeSendArp;
    g_platform.solicitNeighbour = FakeSolicitNeighbour;
    g_platform.messageBox = FakeMessageBox;
    g_platform.notifyAddrChange = FakeNotifyAddrChange;
    g_platform.cancelIPChangeNotify = FakeCancelIPChangeNotify;
}

FakePlatform::~FakePlatform()
{
    g_platform = saved_;
    current = nullptr;
    DeleteCriticalSection(&lock);
}

void FakePlatform::SetAddresses(const std::vector<FakeAddress>& rows)
{
    EnterCriticalSection(&lock);
    addresses = rows;
    LeaveCriticalSection(&lock);
}
