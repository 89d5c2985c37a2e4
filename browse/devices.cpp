// What becomes of each device a browse finds: reported, or parked while
// its hardware address is learnt, or paused after a failure and asked
// again; and the remembered instances that a pass asks directly.
#include <string.h>
#include <wchar.h>

#include <utility>

#include "core/text_copy.h"
#include "browse/mdns_events.h"
#include "browse/state.h"

namespace {

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

}  // namespace

uint32_t Now(const Browse* browse)
{
    return browse->options.clock();
}

uint32_t TickClock()
{
    return GetTickCount();
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
            NoteLookupTimedOut(browse->options.interfaceAddress, instance->service.instanceName);
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

void DropRetries(Browse* browse)
{
    for (InstancePtr& retry : browse->retries) {
        ForgetInstanceHost(&browse->context, retry.get());
        retry.reset();
    }
}
