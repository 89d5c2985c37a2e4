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
#include "mdns/mdns_query.h"

// Asked every cycle: false ends the browse as an abort does (the subnet
// choice or the auto-refresh setting no longer asks for it).
typedef bool (*KeepBrowsingCallback)(void* context);

enum : int {
    // Instances resolved by their own queries at the same time, per browse.
    kMaxParallelLookups = 8,
    // Instances waiting for a lookup; beyond that the oldest give way (and
    // are found again by their next answer).
    kMaxPendingInstances = 1024,
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
};

// abortEvent none, singlePass 0, resolveSrv 1, resolveTxt 1, interface 0.
BrowseOptions DefaultBrowseOptions();

// Instances found and not yet taken, in arrival order; the newest is taken
// first, the oldest gives way when the ring is full.
struct InstanceRing {
    InstancePtr items[kMaxPendingInstances];
    unsigned oldest;
    unsigned count;
};

// Shared by one call of BrowseServices and its record callbacks.
struct BrowseContext {
    HANDLE lock;  // mutex guarding the two rings; INVALID_HANDLE_VALUE once closed
    FoundCallback foundCallback;
    HWND window;  // g_mainWindow when the call began
    wchar_t serviceType[kDnsNameChars];
    wchar_t domain[kDnsNameChars];
    wchar_t browseName[kDnsNameChars];
    HANDLE wake;  // auto-reset event: an answer arrived
    mDNSPTRQuery* browseQuery;  // forgets the hosts of lost instances; may be null
    // Apart, so that instances the browse answer describes in full are never
    // held up behind ones that wait for a lookup slot.
    InstanceRing ready;    // complete as the browse answer gave them
    InstanceRing pending;  // waiting for their lookups
};

// Under the context's lock: queues an instance (the oldest is freed, and its
// host forgotten, when the ring is full); takes the newest, or null; looks
// at the newest.
void PushInstance(BrowseContext* context, InstanceRing* ring, InstancePtr instance);
InstancePtr PopNewestInstance(InstanceRing* ring);
const ServiceInstance* NewestInstance(const InstanceRing* ring);

// An instance lost before it was reported: its host's next answer counts
// again.
void ForgetInstanceHost(BrowseContext* context, const ServiceInstance* instance);

// Runs the browse on the calling thread until it is aborted or, with
// singlePass, until a pass ends in silence. options null: the defaults.
// Returns 1.
int32_t BrowseServices(const BrowseOptions* options);
