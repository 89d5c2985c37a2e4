// Broadcast discovery: sends the request on one interface, a pass of
// repeats per trigger (see request_schedule.h) and, with auto-refresh on,
// about every half second besides.
#include <winsock2.h>
#include <windows.h>

#include "core/globals.h"
#include "core/wait.h"
#include "net/interface_table.h"
#include "net/request_schedule.h"
#include "net/request_send.h"
#include "net/workers.h"

namespace {

// The longest wait: a change of g_autoRefresh is seen within it even when
// no trigger comes with it.
constexpr DWORD kTriggerWaitMs = 500;
bool Admitted(const InterfaceEntry* entry)
{
    uint32_t filter = g_subnetFilter;
    return filter == kAllInterfaces || filter == entry->network;
}

enum class Wake { Abort, Trigger, Timeout };

// Waits for the trigger, the abort event (so that shutdown and a rebuild
// need not sit out the wait) or the next request's time.
Wake WaitForWork(InterfaceEntry* entry, DWORD waitMs)
{
    HANDLE events[2] = {entry->abortEvent, entry->transmitTrigger};
    DWORD wait = WaitForMultipleObjects(2, events, FALSE, waitMs < kTriggerWaitMs ? waitMs : kTriggerWaitMs);
    if (wait == WAIT_OBJECT_0) {
        return Wake::Abort;
    }
    if (wait == WAIT_FAILED) {
        // Never expected; keeps the loop from spinning if it happens.
        return Signalled(entry->abortEvent, kTriggerWaitMs) ? Wake::Abort : Wake::Timeout;
    }
    return wait == WAIT_OBJECT_0 + 1 ? Wake::Trigger : Wake::Timeout;
}

}  // namespace

unsigned __stdcall TransmitWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    RequestSchedule schedule;
    InitRequestSchedule(&schedule);
    // Without auto-refresh the trigger starts signalled; with it, the start
    // makes its pass here.
    if (g_autoRefresh != 0 && Admitted(entry)) {
        StartRequestPass(&schedule, GetTickCount());
    }
    for (;;) {
        bool autoRefresh = g_autoRefresh != 0;
        Wake wake = WaitForWork(entry, MsUntilNextRequest(&schedule, GetTickCount(), autoRefresh));
        if (wake == Wake::Abort) {
            break;
        }
        DWORD now = GetTickCount();
        autoRefresh = g_autoRefresh != 0;
        if (wake == Wake::Trigger) {
            // An interface the filter excludes is not asked: a pass starts
            // only when it is admitted at the trigger.
            if (!Admitted(entry)) {
                schedule.inPass = false;
                continue;
            }
            StartRequestPass(&schedule, now);
        }
        // A request the system refuses (say, while its neighbour table is
        // full) is not retried on its own: the pass's next one follows soon.
        if (TakeDueRequest(&schedule, now, autoRefresh) && Admitted(entry)) {
            SendDiscoveryRequestTo(entry, entry->broadcast);
        }
    }
    return 0;
}
