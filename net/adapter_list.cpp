// Reads the adapter list and finds the interface index of an address in it.
#include "net/adapter_list.h"

#include "core/platform.h"
#include "net/interface_entry.h"

namespace {

// Fills tried before the list counts as unavailable.
constexpr int kAdapterListAttempts = 4;

}  // namespace

IP_ADAPTER_ADDRESSES* ReadAdapterList()
{
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 0;
    ULONG result = g_platform.getAdaptersAddresses(AF_INET, flags, nullptr, nullptr, &size);
    // The list can grow between the call that sizes it and the one that
    // fills it (a VPN connecting, Wi-Fi coming back: just when the table is
    // rebuilt); Microsoft's documentation of GetAdaptersAddresses advises
    // calling again with the size the failed call gave, a few times.
    for (int attempt = 0; attempt < kAdapterListAttempts && result == ERROR_BUFFER_OVERFLOW && size != 0;
         ++attempt) {
        IP_ADAPTER_ADDRESSES* list = static_cast<IP_ADAPTER_ADDRESSES*>(GlobalAlloc(GPTR, size));
        if (list == nullptr) {
            return nullptr;
        }
        result = g_platform.getAdaptersAddresses(AF_INET, flags, nullptr, list, &size);
        if (result == NO_ERROR) {
            return list;
        }
        GlobalFree(list);
    }
    // Without the list, entries take the address table's interface index.
    return nullptr;
}

void FreeAdapterList(IP_ADAPTER_ADDRESSES* adapters)
{
    if (adapters != nullptr) {
        GlobalFree(adapters);
    }
}

uint32_t FindInterfaceIndex(const IP_ADAPTER_ADDRESSES* adapters, uint32_t address)
{
    uint32_t index = kNoInterfaceIndex;
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
