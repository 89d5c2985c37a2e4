// BrowseServices: passes of a PTR browse. Instances that the browse answer
// describes in full are reported at once; the others are resolved by their
// own SRV, TXT and address queries, up to kMaxParallelLookups at a time,
// newest first. An instance that fails (its lookups run out of time, or its
// device's hardware address is never learnt) is paused: its answers are
// dropped for 1, 2, 4 ... up to 30 s, then it counts again. The routine wakes
// on every answer and at least every 250 ms; a device waiting for its
// hardware address is looked at again after 10 ms, then less and less often.
#include "mdns/browse.h"

#include <string.h>
#include <wchar.h>

#include <utility>

#include "core/globals.h"
#include "core/text_copy.h"
#include "core/wait.h"
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
// With auto-refresh the browse query is asked afresh this often: a running
// query is re-sent only at doubling intervals, and listed devices must answer
// well within their rows' 3 s.
constexpr uint32_t kBrowseRestartMs = 1000;
constexpr uint32_t kFirstPauseMs = 1000;
constexpr uint32_t kLongestPauseMs = 30000;

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
    // After the slots, so that they end (and stop) before the instances
    // that their answers write.
    DnsLookupQuery lookupQueries[kMaxParallelLookups][3];

    Browse() : restartTaken(false) { InitPausedInstances(&ownPauses); }
    ~Browse() { ReleasePausedInstances(&ownPauses); }
    Browse(const Browse&) = delete;
    Browse& operator=(const Browse&) = delete;
};

// An instance failed: its answers are dropped for a pause that doubles with
// each failure. Without room (out of memory) it counts again at once.
void PauseInstance(Browse* browse, const ServiceInstance* instance)
{
    PausedInstances& table = *browse->pauses;
    const wchar_t* name = instance->service.instanceName;
    int32_t slot = FindName(&table.names, name, 0);
    if (slot == -1) {
        if (table.names.count == table.names.capacity && table.names.oldest != -1) {
            int32_t oldest = table.names.oldest;
            if (table.states[oldest].paused) {
                ForgetInstanceName(&browse->context, table.names.slots[oldest].name);
            }
            RemoveName(&table.names, oldest);
        }
        int32_t evicted;
        slot = AddName(&table.names, name, 0, &evicted);
        if (slot == -1) {
            ForgetInstanceName(&browse->context, name);
            return;
        }
        table.states[slot] = PauseState{0, 0, false};
    }
    PauseState& state = table.states[slot];
    uint32_t pauseMs = kLongestPauseMs;
    if (state.failures < 5) {
        pauseMs = kFirstPauseMs << state.failures;  // 1, 2, 4, 8, 16 s, then 30
        ++state.failures;
    }
    uint32_t now = GetTickCount();
    state.until = now + pauseMs;
    state.paused = true;
    if (!table.anyPaused || LONG(state.until - table.nextEnd) < 0) {
        table.nextEnd = state.until;
    }
    table.anyPaused = true;
}

// Lets the instances whose pause is over count again; a look at every entry
// only when the earliest pause has ended.
void EndPauses(Browse* browse)
{
    PausedInstances& table = *browse->pauses;
    uint32_t now = GetTickCount();
    if (!table.anyPaused || LONG(now - table.nextEnd) < 0) {
        return;
    }
    table.anyPaused = false;
    for (uint32_t slot = 0; slot < table.names.capacity; ++slot) {
        PauseState& state = table.states[slot];
        if (table.names.slots[slot].name == nullptr || !state.paused) {
            continue;
        }
        if (LONG(now - state.until) >= 0) {
            state.paused = false;
            ForgetInstanceName(&browse->context, table.names.slots[slot].name);
        } else if (!table.anyPaused || LONG(state.until - table.nextEnd) < 0) {
            table.nextEnd = state.until;
            table.anyPaused = true;
        }
    }
}

// An instance answering during its pause under another host name (or in a
// later browse, whose browse query has not seen it yet) is not looked up.
bool IsPaused(const Browse* browse, const ServiceInstance* instance)
{
    int32_t slot = FindName(&browse->pauses->names, instance->service.instanceName, 0);
    const PauseState* state = slot != -1 ? &browse->pauses->states[slot] : nullptr;
    return state != nullptr && state->paused && LONG(GetTickCount() - state->until) < 0;
}

// A device reported: its next failure starts from the shortest pause.
void ClearPause(Browse* browse, const ServiceInstance* instance)
{
    NameIndex* names = &browse->pauses->names;
    RemoveName(names, FindName(names, instance->service.instanceName, 0));
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
    const uint32_t now = GetTickCount();
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

// Auto-refresh only: keeps devices answering by asking afresh every second.
// The seen names stay, and the silence clock runs on across the restart: a
// restart is not an answer. A failed restart is tried again next cycle.
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
        ClearPause(browse, instance);
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
    slot->since = GetTickCount();
    slot->retryMs = kFirstMacRetryMs;
    slot->nextTry = slot->since + slot->retryMs;
}

void RetryAwaitingMac(Browse* browse)
{
    uint32_t now = GetTickCount();
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

// Reports each resolved lookup; a lookup that failed pauses its instance.
// Instances whose pause is over count again.
void CheckLookups(Browse* browse)
{
    EndPauses(browse);
    for (LookupSlot& slot : browse->lookups.slots) {
        InstancePtr instance;
        LookupState state = CheckLookup(&browse->lookups, &slot, &instance);
        if (state == LookupState::Resolved) {
            Report(browse, std::move(instance));
        } else if (state == LookupState::Expired) {
            PauseInstance(browse, instance.get());
        }
    }
}

bool AnyDeviceBusy(const Browse* browse)
{
    for (const AwaitingMac& entry : browse->awaiting) {
        if (entry.instance != nullptr) {
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
    for (;;) {
        if (PollAbort(browse)) {
            return PassAborted;
        }
        if (RestartAsked(browse)) {
            return PassRestarted;
        }
        bool silent = browse->ptrQuery.TimeSinceLastAnswer() > kSilenceMs;
        KeepDevicesAnswering(browse);
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
    StopIfActive(&browse->ptrQuery);
}

}  // namespace

void InitPausedInstances(PausedInstances* table)
{
    // Out of memory: an empty index, and every failed instance counts again at once.
    InitNameIndex(&table->names, kMaxPausedInstances, kDnsNameChars - 1);
    table->nextEnd = 0;
    table->anyPaused = false;
}

void ReleasePausedInstances(PausedInstances* table)
{
    ReleaseNameIndex(&table->names);
    table->anyPaused = false;
}

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
    return options;
}

int32_t BrowseServices(const BrowseOptions* options)
{
    Browse browse;
    browse.options = options != nullptr ? *options : DefaultBrowseOptions();
    for (AwaitingMac& entry : browse.awaiting) {
        entry.since = entry.nextTry = entry.retryMs = 0;
    }
    browse.lastMacRetry = GetTickCount();

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
    browse.lastAbortWait = WAIT_TIMEOUT;

    for (;;) {
        PassEnd end = RunPass(&browse);
        EndPass(&browse);
        if (end == PassRestarted) {
            // Every host counts as new again; the query is stopped, so no
            // answer walks the names meanwhile.
            browse.ptrQuery.ForgetAllSeenNames();
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
