// The browse-and-resolve routine: finds the instances of the devices'
// service on one interface with a PTR browse, takes each instance that the
// browse answer describes in full as it stands, resolves the others with SRV
// and TXT queries, several at a time, and hands each resolved one to the
// found-callback.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include "mdns/found_callback.h"
#include "mdns/instance_queue.h"
#include "mdns/lookup_slots.h"
#include "mdns/mdns_query.h"

// Asked every cycle: false ends the browse as an abort does (the subnet
// choice or the auto-refresh setting no longer asks for it).
typedef bool (*KeepBrowsingCallback)(void* context);

enum : int {
    // Instances taken from one browse answer that names several.
    kMaxInstancesPerAnswer = 16,
};

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
    KeepBrowsingCallback keepBrowsing;  // null: browse until abort or silence
    void* keepBrowsingContext;
    // Auto-reset, polled (and so consumed) once per cycle: a signal ends the
    // running pass and starts a fresh one at once, which reports every host
    // again (a Refresh emptied the list). Null or INVALID_HANDLE_VALUE: none.
    HANDLE restartEvent;
};

// abortEvent none, singlePass 0, resolveSrv 1, resolveTxt 1, interface 0.
BrowseOptions DefaultBrowseOptions();

// Shared by one call of BrowseServices and its record callbacks.
struct BrowseContext {
    InstanceQueue queue;  // found by the answers, waiting for the browse
    FoundCallback foundCallback;
    HWND window;  // g_mainWindow when the call began
    wchar_t serviceType[kDnsNameChars];
    wchar_t domain[kDnsNameChars];
    wchar_t browseName[kDnsNameChars];
    mDNSPTRQuery* browseQuery;  // forgets the hosts of lost instances; may be null
};

// An instance lost before it was reported: its host's next answer counts
// again. The context is the BrowseContext (the queue's `lost` hook).
void ForgetInstanceHost(void* context, const ServiceInstance* instance);

// Runs the browse on the calling thread until it is aborted or, with
// singlePass, until a pass ends in silence. options null: the defaults.
// Returns 1.
int32_t BrowseServices(const BrowseOptions* options);
