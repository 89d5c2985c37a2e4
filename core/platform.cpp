// Default entries of the platform seam: the real Win32 calls.
#include "core/platform.h"

#include <shellapi.h>
#include <objbase.h>

PlatformServices DefaultPlatformServices()
{
    PlatformServices services = {};
    services.getIpAddrTable = GetIpAddrTable;
    services.getAdaptersAddresses = GetAdaptersAddresses;
    services.getIpNetTable = GetIpNetTable;
    services.sendArp = SendARP;
    services.messageBox = MessageBoxW;
    services.shellExecute = ShellExecuteW;
    services.createInstance = CoCreateInstance;
    return services;
}

PlatformServices g_platform = DefaultPlatformServices();
