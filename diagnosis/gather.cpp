// Reads the facts the diagnosis needs, now: the counters, the interface
// table (copied under its lock, nothing else done meanwhile), the adapters'
// types and names, the firewall as it stands, the subnet filter and the
// ways the workers ask by.
#include "diagnosis/report.h"

#include "core/globals.h"
#include "core/text_copy.h"
#include "firewall/firewall_state.h"
#include "net/adapter_list.h"
#include "net/address_class.h"
#include "net/interface_table.h"
#include "net/workers.h"

#include <ipifcons.h>
#include <wchar.h>

namespace diagnosis {
namespace {

// Words in an adapter's description or name that mark a VPN or a virtual
// adapter, which devices on the real network rarely answer through.
const wchar_t* const kVirtualWords[] = {
    L"VPN", L"Virtual", L"TAP", L"WireGuard", L"Hyper-V", L"VMware", L"VirtualBox",
};

bool ContainsWord(const wchar_t* text, const wchar_t* word)
{
    if (text == nullptr) {
        return false;
    }
    size_t length = wcslen(word);
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (_wcsnicmp(p, word, length) == 0) {
            return true;
        }
    }
    return false;
}

bool LooksVirtual(const IP_ADAPTER_ADDRESSES* adapter)
{
    if (adapter->IfType == IF_TYPE_PPP || adapter->IfType == IF_TYPE_TUNNEL ||
        adapter->IfType == IF_TYPE_PROP_VIRTUAL) {
        return true;
    }
    for (const wchar_t* word : kVirtualWords) {
        if (ContainsWord(adapter->Description, word) || ContainsWord(adapter->FriendlyName, word)) {
            return true;
        }
    }
    return false;
}

const IP_ADAPTER_ADDRESSES* AdapterOf(const IP_ADAPTER_ADDRESSES* adapters, uint32_t address)
{
    uint32_t index = FindInterfaceIndex(adapters, address);
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
        if (index != kNoInterfaceIndex && adapter->IfIndex == index) {
            return adapter;
        }
    }
    return nullptr;
}

// The table's addresses; the lock is held for the copy only.
void CopyInterfaces(Facts* facts)
{
    uint32_t filter = g_subnetFilter;
    facts->subnetFilter = filter;
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && facts->interfaceCount < diag::kMaxInterfaces; ++i) {
        const InterfaceEntry& entry = g_interfaceTable.entries[i];
        InterfaceFacts& known = facts->interfaces[facts->interfaceCount++];
        known.address = entry.address;
        known.mask = entry.mask;
        known.searched = filter == kAllInterfaces || filter == entry.network;
    }
    UnlockInterfaceTable();
}

void DescribeInterfaces(Facts* facts)
{
    IP_ADAPTER_ADDRESSES* adapters = ReadAdapterList();
    for (int i = 0; i < facts->interfaceCount; ++i) {
        InterfaceFacts& known = facts->interfaces[i];
        known.linkLocal = IsLinkLocalAddress(known.address);
        const IP_ADAPTER_ADDRESSES* adapter = adapters != nullptr ? AdapterOf(adapters, known.address) : nullptr;
        if (adapter != nullptr) {
            known.looksVirtual = LooksVirtual(adapter);
            CopyText(known.description, sizeof(known.description) / sizeof(wchar_t),
                     adapter->FriendlyName != nullptr ? adapter->FriendlyName : adapter->Description);
        }
    }
    FreeAdapterList(adapters);
}

Tri TriOf(FirewallAnswer answer)
{
    return answer == FirewallAnswer::kYes ? Tri::kYes : answer == FirewallAnswer::kNo ? Tri::kNo : Tri::kUnknown;
}

void ReadFirewall(const wchar_t* programPath, FirewallFacts* firewall)
{
    FirewallState state;
    ReadFirewallState(programPath, &state);
    firewall->enabled = TriOf(state.enabled);
    firewall->profilesInForce = state.profilesInForce;
    firewall->profilesOn = state.profilesOn;
    firewall->ourRule = TriOf(state.ourRule);
    firewall->ourRuleEnabled = TriOf(state.ourRuleEnabled);
    firewall->otherProduct = TriOf(state.otherProduct);
    CopyText(firewall->otherProductNames, sizeof(firewall->otherProductNames) / sizeof(wchar_t),
             state.otherProductNames);
}

}  // namespace

void Gather(const wchar_t* programPath, int rowsListed, Facts* facts)
{
    *facts = Facts{};
    facts->rowsListed = rowsListed;
    // A way not asked runs an idle worker in place of its own.
    facts->broadcastAsked = g_interfaceWorkers.transmit == TransmitWorker;
    facts->mdnsAsked = g_interfaceWorkers.mdns == MdnsWorker;
    facts->countCount = diag::Snapshot(facts->counts, diag::kMaxInterfaces);
    CopyInterfaces(facts);
    DescribeInterfaces(facts);
    ReadFirewall(programPath, &facts->firewall);
}

}  // namespace diagnosis
