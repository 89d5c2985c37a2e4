// BrowseServices: passes of a PTR browse. Instances that the browse answer
// describes in full are reported at once; the others are resolved by their
// own SRV, TXT and address queries, up to kMaxParallelLookups at a time,
// newest first. An instance that fails (its lookups run out of time, or its
// device's hardware address is never learnt) is paused: its answers are
// dropped for 1, 2, 4 ... up to 30 s (paused_instances.h), then it counts
// again; one whose lookups ran out of time is asked again itself once its
// pause is over, since the answers it lacks may just have been lost. A pass
// lasts at least until the browse question has been repeated (minPassMs).
// With auto-refresh, listed hosts are asked for their address shortly
// before their rows would expire (host_confirm.h). The routine wakes
// on every answer and at least every 250 ms; a device waiting for its
// hardware address is looked at again after 10 ms, then less and less often.
#include "browse/browse.h"

#include <string.h>
#include <wchar.h>

#include <utility>

#include "core/globals.h"
#include "core/text_copy.h"
#include "core/wait.h"
#include "browse/state.h"
#include "browse/mdns_events.h"
#include "browse/service_found.h"

namespace {

enum PassEnd { PassSilent, PassAborted, PassRestarted };

bool HasAbortEvent(const Browse* browse)
{
    return browse->options.abortEvent != INVALID_HANDLE_VALUE;
}

bool PollAbort(Browse* browse)
{
    if (HasAbortEvent(browse)) {
        browse->lastAbortWait = WaitForSingleObject(browse->options.abortEvent, 0);
        if (IsSignalled(browse->lastAbortWait)) {
            return true;
        }
    }
    const BrowseOptions& options = browse->options;
    return options.keepBrowsing != nullptr && !options.keepBrowsing(options.keepBrowsingContext);
}

bool HasRestartEvent(const Browse* browse)
{
    HANDLE restart = browse->options.restartEvent;
    return restart != nullptr && restart != INVALID_HANDLE_VALUE;
}

// Until the next answer, at most one cycle. The abort event ends it early
// too, so the next poll sees the abort at once.
// Devices waiting for their MAC address are looked at again sooner, when
// the first of them is due: nothing signals when the system has learnt one.
// So are quiet hosts, when their next confirmation question is due.
void WaitOneCycle(Browse* browse)
{
    DWORD timeoutMs = kCycleMs;
    const uint32_t now = Now(browse);
    const uint32_t roundAt = browse->lastMacRetry + kMacRoundMs;
    for (const AwaitingMac& entry : browse->awaiting) {
        if (entry.instance == nullptr) {
            continue;
        }
        uint32_t due = LONG(entry.nextTry - roundAt) > 0 ? entry.nextTry : roundAt;
        DWORD untilDue = LONG(due - now) > 0 ? due - now : 0;
        timeoutMs = untilDue < timeoutMs ? untilDue : timeoutMs;
    }
    if (browse->options.reportedHosts != nullptr) {
        uint32_t untilConfirm = MsUntilConfirmationsDue(&browse->confirmations, now);
        timeoutMs = untilConfirm < timeoutMs ? untilConfirm : timeoutMs;
    }
    // A Refresh (the restart event) ends the wait too, so that the new pass
    // starts at once rather than at the end of the cycle.
    HANDLE events[3] = {browse->context.queue.wake.Handle()};
    DWORD count = 1;
    if (HasAbortEvent(browse)) {
        events[count++] = browse->options.abortEvent;
    }
    DWORD restartIndex = count;
    if (HasRestartEvent(browse) && !browse->restartTaken) {
        events[count++] = browse->options.restartEvent;
    }
    DWORD wait = WaitForMultipleObjects(count, events, FALSE, timeoutMs);
    if (wait == WAIT_FAILED) {
        Sleep(timeoutMs);
    } else if (restartIndex < count && wait == WAIT_OBJECT_0 + restartIndex) {
        browse->restartTaken = true;  // the event resets itself: keep its signal
    }
}

DWORD StartBrowseQuery(Browse* browse)
{
    DWORD status = browse->ptrQuery.Start(browse->context.browseName, DNS_TYPE_PTR, OnBrowseAnswer,
                                          &browse->context, browse->options.interfaceIndex);
    if (status == 0) {
        NoteBrowseQuestion(browse->options.interfaceAddress, browse->context.browseName, browse->ptrQuery.client);
    }
    return status;
}

// A failed start is tried again every cycle until it succeeds or the abort
// event is set (an interface without an adapter index fails every time).
bool StartPass(Browse* browse)
{
    while (StartBrowseQuery(browse) != 0) {
        if (PollAbort(browse)) {
            return false;
        }
        WaitOneCycle(browse);
    }
    return true;
}

// Takes queued instances, newest first: the complete ones are reported, the
// others fill the free lookup slots. *emptied tells whether the queue was
// seen empty; false when the lock could not be had. Returns true when it
// stopped at its cap for one cycle with more ready to take.
bool TakePending(Browse* browse, bool* emptied)
{
    // Complete instances need no slot, but their number per cycle is
    // capped too, so that a flood of them cannot starve the abort poll.
    InstancePtr taken[kMaxParallelLookups + kMaxInstancesPerAnswer];
    const int cap = int(sizeof(taken) / sizeof(taken[0]));
    LookupSlots& lookups = browse->lookups;
    int count = TakeInstances(&browse->context.queue, lookups.resolveSrv, lookups.resolveTxt,
                              FreeLookupSlots(&lookups), taken, cap, emptied);
    for (int i = 0; i < count; ++i) {
        // Each report may wait for a read of the neighbour table, which
        // takes a tenth of a second with hundreds of neighbours: a burst
        // must not hold up the end of the browse. What is left goes with it.
        if (PollAbort(browse)) {
            break;
        }
        if (IsPaused(browse, taken[i].get())) {
            continue;  // its name stays seen until the pause ends
        }
        if (!NeedsLookup(taken[i].get(), lookups.resolveSrv, lookups.resolveTxt)) {
            Report(browse, std::move(taken[i]));
            continue;
        }
        const ServiceInstance& heard = *taken[i];
        if (browse->options.deviceHeard != nullptr && heard.hintAddress != 0) {
            browse->options.deviceHeard(heard.hintAddress, heard.service.heardOn);
        }
        InstancePtr unstarted = StartLookup(&lookups, std::move(taken[i]));
        if (unstarted != nullptr) {
            PauseInstance(browse, unstarted.get());
        }
    }
    return count == cap && !*emptied;
}

// Auto-refresh only: keeps listed devices answering by asking afresh every
// second, since the rows of devices whose answers are lost go within 3 s
// (the confirmations alone kept fewer rows at 20 % loss). The seen names
// stay, and the silence clock runs on across the restart: a restart is not
// an answer. A failed restart is tried again next cycle.
void KeepDevicesAnswering(Browse* browse)
{
    mDNSPTRQuery& query = browse->ptrQuery;
    if (browse->options.reportedHosts == nullptr ||
        (query.IsActive() != 0 && query.TimeSinceStart() <= kBrowseRestartMs)) {
        return;
    }
    uint32_t lastAnswer = query.lastAnswerTick;
    if (query.IsActive() != 0) {
        query.Stop();
    }
    StartBrowseQuery(browse);
    // Start set the clock to its start time; an answer since then keeps its own.
    uint32_t started = query.startTick;
    query.lastAnswerTick.compare_exchange_strong(started, lastAnswer);
}

bool RestartAsked(Browse* browse)
{
    if (browse->restartTaken) {
        browse->restartTaken = false;
        return true;
    }
    return HasRestartEvent(browse) && WaitForSingleObject(browse->options.restartEvent, 0) == WAIT_OBJECT_0;
}

PassEnd RunPass(Browse* browse)
{
    if (!StartPass(browse)) {
        return PassAborted;
    }
    browse->passStart = Now(browse);
    browse->recalled = false;
    for (;;) {
        if (PollAbort(browse)) {
            return PassAborted;
        }
        if (RestartAsked(browse)) {
            return PassRestarted;
        }
        bool silent = browse->ptrQuery.TimeSinceLastAnswer() > kSilenceMs &&
                      Now(browse) - browse->passStart >= browse->options.minPassMs;
        KeepDevicesAnswering(browse);
        if (browse->options.reportedHosts != nullptr) {
            ConfirmDueHosts(&browse->confirmations, browse->options.reportedHosts, Now(browse));
        }
        RecallInstances(browse);
        CheckLookups(browse);
        RetryAwaitingMac(browse);
        bool emptied = false;
        bool more = TakePending(browse, &emptied);
        // Silence ends the pass only with nothing queued or in progress:
        // within this call those hosts would never be reported again.
        if (silent && emptied && !AnyDeviceBusy(browse)) {
            return PassSilent;
        }
        if (!more) {
            WaitOneCycle(browse);  // a burst bigger than one cycle's share goes on at once
        }
    }
}

void EndPass(Browse* browse)
{
    for (LookupSlot& slot : browse->lookups.slots) {
        ForgetInstanceHost(&browse->context, EndLookup(&slot).get());
    }
    for (AwaitingMac& entry : browse->awaiting) {
        EndAwaitingMac(browse, &entry, false);
    }
    DropRetries(browse);
    StopConfirmations(&browse->confirmations);
    StopIfActive(&browse->ptrQuery);
}

// Every host counts as new: the browse query's seen names go, and with them
// the known answers the client lists in its questions.
void ForgetAllHosts(Browse* browse)
{
    browse->ptrQuery.ForgetAllSeenNames();
    ForgetKnownAnswers(browse->context.interfaceIndex, browse->context.browseName, nullptr);
}

}  // namespace

BrowseOptions DefaultBrowseOptions()
{
    BrowseOptions options = {};
    options.abortEvent = INVALID_HANDLE_VALUE;
    options.singlePass = 0;
    options.resolveSrv = 1;
    options.resolveTxt = 1;
    options.interfaceIndex = 0;
    options.interfaceAddress = 0;
    options.interfaceMask = 0;
    options.reportedHosts = nullptr;
    options.pausedInstances = nullptr;
    options.foundCallback = nullptr;
    options.deviceHeard = nullptr;
    options.keepBrowsing = nullptr;
    options.keepBrowsingContext = nullptr;
    options.restartEvent = nullptr;
    options.clock = nullptr;
    options.minPassMs = kMinPassMs;
    options.rememberedInstances = nullptr;
    return options;
}

namespace {

// The lookups' queries and bounds, from the browse's options.
void PrepareLookups(Browse* browse)
{
    LookupSlots& lookups = browse->lookups;
    lookups.resolveSrv = browse->options.resolveSrv != 0;
    lookups.resolveTxt = browse->options.resolveTxt != 0;
    lookups.interfaceIndex = browse->options.interfaceIndex;
    lookups.limitMs = kLookupLimitMs;
    for (int i = 0; i < kMaxParallelLookups; ++i) {
        lookups.slots[i].srv = &browse->lookupQueries[i][0];
        lookups.slots[i].txt = &browse->lookupQueries[i][1];
        lookups.slots[i].a = &browse->lookupQueries[i][2];
    }
}

// The context the query callbacks share: names asked for, the queue, where
// answers go and which interface heard them.
void PrepareContext(Browse* browse)
{
    BrowseContext& context = browse->context;
    context.foundCallback = browse->options.foundCallback != nullptr ? browse->options.foundCallback
                                                                     : OnServiceFound;
    context.window = g_mainWindow;
    CopyText(context.serviceType, kDnsNameChars, L"_lumarisnet._tcp");
    CopyText(context.domain, kDnsNameChars, L".local");
    CopyText(context.browseName, kDnsNameChars, context.serviceType);
    size_t typeLength = wcslen(context.browseName);
    CopyText(context.browseName + typeLength, kDnsNameChars - typeLength, context.domain);
    context.queue.ready.oldest = context.queue.ready.count = 0;
    context.queue.pending.oldest = context.queue.pending.count = 0;
    context.queue.lost = ForgetInstanceHost;
    context.queue.lostContext = &context;
    context.browseQuery = &browse->ptrQuery;
    context.heardOn = InterfaceSubnet{browse->options.interfaceAddress, browse->options.interfaceMask};
    browse->pauses = browse->options.pausedInstances != nullptr ? browse->options.pausedInstances : &browse->ownPauses;

    browse->ptrQuery.reportedHosts = browse->options.reportedHosts;
    InitHostConfirmations(&browse->confirmations, browse->options.interfaceIndex);
    context.interfaceIndex = browse->options.interfaceIndex;
    // The client's known answers of an earlier browse would keep the hosts
    // quiet that this one must report afresh.
    ForgetAllHosts(browse);
    browse->lastAbortWait = WAIT_TIMEOUT;
}

}  // namespace

int32_t BrowseServices(const BrowseOptions* options)
{
    Browse browse;
    browse.options = options != nullptr ? *options : DefaultBrowseOptions();
    if (browse.options.clock == nullptr) {
        browse.options.clock = TickClock;
    }
    for (AwaitingMac& entry : browse.awaiting) {
        entry.since = entry.nextTry = entry.retryMs = 0;
    }
    browse.lastMacRetry = Now(&browse);

    if (!browse.context.queue.wake.Ready()) {
        return 1;
    }
    PrepareLookups(&browse);
    PrepareContext(&browse);
    ReserveOwnClientQueries(kQueriesPerBrowse);

    for (;;) {
        PassEnd end = RunPass(&browse);
        EndPass(&browse);
        if (end == PassRestarted) {
            // Every host counts as new again; the query is stopped, so no
            // answer walks the names meanwhile.
            ForgetAllHosts(&browse);
            continue;
        }
        // Instances still queued wait for the next pass.
        if (end != PassSilent || browse.options.singlePass != 0 ||
            browse.lastAbortWait != WAIT_TIMEOUT) {
            break;
        }
    }

    // A Refresh this browse took but did not act on is the worker's to see.
    if (browse.restartTaken) {
        SetEvent(browse.options.restartEvent);
    }
    ReserveOwnClientQueries(-kQueriesPerBrowse);
    // Every query is stopped: nothing queues or wakes any more. What is still
    // queued goes with the context; the browse query's destructor frees the
    // seen names.
    return 1;
}
