// The console's questions to the interface table, each under its lock.
#include "app/scan_interfaces.h"

#include <winsock2.h>
#include <windows.h>
#include <stdio.h>

#include "core/globals.h"
#include "core/text_copy.h"
#include "core/web_address.h"
#include "net/address_class.h"
#include "net/interface_table.h"

int PrefixLength(uint32_t mask)
{
    uint32_t bits = ntohl(mask);
    int length = 0;
    while (length < 32 && (bits & (0x80000000u >> length)) != 0) {
        ++length;
    }
    return length;
}

uint32_t ScanNetworkOf(uint32_t address, int prefix)
{
    uint32_t network = kAllInterfaces;
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        const InterfaceEntry& entry = g_interfaceTable.entries[i];
        bool length = prefix < 0 || PrefixLength(entry.mask) == prefix;
        if (length && (address & entry.mask) == entry.network) {
            network = entry.network;
            break;
        }
    }
    UnlockInterfaceTable();
    return network;
}

void ListScanSubnets(wchar_t* text, int chars)
{
    size_t capacity = static_cast<size_t>(chars);
    CopyText(text, capacity, L"none");
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        const InterfaceEntry& entry = g_interfaceTable.entries[i];
        wchar_t network[32];
        wchar_t subnet[48];
        FormatDottedQuad(entry.network, network, 32);
        _snwprintf(subnet, 48, L"%ls%ls/%d", i == 0 ? L"" : L", ", network, PrefixLength(entry.mask));
        subnet[47] = L'\0';
        size_t used = i == 0 ? 0 : wcslen(text);
        CopyText(text + used, capacity - used, subnet);
    }
    UnlockInterfaceTable();
}

void HeardOnFromInterfaces(const DeviceRow* row, wchar_t* text, int chars)
{
    CopyText(text, static_cast<size_t>(chars), L"");
    unsigned long value = 0;
    if (!ParseDottedQuadText(row->record->ipText, &value)) {
        return;
    }
    uint32_t device = htonl(static_cast<uint32_t>(value));
    uint32_t heardOn = 0;
    int fits = 0;
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        const InterfaceEntry& entry = g_interfaceTable.entries[i];
        uint32_t filter = g_subnetFilter;
        bool asked = filter == kAllInterfaces || filter == entry.network;
        if (asked && ClassifySender(device, entry.address, entry.mask, entry.network) == row->ownState) {
            heardOn = entry.address;
            ++fits;
        }
    }
    UnlockInterfaceTable();
    if (fits == 1) {
        FormatDottedQuad(heardOn, text, static_cast<size_t>(chars));
    }
}
