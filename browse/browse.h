// The browse-and-resolve routine: finds the instances of the devices'
// service on one interface with a PTR browse, takes each instance that the
// browse answer describes in full as it stands, resolves the others with SRV,
// TXT and, where no answer carried it, address queries, several at a time,
// and hands each resolved one to the found-callback. An instance that could
// not be resolved is tried again only after a pause that grows.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include "browse/found_callback.h"
#include "browse/host_confirm.h"
#include "browse/instance_queue.h"
#include "browse/lookup_slots.h"
#include "browse/query.h"
#include "browse/paused_instances.h"

// A device heard of by a browse answer that named its address but not all
// the rest: told before its lookups start, so that work on the device (its
// hardware address) can run meanwhile.
typedef void (*DeviceHeardCallback)(uint32_t address, const InterfaceSubnet& heardOn);

// Asked every cycle: false ends the browse as an abort does (the subnet
// choice or the auto-refresh setting no longer asks for it).
typedef bool (*KeepBrowsingCallback)(void* context);

enum : int {
    // Instances taken from one browse answer that names several.
    kMaxInstancesPerAnswer = 16,
    // Instances one worker remembers from its reports; the oldest give way.
    kMaxRememberedInstances = 256,
};

// A lookup holds an SRV, a TXT and an address query.
constexpr int kQueriesPerLookup = 3;
// The most queries one browse holds at once: its browse question, the
// queries of its parallel lookups and its confirmation questions. It
// reserves them in our DNS client for its time, so that the client's limit
// grows with the interfaces browsed.
constexpr int kQueriesPerBrowse = 1 + kMaxParallelLookups * kQueriesPerLookup + kConfirmSlots;

// A pass asks the remembered instances that have not answered its question
// this long after its start directly (their SRV and TXT records): on a
// lossy link a lost answer to the browse question then costs a fraction of
// a second instead of the question's next repeat.
constexpr uint32_t kRecallAfterMs = 300;

struct BrowseOptions {
    HANDLE abortEvent;        // polled once per cycle; INVALID_HANDLE_VALUE: none
    int32_t singlePass;       // return after the first pass that ends in silence
    int32_t resolveSrv;       // query SRV and wait for it
    int32_t resolveTxt;       // query TXT and wait for it
    uint32_t interfaceIndex;  // placed in every query
    // The interface entry's address and mask: devices are judged against
    // them. Both 0: every address counts as in the subnet.
    uint32_t interfaceAddress;
    uint32_t interfaceMask;
    // With auto-refresh: keeps listed devices fresh between their full
    // reports (see reported_hosts.h); null: no refreshes.
    ReportedHosts* reportedHosts;
    // Instances reported by earlier passes and browses (a NameIndex of at
    // most kMaxRememberedInstances): each pass asks those that stay silent
    // directly; one whose lookups run out of time is forgotten until it is
    // reported again. Null: none.
    NameIndex* rememberedInstances;
    // With auto-refresh: the pauses of failed instances outlive the browse,
    // so that one browse after another does not try them again at once;
    // null: each browse keeps its own.
    PausedInstances* pausedInstances;
    FoundCallback foundCallback;  // null: OnServiceFound
    DeviceHeardCallback deviceHeard;  // null: none
    KeepBrowsingCallback keepBrowsing;  // null: browse until abort or silence
    void* keepBrowsingContext;
    // Auto-reset, polled (and so consumed) once per cycle: a signal ends the
    // running pass and starts a fresh one at once, which reports every host
    // again (a Refresh emptied the list). Null or INVALID_HANDLE_VALUE: none.
    HANDLE restartEvent;
    // The browse's clock in milliseconds; null: GetTickCount.
    uint32_t (*clock)();
    // A pass ends in silence only after this long, so that the browse
    // question has been asked and repeated (at 0, 1, 3 and 7 s) and lost
    // answers had their chances.
    uint32_t minPassMs;
};

// abortEvent none, singlePass 0, resolveSrv 1, resolveTxt 1, interface 0,
// address and mask 0, no callbacks but the default found-callback,
// GetTickCount, minPassMs kMinPassMs.
constexpr uint32_t kMinPassMs = 8000;
BrowseOptions DefaultBrowseOptions();

// Shared by one call of BrowseServices and its record callbacks.
struct BrowseContext {
    InstanceQueue queue;  // found by the answers, waiting for the browse
    FoundCallback foundCallback;
    HWND window;  // g_mainWindow when the call began
    wchar_t serviceType[kDnsNameChars];
    wchar_t domain[kDnsNameChars];
    wchar_t browseName[kDnsNameChars];
    mDNSPTRQuery* browseQuery;  // forgets lost instances; may be null
    InterfaceSubnet heardOn;    // given to every instance found
    uint32_t interfaceIndex;    // of the browse query
};

// An instance lost before it was reported: its next answer counts again.
// The context is the BrowseContext (the queue's `lost` hook).
void ForgetInstanceHost(void* context, const ServiceInstance* instance);
void ForgetInstanceName(BrowseContext* context, const wchar_t* instanceName);

// The record callback of a slot's address query. Context: the ServiceInstance.
VOID WINAPI OnAddressAnswer(PVOID instance, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);

// Runs the browse on the calling thread until it is aborted or, with
// singlePass, until a pass ends in silence. options null: the defaults.
// Returns 1.
int32_t BrowseServices(const BrowseOptions* options);
