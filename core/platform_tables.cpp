// Reads the address and neighbour tables with their size probe and
// grow-and-retry, and turns the rows that fit the buffer into plain arrays.
#include "core/platform_tables.h"

#include <stddef.h>
#include <string.h>

#include "core/platform.h"

namespace {

// One call of a table's platform entry: the size probe (null table) or a read.
typedef DWORD (*TableCall)(void* table, ULONG* size);

DWORD CallAddressTable(void* table, ULONG* size)
{
    return g_platform.getIpAddrTable(static_cast<PMIB_IPADDRTABLE>(table), size, FALSE);
}

DWORD CallNeighbourTable(void* table, ULONG* size)
{
    return g_platform.getIpNetTable(static_cast<PMIB_IPNETTABLE>(table), size, FALSE);
}

// Every buffer and array here comes from, and goes back to, the process heap.
void* AllocateZeroed(size_t bytes)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void FreeBuffer(void* buffer)
{
    if (buffer != nullptr) {
        HeapFree(GetProcessHeap(), 0, buffer);
    }
}

// The table as the platform lays it out, in a zero-filled buffer of *size
// bytes (at least header). Returns NO_ERROR, or the failing status with
// *table null.
DWORD ReadRawTable(TableCall call, size_t header, void** table, ULONG* size)
{
    *table = nullptr;
    ULONG wanted = 0;
    DWORD status = call(nullptr, &wanted);
    if (status != ERROR_INSUFFICIENT_BUFFER) {
        // A probe that needs no buffer has nothing to read.
        return status == NO_ERROR ? DWORD(ERROR_NO_DATA) : status;
    }
    for (int attempt = 0; attempt < kTableReadAttempts; ++attempt) {
        if (wanted < header) {
            return ERROR_INVALID_DATA;
        }
        void* buffer = AllocateZeroed(wanted);
        if (buffer == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        ULONG asked = wanted;
        status = call(buffer, &asked);
        if (status == NO_ERROR) {
            *table = buffer;
            *size = wanted;
            return NO_ERROR;
        }
        FreeBuffer(buffer);
        // Rows came in after the probe: the read says how much it needs now.
        // One that asks for no more than it had will not be satisfied.
        if (status != ERROR_INSUFFICIENT_BUFFER || asked <= wanted) {
            return status;
        }
        wanted = asked;
    }
    return status;
}

// The table's row count, or fewer: never more rows than the buffer holds.
uint32_t RowsInBuffer(DWORD claimed, ULONG size, size_t header, size_t rowSize)
{
    size_t fits = (size - header) / rowSize;
    return claimed < fits ? static_cast<uint32_t>(claimed) : static_cast<uint32_t>(fits);
}

// An address being resolved, or that failed to resolve, may come back as
// dynamic with a hardware address of zeros (Wine): that is no address.
bool NeighbourCounts(const MIB_IPNETROW& row)
{
    if ((row.dwType != kNeighbourTypeDynamic && row.dwType != kNeighbourTypeStatic) ||
        row.dwPhysAddrLen != kNeighbourMacLength) {
        return false;
    }
    for (DWORD i = 0; i < kNeighbourMacLength; ++i) {
        if (row.bPhysAddr[i] != 0) {
            return true;
        }
    }
    return false;
}

// Room for count rows of rowSize bytes, and never a null array for none.
void* AllocateRows(uint32_t count, size_t rowSize)
{
    return AllocateZeroed((count > 0 ? count : 1) * rowSize);
}

}  // namespace

DWORD ReadAddressRows(AddressRow** rows, uint32_t* count)
{
    *rows = nullptr;
    *count = 0;
    void* raw = nullptr;
    ULONG size = 0;
    const size_t header = offsetof(MIB_IPADDRTABLE, table);
    DWORD status = ReadRawTable(CallAddressTable, header, &raw, &size);
    if (status != NO_ERROR) {
        return status;
    }
    const MIB_IPADDRTABLE* table = static_cast<const MIB_IPADDRTABLE*>(raw);
    uint32_t rowCount = RowsInBuffer(table->dwNumEntries, size, header, sizeof(MIB_IPADDRROW));
    AddressRow* converted = static_cast<AddressRow*>(AllocateRows(rowCount, sizeof(AddressRow)));
    if (converted == nullptr) {
        FreeBuffer(raw);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    for (uint32_t i = 0; i < rowCount; ++i) {
        converted[i].address = table->table[i].dwAddr;
        converted[i].mask = table->table[i].dwMask;
        converted[i].index = table->table[i].dwIndex;
    }
    FreeBuffer(raw);
    *rows = converted;
    *count = rowCount;
    return NO_ERROR;
}

DWORD ReadNeighbourRows(NeighbourRow** rows, uint32_t* count)
{
    *rows = nullptr;
    *count = 0;
    void* raw = nullptr;
    ULONG size = 0;
    const size_t header = offsetof(MIB_IPNETTABLE, table);
    DWORD status = ReadRawTable(CallNeighbourTable, header, &raw, &size);
    if (status != NO_ERROR) {
        return status;
    }
    const MIB_IPNETTABLE* table = static_cast<const MIB_IPNETTABLE*>(raw);
    uint32_t rowCount = RowsInBuffer(table->dwNumEntries, size, header, sizeof(MIB_IPNETROW));
    NeighbourRow* converted = static_cast<NeighbourRow*>(AllocateRows(rowCount, sizeof(NeighbourRow)));
    if (converted == nullptr) {
        FreeBuffer(raw);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < rowCount; ++i) {
        const MIB_IPNETROW& row = table->table[i];
        if (NeighbourCounts(row)) {
            converted[kept].address = row.dwAddr;
            converted[kept].interfaceIndex = row.dwIndex;
            memcpy(converted[kept].mac, row.bPhysAddr, kNeighbourMacLength);
            converted[kept].live = true;  // this table tells no more: its invalid rows never count
            ++kept;
        }
    }
    FreeBuffer(raw);
    *rows = converted;
    *count = kept;
    return NO_ERROR;
}

namespace {

bool LiveState(const MIB_IPNET_ROW2& row)
{
    if (row.IsUnreachable) {
        return false;
    }
    switch (row.State) {
    case NlnsReachable:
    case NlnsStale:
    case NlnsDelay:
    case NlnsPermanent:
        return true;
    default:
        return false;
    }
}

}  // namespace

DWORD MarkLiveNeighbours(NeighbourRow* rows, uint32_t count)
{
    MIB_IPNET_TABLE2* table = nullptr;
    DWORD status = g_platform.getIpNetTable2(AF_INET, &table);
    if (status != NO_ERROR) {
        return status;
    }
    if (table == nullptr) {
        return ERROR_INVALID_DATA;
    }
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.Address.si_family != AF_INET || LiveState(row)) {
            continue;
        }
        for (uint32_t j = 0; j < count; ++j) {
            if (rows[j].address == row.Address.Ipv4.sin_addr.s_addr && rows[j].interfaceIndex == row.InterfaceIndex) {
                rows[j].live = false;
            }
        }
    }
    g_platform.freeMibTable(table);
    return NO_ERROR;
}

void FreeTableRows(void* rows)
{
    FreeBuffer(rows);
}

DWORD ReadInterfaceAddress(uint32_t interfaceIndex, uint32_t* address, uint32_t* mask)
{
    AddressRow* rows = nullptr;
    uint32_t count = 0;
    DWORD status = ReadAddressRows(&rows, &count);
    if (status != NO_ERROR) {
        return status;
    }
    status = ERROR_INVALID_PARAMETER;
    for (uint32_t i = 0; i < count; ++i) {
        if (rows[i].index == interfaceIndex && rows[i].address != 0) {
            *address = rows[i].address;
            *mask = rows[i].mask;
            status = NO_ERROR;
            break;
        }
    }
    FreeTableRows(rows);
    return status;
}

bool FindInterfaceOfAddress(const AddressRow* rows, uint32_t count, uint32_t address, uint32_t* interfaceIndex)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (rows[i].address == address && address != 0) {
            *interfaceIndex = rows[i].index;
            return true;
        }
    }
    return false;
}
