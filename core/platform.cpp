// Default entries of the platform seam: the real Win32 calls.
#include "core/platform.h"

#include <shellapi.h>
#include <objbase.h>

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
    services.solicitNeighbour = SolicitNeighbour;
    return services;
}

PlatformServices g_platform = DefaultPlatformServices();
