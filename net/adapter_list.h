// The system's adapter list, read for one fact: which interface index
// carries each local IPv4 address.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <stdint.h>

// The IPv4 adapter list, or null (silently) when it cannot be had, even
// after asking again while it grows; free it with FreeAdapterList.
IP_ADAPTER_ADDRESSES* ReadAdapterList();
void FreeAdapterList(IP_ADAPTER_ADDRESSES* adapters);

// The index of the adapter that carries the address, the last one in list
// order where several do; kNoInterfaceIndex when none does.
uint32_t FindInterfaceIndex(const IP_ADAPTER_ADDRESSES* adapters, uint32_t address);
