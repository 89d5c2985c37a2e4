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
#include "mdns/browse.h"

#include <string.h>
#include <wchar.h>

#include <utility>

#include "core/globals.h"
#include "core/text_copy.h"
#include "core/wait.h"
#include "mdns/host_confirm.h"
#include "mdns/service_found.h"

namespace {

constexpr DWORD kCycleMs = 250;
// Limits are exceeded only when the elapsed time is strictly greater.
constexpr uint32_t kSilenceMs = 2000;
constexpr uint32_t kLookupLimitMs = 2000;
// How long a resolved device may wait for its hardware address to be learnt.
constexpr uint32_t kMacWaitLimitMs = 1000;
// Devices found together whose hardware address is still being learnt.
constexpr int kMaxAwaitingMac = 64;
// A device waiting for its hardware address is looked at again after the
// first interval, each next one twice as long up to the last: the system
// learns most addresses within milliseconds, a few take longer.
constexpr uint32_t kFirstMacRetryMs = 10;
constexpr uint32_t kLongestMacRetryMs = 100;
// A retry round may read the neighbour table (one read serves every device
// of the round): not on every wake-up in a burst.
constexpr uint32_t kMacRoundMs = 10;
// Instances whose lookups ran out of time, kept to be asked again after
// their pause; beyond that the oldest give way (their next answer counts).
constexpr int kMaxLookupRetries = kMaxParallelLookups;

enum PassEnd { PassSilent, PassAborted, PassRestarted };

// A lookup slot's query over the DNS client; the record callbacks write
// the instance it was started for.
class DnsLookupQuery : public LookupQuery {
public:
    uint32_t Start(const wchar_t* name, uint16_t type, ServiceInstance* instance,
                   uint32_t interfaceIndex) override
    {
        PMDNS_QUERY_CALLBACK callback = type == kLookupSrv ? OnSrvAnswer
                                        : type == kLookupTxt ? OnTxtAnswer
                                                             : OnAddressAnswer;
        return query_.Start(name, type, callback, instance, interfaceIndex);
    }
    void Stop() override { query_.Stop(); }
    bool IsActive() override { return query_.IsActive() != 0; }
    uint32_t TimeSinceStart() override { return query_.TimeSinceStart(); }

private:
    mDNSQuery query_;
};

// A resolved instance whose device's hardware address is being learnt.
struct AwaitingMac {
    InstancePtr instance;  // null: free
    uint32_t since;
    uint32_t nextTry;
    uint32_t retryMs;  // the pause before nextTry; the next one is twice as long
};

// The working state of one call; lives on the calling thread's stack. Its
// members end in reverse order: every query stops before the instances and
// the queue that its answers write are freed.
struct Browse {
    BrowseOptions options;
    BrowseContext context;
    mDNSPTRQuery ptrQuery;
    LookupSlots lookups;
    AwaitingMac awaiting[kMaxAwaitingMac];
    uint32_t lastMacRetry;
    PausedInstances ownPauses;  // when the options bring none
    PausedInstances* pauses;
    DWORD lastAbortWait;
    bool restartTaken;  // a cycle's wait took the restart event's signal
    uint32_t passStart;
    bool recalled;  // this pass has asked the remembered instances
    InstancePtr retries[kMaxLookupRetries];  // lookups to ask again once their pause is over
    HostConfirmations confirmations;
    // After the slots, so that they end (and stop) before the instances
    // that their answers write.
    DnsLookupQuery lookupQueries[kMaxParallelLookups][3];

    Browse() : restartTaken(false) { InitPausedInstances(&ownPauses); }
    ~Browse() { ReleasePausedInstances(&ownPauses); }
    Browse(const Browse&) = delete;
    Browse& operator=(const Browse&) = delete;
};

uint32_t Now(const Browse* browse)
{
    return browse->options.clock();
}

uint32_t TickClock()
{
    return GetTickCount();
}

// A pause is over: the instance counts again at its next answer, unless it
// waits among the retries, which ask for it themselves.
void OnPauseEnded(void* context, const wchar_t* instanceName)
{
    Browse* browse = static_cast<Browse*>(context);
    for (const InstancePtr& retry : browse->retries) {
        if (retry != nullptr && SameDnsName(retry->service.instanceName, instanceName, kDnsNameChars - 1)) {
            return;
        }
    }
    ForgetInstanceName(&browse->context, instanceName);
}

// An instance failed: its answers are dropped for a pause that doubles with
// each failure. Without room (out of memory) it counts again at once.
void PauseInstance(Browse* browse, const ServiceInstance* instance)
{
    PauseInstanceName(browse->pauses, instance->service.instanceName, Now(browse), OnPauseEnded, browse);
}

// An instance answering during its pause under another host name (or in a
// later browse, whose browse query has not seen it yet) is not looked up.
bool IsPaused(const Browse* browse, const ServiceInstance* instance)
{
    return IsInstancePaused(browse->pauses, instance->service.instanceName, Now(browse));
}

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

// Until the next answer, at most one cycle. The abort event ends it early
// too, so the next poll sees the abort at once.
// Devices waiting for their MAC address are looked at again sooner, when
// the first of them is due: nothing signals when the system has learnt one.
bool HasRestartEvent(const Browse* browse)
{
    HANDLE restart = browse->options.restartEvent;
    return restart != nullptr && restart != INVALID_HANDLE_VALUE;
}

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
    return browse->ptrQuery.Start(browse->context.browseName, DNS_TYPE_PTR, OnBrowseAnswer,
                                  &browse->context, browse->options.interfaceIndex);
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

void StopIfActive(mDNSQuery* query)
{
    if (query->IsActive() != 0) {
        query->Stop();
    }
}

// failed: the device did not give its hardware address in time (or gave
// way to newer ones); otherwise the pass ended meanwhile.
void EndAwaitingMac(Browse* browse, AwaitingMac* entry, bool failed)
{
    if (entry->instance == nullptr) {
        return;
    }
    if (failed) {
        PauseInstance(browse, entry->instance.get());
    } else {
        ForgetInstanceHost(&browse->context, entry->instance.get());
    }
    entry->instance.reset();
}

int32_t CallFound(Browse* browse, const ServiceInstance* instance)
{
    const BrowseContext& context = browse->context;
    int32_t result = context.foundCallback(&instance->service, context.window, browse->options.abortEvent,
                                           browse->options.reportedHosts, 0);
    if (result == kServicePosted) {
        ClearInstancePause(browse->pauses, instance->service.instanceName);
        NameIndex* remembered = browse->options.rememberedInstances;
        int32_t evicted;
        if (remembered != nullptr) {
            AddName(remembered, instance->service.instanceName, 0, &evicted);
        }
    }
    return result;
}

// Hands a resolved instance (no query writes it any more) to the
// found-callback, or parks it while the device's hardware address is learnt.
void Report(Browse* browse, InstancePtr instance)
{
    if (browse->options.resolveSrv == 0 && instance->hintOwner[0] != L'\0' &&
        instance->service.hostName[0] == L'\0') {
        // Without SRV lookups the answer's only host is all there is to go by.
        CopyHostName(instance->service.hostName, kDnsNameChars, instance->hintOwner);
        instance->service.address = instance->hintAddress;
    }
    if (CallFound(browse, instance.get()) != kServiceAwaitingMac) {
        return;
    }
    AwaitingMac* slot = &browse->awaiting[0];
    for (AwaitingMac& entry : browse->awaiting) {
        if (entry.instance == nullptr) {
            slot = &entry;
            break;
        }
        if (LONG(entry.since - slot->since) < 0) {
            slot = &entry;  // full: the oldest gives way
        }
    }
    EndAwaitingMac(browse, slot, true);
    slot->instance = std::move(instance);
    slot->since = Now(browse);
    slot->retryMs = kFirstMacRetryMs;
    slot->nextTry = slot->since + slot->retryMs;
}

void RetryAwaitingMac(Browse* browse)
{
    uint32_t now = Now(browse);
    if (now - browse->lastMacRetry < kMacRoundMs) {
        return;
    }
    bool tried = false;
    for (AwaitingMac& entry : browse->awaiting) {
        if (entry.instance == nullptr) {
            continue;
        }
        if (now - entry.since > kMacWaitLimitMs) {
            EndAwaitingMac(browse, &entry, true);
            continue;
        }
        if (LONG(now - entry.nextTry) < 0) {
            continue;
        }
        tried = true;
        if (CallFound(browse, entry.instance.get()) != kServiceAwaitingMac) {
            entry.instance.reset();
            continue;
        }
        entry.retryMs = entry.retryMs * 2 < kLongestMacRetryMs ? entry.retryMs * 2 : kLongestMacRetryMs;
        entry.nextTry = now + entry.retryMs;
    }
    if (tried) {
        browse->lastMacRetry = now;
    }
}

// A lookup ran out of time: its instance is paused and kept to be asked
// again; when the retries are full the oldest gives way.
void KeepForRetry(Browse* browse, InstancePtr instance)
{
    PauseInstance(browse, instance.get());
    NameIndex* remembered = browse->options.rememberedInstances;
    if (remembered != nullptr) {
        // A device that is gone is asked directly once, not at every pass.
        RemoveName(remembered, FindName(remembered, instance->service.instanceName, 0));
    }
    InstancePtr* slot = &browse->retries[0];
    for (InstancePtr& retry : browse->retries) {
        if (retry == nullptr) {
            slot = &retry;
            break;
        }
    }
    if (*slot != nullptr) {
        ForgetInstanceHost(&browse->context, slot->get());
        slot->reset();
        for (int i = 1; i < kMaxLookupRetries; ++i) {
            std::swap(browse->retries[i - 1], browse->retries[i]);  // oldest first
        }
        slot = &browse->retries[kMaxLookupRetries - 1];
    }
    *slot = std::move(instance);
}

// Retries whose pause is over get their lookups again, as slots allow.
void StartRetries(Browse* browse)
{
    for (InstancePtr& retry : browse->retries) {
        if (retry == nullptr || IsPaused(browse, retry.get()) || FreeLookupSlots(&browse->lookups) == 0) {
            continue;
        }
        InstancePtr unstarted = StartLookup(&browse->lookups, std::move(retry));
        if (unstarted != nullptr) {
            KeepForRetry(browse, std::move(unstarted));
        }
    }
}

// Reports each resolved lookup; a lookup that failed pauses its instance
// and is asked again after the pause. Instances whose pause is over count again.
void CheckLookups(Browse* browse)
{
    EndPauses(browse->pauses, Now(browse), OnPauseEnded, browse);
    for (LookupSlot& slot : browse->lookups.slots) {
        InstancePtr instance;
        LookupState state = CheckLookup(&browse->lookups, &slot, &instance);
        if (state == LookupState::Resolved) {
            Report(browse, std::move(instance));
        } else if (state == LookupState::Expired) {
            KeepForRetry(browse, std::move(instance));
        }
    }
    StartRetries(browse);
}

// Devices being resolved, waiting for their hardware address, or due to be
// asked again soon keep a pass from ending: a retry after a longer pause
// waits for a later pass (or browse).
bool AnyDeviceBusy(const Browse* browse)
{
    for (const AwaitingMac& entry : browse->awaiting) {
        if (entry.instance != nullptr) {
            return true;
        }
    }
    for (const InstancePtr& retry : browse->retries) {
        if (retry != nullptr &&
            PauseLeft(browse->pauses, retry->service.instanceName, Now(browse)) < kSilenceMs) {
            return true;
        }
    }
    return AnyLookupBusy(&browse->lookups);
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

// Once per pass, kRecallAfterMs after its start: the remembered instances
// that have not answered yet (nor wait out a pause) are queued for their
// lookups, as if their browse answer had come without records.
void RecallInstances(Browse* browse)
{
    const NameIndex* remembered = browse->options.rememberedInstances;
    if (browse->recalled || remembered == nullptr || Now(browse) - browse->passStart < kRecallAfterMs) {
        return;
    }
    browse->recalled = true;
    InstancePtr made[kMaxInstancesPerAnswer];
    int count = 0;
    for (uint32_t slot = 0; slot < remembered->capacity; ++slot) {
        const wchar_t* name = remembered->slots[slot].name;
        if (name == nullptr || IsInstancePaused(browse->pauses, name, Now(browse)) ||
            !browse->ptrQuery.MarkInstanceSeen(name)) {
            continue;
        }
        InstancePtr instance = MakeServiceInstance();
        if (instance == nullptr) {
            browse->ptrQuery.ForgetSeenName(name);
            break;
        }
        CopyText(instance->service.instanceName, kDnsNameChars, name);
        instance->service.heardOn = browse->context.heardOn;
        instance->wake = &browse->context.queue.wake;
        made[count++] = std::move(instance);
        if (count == kMaxInstancesPerAnswer) {
            QueueInstances(&browse->context.queue, made, count);
            count = 0;
        }
    }
    QueueInstances(&browse->context.queue, made, count);
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
    for (InstancePtr& retry : browse->retries) {
        ForgetInstanceHost(&browse->context, retry.get());
        retry.reset();
    }
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

    BrowseContext& context = browse.context;
    if (!context.queue.wake.Ready()) {
        return 1;
    }
    LookupSlots& lookups = browse.lookups;
    lookups.resolveSrv = browse.options.resolveSrv != 0;
    lookups.resolveTxt = browse.options.resolveTxt != 0;
    lookups.interfaceIndex = browse.options.interfaceIndex;
    lookups.limitMs = kLookupLimitMs;
    for (int i = 0; i < kMaxParallelLookups; ++i) {
        lookups.slots[i].srv = &browse.lookupQueries[i][0];
        lookups.slots[i].txt = &browse.lookupQueries[i][1];
        lookups.slots[i].a = &browse.lookupQueries[i][2];
    }
    context.foundCallback = browse.options.foundCallback != nullptr ? browse.options.foundCallback
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
    context.browseQuery = &browse.ptrQuery;
    context.heardOn = InterfaceSubnet{browse.options.interfaceAddress, browse.options.interfaceMask};
    browse.pauses = browse.options.pausedInstances != nullptr ? browse.options.pausedInstances : &browse.ownPauses;

    browse.ptrQuery.reportedHosts = browse.options.reportedHosts;
    InitHostConfirmations(&browse.confirmations, browse.options.interfaceIndex);
    context.interfaceIndex = browse.options.interfaceIndex;
    // The client's known answers of an earlier browse would keep the hosts
    // quiet that this one must report afresh.
    ForgetAllHosts(&browse);
    browse.lastAbortWait = WAIT_TIMEOUT;

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
    // Every query is stopped: nothing queues or wakes any more. What is still
    // queued goes with the context; the browse query's destructor frees the
    // seen names.
    return 1;
}
