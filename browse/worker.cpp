// Multicast DNS discovery on one interface: one browse per trigger or, with
// auto-refresh on, one long browse after another, on the interfaces the
// subnet choice selects. A trigger during a browse restarts its pass.
#include <winsock2.h>
#include <windows.h>

#include "core/globals.h"
#include "core/wait.h"
#include "browse/browse.h"
#include "browse/reported_hosts.h"
#include "browse/service_found.h"
#include "net/interface_table.h"
#include "net/workers.h"

namespace {

constexpr DWORD kTriggerWaitMs = 500;
// With auto-refresh one browse runs pass after pass, so each host is
// resolved and checked once per browse while its row is kept fresh by its
// answers in between (reported_hosts.h); a new browse checks every host
// afresh well before those refreshes stop.
constexpr DWORD kLongBrowseMs = 30000;

bool SelectedBySubnetChoice(const InterfaceEntry* entry)
{
    uint32_t filter = g_subnetFilter;
    return filter == kAllInterfaces || filter == entry->network;
}

// What one browse reads again every cycle, so that it ends as soon as the
// worker would no longer start it, or would start it otherwise.
struct BrowseCause {
    const InterfaceEntry* entry;
    bool autoRefresh;  // it ends when auto-refresh goes off
    bool keepsFresh;   // it keeps listed rows fresh (auto-refresh was on at its start)
    bool switchedOn;   // set when it ended because auto-refresh came on
    DWORD started;
    bool expired;  // set when a browse of auto-refresh ended after kLongBrowseMs
};

bool StillWanted(void* context)
{
    BrowseCause* cause = static_cast<BrowseCause*>(context);
    bool autoRefresh = g_autoRefresh != 0;
    if (autoRefresh && !cause->keepsFresh) {
        // A browse without the rows' refreshes: the next one has them.
        cause->switchedOn = true;
        return false;
    }
    if (cause->keepsFresh && GetTickCount() - cause->started > kLongBrowseMs) {
        cause->expired = true;
        return false;
    }
    return SelectedBySubnetChoice(cause->entry) && (!cause->autoRefresh || autoRefresh);
}

// What outlives the browses of one worker.
struct WorkerMemory {
    ReportedHosts* reported;
    PausedInstances* paused;
    NameIndex* remembered;
};

BrowseOptions OptionsOfBrowse(InterfaceEntry* entry, bool autoRefresh, const WorkerMemory* memory,
                              BrowseCause* cause)
{
    BrowseOptions options = DefaultBrowseOptions();
    options.abortEvent = entry->abortEvent;
    options.singlePass = autoRefresh ? 0 : 1;
    options.resolveSrv = 1;
    options.resolveTxt = 1;
    options.interfaceIndex = entry->interfaceIndex;
    options.interfaceAddress = entry->address;
    options.interfaceMask = entry->mask;
    options.reportedHosts = autoRefresh ? memory->reported : nullptr;
    options.pausedInstances = autoRefresh ? memory->paused : nullptr;
    options.rememberedInstances = memory->remembered;
    // The devices' hardware addresses are learnt while their records are asked for.
    options.deviceHeard = PrepareMacLookup;
    options.keepBrowsing = StillWanted;
    options.keepBrowsingContext = cause;
    // A Refresh or a change of subnet restarts the running pass at once
    // instead of queueing behind it.
    options.restartEvent = entry->mdnsTrigger;
    return options;
}

}  // namespace

unsigned __stdcall MdnsWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    // Outlive the browses, so that each one can keep fresh the rows of
    // devices that earlier ones reported, and leaves alone for a while the
    // devices that earlier ones failed to resolve.
    ReportedHosts reported;
    InitReportedHosts(&reported);
    PausedInstances paused;
    InitPausedInstances(&paused);
    // Out of memory: an empty index, and nothing is asked directly.
    NameIndex remembered;
    InitNameIndex(&remembered, kMaxRememberedInstances, kDnsNameChars - 1);

    bool browseNow = false;  // the last browse gave way to the next at once
    for (;;) {
        if (Signalled(entry->abortEvent)) {
            break;
        }
        // The abort event ends the wait too: shutdown need not sit it out.
        HANDLE events[2] = {entry->abortEvent, entry->mdnsTrigger};
        DWORD wait = WaitForMultipleObjects(2, events, FALSE, browseNow ? 0 : kTriggerWaitMs);
        if (browseNow && wait == WAIT_TIMEOUT) {
            wait = WAIT_OBJECT_0 + 1;  // as if triggered; a pending trigger is taken above
        }
        browseNow = false;
        if (wait == WAIT_OBJECT_0) {
            break;
        }
        if (wait == WAIT_FAILED) {
            // Never expected; keeps the loop from spinning if it happens.
            Sleep(kTriggerWaitMs);
        }
        bool autoRefresh = g_autoRefresh != 0;
        if (!autoRefresh && wait != WAIT_OBJECT_0 + 1) {
            continue;
        }
        if (!SelectedBySubnetChoice(entry)) {
            continue;
        }
        BrowseCause cause = {entry, autoRefresh, autoRefresh, false, GetTickCount(), false};
        WorkerMemory memory = {&reported, &paused, &remembered};
        BrowseOptions options = OptionsOfBrowse(entry, autoRefresh, &memory, &cause);
        BrowseServices(&options);
        browseNow = cause.switchedOn || cause.expired;
    }

    ReleaseNameIndex(&remembered);
    ReleasePausedInstances(&paused);
    ReleaseReportedHosts(&reported);
    return 0;
}
