// The seam to machine-dependent services. Product code calls through
// g_platform; tests replace single entries and restore them afterwards.
#pragma once

#include <winsock2.h>
// Before iphlpapi.h, which declares the table with neighbour states only
// after it (a file that included iphlpapi.h before this one sees the table
// as the incomplete struct below).
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <windns.h>
#include <commdlg.h>

struct PlatformServices {
    DWORD(WINAPI* getIpAddrTable)(PMIB_IPADDRTABLE table, PULONG size, BOOL order);
    ULONG(WINAPI* getAdaptersAddresses)(ULONG family, ULONG flags, PVOID reserved,
                                        PIP_ADAPTER_ADDRESSES addresses, PULONG size);
    DWORD(WINAPI* getIpNetTable)(PMIB_IPNETTABLE table, PULONG size, BOOL order);
    // The neighbour table with each row's state, freed by freeMibTable.
    DWORD(WINAPI* getIpNetTable2)(ADDRESS_FAMILY family, struct _MIB_IPNET_TABLE2** table);
    VOID(WINAPI* freeMibTable)(PVOID memory);
    DWORD(WINAPI* sendArp)(IPAddr dest, IPAddr source, PVOID macAddress, PULONG length);
    int(WINAPI* messageBox)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
    HINSTANCE(WINAPI* shellExecute)(HWND owner, LPCWSTR verb, LPCWSTR file,
                                    LPCWSTR parameters, LPCWSTR directory, INT show);
    HRESULT(WINAPI* createInstance)(REFCLSID clsid, LPUNKNOWN outer, DWORD context,
                                    REFIID iid, LPVOID* object);
    BOOL(WINAPI* getSaveFileName)(LPOPENFILENAMEW dialog);

    // Address-change notification (the address watcher).
    DWORD(WINAPI* notifyAddrChange)(PHANDLE handle, LPOVERLAPPED overlapped);
    BOOL(WINAPI* cancelIPChangeNotify)(LPOVERLAPPED overlapped);

    // The system's multicast DNS client: dnsapi.dll's exports, looked up at
    // run time, or null where it has none. The three always come from one
    // client: records are freed by the client that made them.
    DNS_STATUS(WINAPI* dnsStartMulticastQuery)(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle);
    DNS_STATUS(WINAPI* dnsStopMulticastQuery)(PMDNS_QUERY_HANDLE handle);
    VOID(WINAPI* dnsFree)(PVOID data, DNS_FREE_TYPE freeType);
    // The program's own client with the same contract (querier/), installed at
    // start-up; used where the system has none or an interface's queries
    // keep being refused by it. Null until installed.
    DNS_STATUS(WINAPI* ownDnsStartMulticastQuery)(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle);
    DNS_STATUS(WINAPI* ownDnsStopMulticastQuery)(PMDNS_QUERY_HANDLE handle);
    VOID(WINAPI* ownDnsFree)(PVOID data, DNS_FREE_TYPE freeType);
    // Forgets the answers its PTR questions list as known (answer null: all).
    void (*ownForgetKnownAnswers)(ULONG interfaceIndex, PCWSTR question, PCWSTR answer);
    // Reserves the queries a browse may hold at once, for its time (a
    // negative count gives them back): its limit grows with the browses.
    void (*ownReserveQueries)(int queries);

    // Reads of the broadcast sockets, and the switch of their reports of
    // closed ports.
    int(WSAAPI* recvFrom)(SOCKET socket, char* buffer, int length, int flags, sockaddr* from,
                          int* fromLength);
    int(WSAAPI* wsaIoctl)(SOCKET socket, DWORD code, LPVOID in, DWORD inLength, LPVOID out,
                          DWORD outLength, LPDWORD returned, LPWSAOVERLAPPED overlapped,
                          LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);

    // Makes the system resolve a neighbour's hardware address: one harmless
    // unicast datagram to the address (the discard port). Returns 0 when sent.
    int (*solicitNeighbour)(IPAddr address);

    // The state of this end of a pipe (NamedPipeState of ntdll's
    // FilePipeLocalInformation, looked up at run time): NO_ERROR and one of
    // the kPipe...State values, or why it cannot be told (ERROR_PROC_NOT_FOUND
    // where ntdll has no such query, or the query's own failure).
    DWORD (*queryPipeState)(HANDLE pipe, ULONG* state);

    // The firewall products registered with the Security Center that are
    // on, as names separated by "; " (bounded, zero-terminated) and their
    // count. Called inside a COM apartment. A failure (no Security Center,
    // as under Wine, which has no wscapi.dll) means the list is unknown,
    // never that it is empty.
    HRESULT (*listFirewallProducts)(wchar_t* names, size_t capacity, int* count);
};

// NamedPipeState values of FILE_PIPE_LOCAL_INFORMATION (ntifs.h).
constexpr ULONG kPipeDisconnectedState = 1;
constexpr ULONG kPipeListeningState = 2;
constexpr ULONG kPipeConnectedState = 3;
constexpr ULONG kPipeClosingState = 4;  // the other end has closed its handle

extern PlatformServices g_platform;

// The real entries, for restoring after a test.
PlatformServices DefaultPlatformServices();
