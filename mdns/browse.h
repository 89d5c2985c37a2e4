// The browse-and-resolve routine: finds the instances of the devices'
// service on one interface with a PTR browse, resolves them one at a time
// with SRV and TXT queries, and hands each resolved one to the found-callback.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include "mdns/mdns_query.h"

struct ReportedHosts;

// The found-callback: the resolved service and the browse's window; also the
// browse's abort event (which cuts waits short) and, with auto-refresh, the
// table where a posted record is remembered (null otherwise). Result ignored.
typedef int32_t (*FoundCallback)(const ResolvedService* service, HWND window, HANDLE abortEvent,
                                 ReportedHosts* reportedHosts);

struct BrowseOptions {
    HANDLE abortEvent;        // polled once per cycle; INVALID_HANDLE_VALUE: none
    int32_t singlePass;       // return after the first pass that ends in silence
    int32_t resolveSrv;       // query SRV and wait for it
    int32_t resolveTxt;       // query TXT and wait for it
    uint32_t interfaceIndex;  // placed in every query
    // With auto-refresh: keeps listed devices fresh between their full
    // reports (see reported_hosts.h); null: no refreshes.
    ReportedHosts* reportedHosts;
    FoundCallback foundCallback;  // null: OnServiceFound
};

// abortEvent none, singlePass 0, resolveSrv 1, resolveTxt 1, interface 0.
BrowseOptions DefaultBrowseOptions();

// Shared by one call of BrowseServices and its record callbacks.
struct BrowseContext {
    HANDLE lock;  // mutex guarding pending; INVALID_HANDLE_VALUE once closed
    FoundCallback foundCallback;
    HWND window;  // g_mainWindow when the call began
    wchar_t serviceType[kDnsNameChars];
    wchar_t domain[kDnsNameChars];
    wchar_t browseName[kDnsNameChars];
    ServiceInstance* pending;  // newest first
};

// Runs the browse on the calling thread until it is aborted or, with
// singlePass, until a pass ends in silence. options null: the defaults.
// Returns 1.
int32_t BrowseServices(const BrowseOptions* options);
