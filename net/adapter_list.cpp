// Reads the adapter list and finds the interface index of an address in it.
#include "net/adapter_list.h"

#include "core/platform.h"
#include "net/interface_entry.h"

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
