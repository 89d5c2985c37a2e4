// The console's questions to the interface table, each under its lock.
#include "console/interfaces.h"

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

namespace {

// Interfaces beyond these are not told apart (the answer is then "").
constexpr uint32_t kKeptInterfaces = 64;

struct KeptInterface {
    uint32_t address;
    uint32_t mask;
    uint32_t network;
};

// Written and read by the console's thread only.
KeptInterface g_kept[kKeptInterfaces];
uint32_t g_keptCount = 0;
bool g_keptAll = true;

}  // namespace

void KeepScanInterfaces()
{
    uint32_t filter = g_subnetFilter;
    g_keptCount = 0;
    g_keptAll = true;
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        const InterfaceEntry& entry = g_interfaceTable.entries[i];
        if (filter != kAllInterfaces && filter != entry.network) {
            continue;  // not asked on
        }
        if (g_keptCount == kKeptInterfaces) {
            g_keptAll = false;
            break;
        }
        g_kept[g_keptCount++] = KeptInterface{entry.address, entry.mask, entry.network};
    }
    UnlockInterfaceTable();
}

void HeardOnFromInterfaces(const DeviceRow* row, wchar_t* text, int chars)
{
    CopyText(text, static_cast<size_t>(chars), L"");
    unsigned long value = 0;
    if (!g_keptAll || !ParseDottedQuadText(row->record->ipText, &value)) {
        return;
    }
    uint32_t device = htonl(static_cast<uint32_t>(value));
    const KeptInterface* heardOn = nullptr;
    int fits = 0;
    for (uint32_t i = 0; i < g_keptCount; ++i) {
        const KeptInterface& kept = g_kept[i];
        if (ClassifySender(device, kept.address, kept.mask, kept.network) == row->ownState) {
            heardOn = &kept;
            ++fits;
        }
    }
    if (fits == 1) {
        FormatDottedQuad(heardOn->address, text, static_cast<size_t>(chars));
    }
}
