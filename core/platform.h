// The seam to machine-dependent services. Product code calls through
// g_platform; tests replace single entries and restore them afterwards.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

struct PlatformServices {
    DWORD(WINAPI* getIpAddrTable)(PMIB_IPADDRTABLE table, PULONG size, BOOL order);
    ULONG(WINAPI* getAdaptersAddresses)(ULONG family, ULONG flags, PVOID reserved,
                                        PIP_ADAPTER_ADDRESSES addresses, PULONG size);
    DWORD(WINAPI* getIpNetTable)(PMIB_IPNETTABLE table, PULONG size, BOOL order);
    DWORD(WINAPI* sendArp)(IPAddr dest, IPAddr source, PVOID macAddress, PULONG length);
    int(WINAPI* messageBox)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
    HINSTANCE(WINAPI* shellExecute)(HWND owner, LPCWSTR verb, LPCWSTR file,
                                    LPCWSTR parameters, LPCWSTR directory, INT show);
    HRESULT(WINAPI* createInstance)(REFCLSID clsid, LPUNKNOWN outer, DWORD context,
                                    REFIID iid, LPVOID* object);
};

extern PlatformServices g_platform;

// The real Win32 entries, for restoring after a test.
PlatformServices DefaultPlatformServices();
