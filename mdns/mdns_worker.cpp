// Multicast DNS discovery on one interface: one browse per trigger or, with
// auto-refresh on, one browse after another, on the interfaces the subnet
// choice selects.
#include <winsock2.h>
#include <windows.h>

#include "core/globals.h"
#include "core/wait.h"
#include "mdns/browse.h"
#include "mdns/reported_hosts.h"
#include "net/interface_table.h"
#include "net/workers.h"

namespace {

constexpr DWORD kTriggerWaitMs = 500;

bool SelectedBySubnetChoice(const InterfaceEntry* entry)
{
    uint32_t filter = g_subnetFilter;
    return filter == kAllInterfaces || filter == entry->network;
}

// What one browse reads again every cycle, so that it ends as soon as the
// worker would no longer start it.
struct BrowseCause {
    const InterfaceEntry* entry;
    bool autoRefresh;  // the browse runs because auto-refresh is on
};

bool StillWanted(void* context)
{
    const BrowseCause* cause = static_cast<const BrowseCause*>(context);
    return SelectedBySubnetChoice(cause->entry) && (!cause->autoRefresh || g_autoRefresh != 0);
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

    for (;;) {
        if (Signalled(entry->abortEvent)) {
            break;
        }
        // The abort event ends the wait too: shutdown need not sit it out.
        HANDLE events[2] = {entry->abortEvent, entry->mdnsTrigger};
        DWORD wait = WaitForMultipleObjects(2, events, FALSE, kTriggerWaitMs);
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
        BrowseCause cause = {entry, autoRefresh && wait != WAIT_OBJECT_0 + 1};
        BrowseOptions options = DefaultBrowseOptions();
        options.abortEvent = entry->abortEvent;
        options.singlePass = 1;
        options.resolveSrv = 1;
        options.resolveTxt = 1;
        options.interfaceIndex = entry->interfaceIndex;
        options.interfaceAddress = entry->address;
        options.interfaceMask = entry->mask;
        options.reportedHosts = autoRefresh ? &reported : nullptr;
        options.pausedInstances = autoRefresh ? &paused : nullptr;
        options.keepBrowsing = StillWanted;
        options.keepBrowsingContext = &cause;
        BrowseServices(&options);
    }

    ReleasePausedInstances(&paused);
    ReleaseReportedHosts(&reported);
    return 0;
}
