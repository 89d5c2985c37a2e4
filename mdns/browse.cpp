// BrowseServices: passes of a PTR browse, each polled every 250 ms, that
// resolve the queued instances newest first, one at a time.
#include "mdns/browse.h"

#include <wchar.h>

#include "core/globals.h"
#include "core/text_copy.h"
#include "mdns/service_found.h"

namespace {

constexpr DWORD kCycleMs = 250;
constexpr DWORD kLockWaitMs = 250;
// Limits are exceeded only when the elapsed time is strictly greater.
constexpr uint32_t kSilenceMs = 2000;
constexpr uint32_t kLookupLimitMs = 2000;
// With auto-refresh the browse query is asked afresh this often: a running
// query is re-sent only at doubling intervals, and listed devices must answer
// well within their rows' 3 s.
constexpr uint32_t kBrowseRestartMs = 1000;

enum PassEnd { PassSilent, PassAborted };

// The working state of one call; lives on the calling thread's stack.
struct Browse {
    BrowseOptions options;
    BrowseContext context;
    mDNSPTRQuery ptrQuery;
    mDNSQuery srvQuery;
    mDNSQuery txtQuery;
    ServiceInstance* current;
    wchar_t nameBuffer[kDnsNameChars];
    DWORD lastAbortWait;
};

bool HasAbortEvent(const Browse* browse)
{
    return browse->options.abortEvent != INVALID_HANDLE_VALUE;
}

bool PollAbort(Browse* browse)
{
    if (!HasAbortEvent(browse)) {
        return false;
    }
    browse->lastAbortWait = WaitForSingleObject(browse->options.abortEvent, 0);
    return browse->lastAbortWait == WAIT_OBJECT_0 || browse->lastAbortWait == WAIT_ABANDONED;
}

// One cycle's pause. The abort event ends it early, so the next poll sees
// the abort at once instead of a quarter second later.
void SleepOneCycle(const Browse* browse)
{
    if (HasAbortEvent(browse) &&
        WaitForSingleObject(browse->options.abortEvent, kCycleMs) != WAIT_FAILED) {
        return;
    }
    Sleep(kCycleMs);
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
        SleepOneCycle(browse);
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

void DiscardCurrent(Browse* browse)
{
    FreeServiceInstance(browse->current);
    browse->current = nullptr;
}

void StopLookupsAndDiscard(Browse* browse)
{
    StopIfActive(&browse->srvQuery);
    StopIfActive(&browse->txtQuery);
    DiscardCurrent(browse);
}

// Takes the newest queued instance as current. Returns false when the lock
// could not be had, so that the queue's state is unknown.
bool TakeNewestPending(Browse* browse)
{
    DWORD locked = WaitForSingleObject(browse->context.lock, kLockWaitMs);
    if (locked != WAIT_OBJECT_0 && locked != WAIT_ABANDONED) {
        return false;
    }
    browse->current = browse->context.pending;
    if (browse->current != nullptr) {
        browse->context.pending = browse->current->next;
        browse->current->next = nullptr;
    }
    ReleaseMutex(browse->context.lock);
    return true;
}

void StartLookups(Browse* browse)
{
    ServiceInstance* instance = browse->current;
    if (browse->options.resolveSrv != 0) {
        CopyText(browse->nameBuffer, kDnsNameChars, instance->service.instanceName);
        if (browse->srvQuery.Start(browse->nameBuffer, DNS_TYPE_SRV, OnSrvAnswer, instance,
                                   browse->options.interfaceIndex) != 0) {
            DiscardCurrent(browse);
            return;
        }
    }
    if (browse->options.resolveTxt != 0) {
        CopyText(browse->nameBuffer, kDnsNameChars, instance->service.instanceName);
        if (browse->txtQuery.Start(browse->nameBuffer, DNS_TYPE_TEXT, OnTxtAnswer, instance,
                                   browse->options.interfaceIndex) != 0) {
            StopLookupsAndDiscard(browse);
        }
    }
}

// Looks at the current instance's answers; the time limits come first, so
// answers first seen after the limit do not count.
void CheckLookups(Browse* browse)
{
    const BrowseOptions& options = browse->options;
    ServiceInstance* instance = browse->current;
    if ((options.resolveSrv != 0 && browse->srvQuery.TimeSinceStart() > kLookupLimitMs) ||
        (options.resolveTxt != 0 && browse->txtQuery.TimeSinceStart() > kLookupLimitMs)) {
        StopLookupsAndDiscard(browse);
        return;
    }
    if ((options.resolveSrv != 0 && instance->srvAnswered == 0) ||
        (options.resolveTxt != 0 && instance->txtAnswered == 0)) {
        return;
    }
    // Both queries stopped: nothing writes the instance any more.
    StopIfActive(&browse->srvQuery);
    StopIfActive(&browse->txtQuery);
    if (browse->context.foundCallback != nullptr) {
        browse->context.foundCallback(&instance->service, browse->context.window,
                                      options.abortEvent, options.reportedHosts);
    }
    DiscardCurrent(browse);
}

PassEnd RunPass(Browse* browse)
{
    if (!StartPass(browse)) {
        return PassAborted;
    }
    browse->current = nullptr;
    for (;;) {
        if (PollAbort(browse)) {
            return PassAborted;
        }
        bool silent = browse->ptrQuery.TimeSinceLastAnswer() > kSilenceMs;
        KeepDevicesAnswering(browse);
        if (browse->current == nullptr) {
            bool known = TakeNewestPending(browse);
            // Silence ends the pass only with nothing queued or in progress:
            // within this call those hosts would never be reported again.
            if (known && browse->current == nullptr && silent) {
                return PassSilent;
            }
            if (browse->current != nullptr) {
                StartLookups(browse);  // answers are looked at from the next cycle
            }
        } else {
            CheckLookups(browse);
        }
        SleepOneCycle(browse);
    }
}

void EndPass(Browse* browse)
{
    StopLookupsAndDiscard(browse);
    StopIfActive(&browse->ptrQuery);
}

void DiscardPending(BrowseContext* context)
{
    while (context->pending != nullptr) {
        ServiceInstance* next = context->pending->next;
        FreeServiceInstance(context->pending);
        context->pending = next;
    }
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
    options.reportedHosts = nullptr;
    options.foundCallback = nullptr;
    return options;
}

int32_t BrowseServices(const BrowseOptions* options)
{
    Browse browse;
    browse.options = options != nullptr ? *options : DefaultBrowseOptions();

    BrowseContext& context = browse.context;
    context.lock = CreateMutexW(nullptr, FALSE, nullptr);
    if (context.lock == nullptr) {
        return 1;
    }
    context.foundCallback = browse.options.foundCallback != nullptr ? browse.options.foundCallback
                                                                     : OnServiceFound;
    context.window = g_mainWindow;
    CopyText(context.serviceType, kDnsNameChars, L"_lumarisnet._tcp");
    CopyText(context.domain, kDnsNameChars, L".local");
    CopyText(context.browseName, kDnsNameChars, context.serviceType);
    size_t typeLength = wcslen(context.browseName);
    CopyText(context.browseName + typeLength, kDnsNameChars - typeLength, context.domain);
    context.pending = nullptr;

    browse.ptrQuery.reportedHosts = browse.options.reportedHosts;
    browse.current = nullptr;
    browse.nameBuffer[0] = L'\0';
    browse.lastAbortWait = WAIT_TIMEOUT;

    for (;;) {
        PassEnd end = RunPass(&browse);
        EndPass(&browse);
        // Instances still queued wait for the next pass.
        if (end != PassSilent || browse.options.singlePass != 0 ||
            browse.lastAbortWait != WAIT_TIMEOUT) {
            break;
        }
    }

    DiscardPending(&context);
    CloseHandle(context.lock);
    context.lock = INVALID_HANDLE_VALUE;
    // The three queries are stopped; their destructors free the seen names.
    return 1;
}
