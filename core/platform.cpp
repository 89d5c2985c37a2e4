// Default entries of the platform seam: the real Win32 calls.
#include "core/platform.h"

#include "core/security_center.h"

#include <shellapi.h>
#include <objbase.h>
#include <winternl.h>

namespace {

constexpr u_short kDiscardPort = 9;

// Never imported statically: where dnsapi.dll lacks them (Windows before 10,
// Wine) a static import would end the process at the first call.
template <typename Function>
void LookUpDnsApi(HMODULE dnsapi, const char* name, Function* slot)
{
    *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dnsapi, name)));
}

void LookUpMulticastDnsClient(PlatformServices* services)
{
    // Loaded once and kept for the life of the process; from the system
    // directory only, never from wherever the program was started.
    HMODULE dnsapi = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dnsapi == nullptr) {
        return;
    }
    LookUpDnsApi(dnsapi, "DnsStartMulticastQuery", &services->dnsStartMulticastQuery);
    LookUpDnsApi(dnsapi, "DnsStopMulticastQuery", &services->dnsStopMulticastQuery);
    LookUpDnsApi(dnsapi, "DnsFree", &services->dnsFree);
    if (services->dnsStartMulticastQuery == nullptr || services->dnsStopMulticastQuery == nullptr ||
        services->dnsFree == nullptr) {
        // All three from one client, or none.
        services->dnsStartMulticastQuery = nullptr;
        services->dnsStopMulticastQuery = nullptr;
        services->dnsFree = nullptr;
    }
}

int SolicitNeighbour(IPAddr address)
{
    SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (probe == INVALID_SOCKET) {
        return -1;
    }
    sockaddr_in destination = {};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(kDiscardPort);
    destination.sin_addr.s_addr = address;
    const char payload = 0;
    int sent = sendto(probe, &payload, 1, 0, reinterpret_cast<const sockaddr*>(&destination),
                      sizeof(destination));
    closesocket(probe);
    return sent == 1 ? 0 : -1;
}

typedef NTSTATUS(NTAPI* QueryInformationFile)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
typedef ULONG(NTAPI* NtStatusToDosError)(NTSTATUS);

// ntdll's own calls, looked up rather than imported: a system that lacks one
// then answers "cannot tell" instead of refusing to start the program.
QueryInformationFile g_queryInformationFile = nullptr;
NtStatusToDosError g_statusToDosError = nullptr;

void LookUpNtdll()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");  // in every process
    if (ntdll == nullptr) {
        return;
    }
    g_queryInformationFile = reinterpret_cast<QueryInformationFile>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")));
    g_statusToDosError = reinterpret_cast<NtStatusToDosError>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
}

DWORD QueryPipeState(HANDLE pipe, ULONG* state)
{
    if (g_queryInformationFile == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    FILE_PIPE_LOCAL_INFORMATION information = {};
    IO_STATUS_BLOCK io = {};
    NTSTATUS status = g_queryInformationFile(pipe, &io, &information, sizeof(information), FilePipeLocalInformation);
    if (!NT_SUCCESS(status)) {
        return g_statusToDosError != nullptr ? g_statusToDosError(status) : ERROR_GEN_FAILURE;
    }
    *state = information.NamedPipeState;
    return NO_ERROR;
}

}  // namespace

PlatformServices DefaultPlatformServices()
{
    PlatformServices services = {};
    services.getIpAddrTable = GetIpAddrTable;
    services.getAdaptersAddresses = GetAdaptersAddresses;
    services.getIpNetTable = GetIpNetTable;
    services.getIpNetTable2 = GetIpNetTable2;
    services.freeMibTable = FreeMibTable;
    services.sendArp = SendARP;
    services.messageBox = MessageBoxW;
    services.shellExecute = ShellExecuteW;
    services.createInstance = CoCreateInstance;
    services.getSaveFileName = GetSaveFileNameW;
    services.notifyAddrChange = NotifyAddrChange;
    services.cancelIPChangeNotify = CancelIPChangeNotify;
    LookUpMulticastDnsClient(&services);
    services.recvFrom = recvfrom;
    services.wsaIoctl = WSAIoctl;
    services.solicitNeighbour = SolicitNeighbour;
    LookUpNtdll();
    services.queryPipeState = QueryPipeState;
    services.listFirewallProducts = ListSecurityCenterFirewalls;
    return services;
}

PlatformServices g_platform = DefaultPlatformServices();
