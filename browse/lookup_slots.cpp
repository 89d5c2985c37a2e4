// The browse's lookup slots: start, check and end, each query stopped
// before its instance leaves the slot.
#include "browse/lookup_slots.h"

#include <utility>

#include "browse/instance_queue.h"

namespace {

void StopIfActive(LookupQuery* query)
{
    if (query->IsActive()) {
        query->Stop();
    }
}

bool PastLimit(LookupQuery* query, uint32_t limitMs)
{
    return query->IsActive() && query->TimeSinceStart() > limitMs;
}

// The SRV target is known but its address is not: only an A query can tell.
bool NeedsAddressQuery(const LookupSlots* lookups, const ServiceInstance* instance)
{
    return lookups->resolveSrv && instance->srvAnswered == 0 && instance->targetKnown != 0;
}

uint32_t StartAddressQuery(LookupSlots* lookups, LookupSlot* slot)
{
    ServiceInstance* target = slot->instance.get();
    // Read only now that targetKnown is set: the target is never written again.
    return slot->a->Start(target->srvTarget, kLookupA, target, lookups->interfaceIndex);
}

}  // namespace

int FreeLookupSlots(const LookupSlots* lookups)
{
    int count = 0;
    for (const LookupSlot& slot : lookups->slots) {
        count += slot.instance == nullptr ? 1 : 0;
    }
    return count;
}

bool AnyLookupBusy(const LookupSlots* lookups)
{
    return FreeLookupSlots(lookups) < kMaxParallelLookups;
}

InstancePtr StartLookup(LookupSlots* lookups, InstancePtr instance)
{
    LookupSlot* slot = nullptr;
    for (LookupSlot& candidate : lookups->slots) {
        if (candidate.instance == nullptr) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) {
        return instance;
    }
    ServiceInstance* target = instance.get();
    slot->instance = std::move(instance);
    const wchar_t* name = target->service.instanceName;
    bool needsAddress = NeedsAddressQuery(lookups, target);
    if ((needsAddress && StartAddressQuery(lookups, slot) != 0) ||
        (!needsAddress && lookups->resolveSrv && target->srvAnswered == 0 &&
         slot->srv->Start(name, kLookupSrv, target, lookups->interfaceIndex) != 0) ||
        (lookups->resolveTxt && target->txtAnswered == 0 &&
         slot->txt->Start(name, kLookupTxt, target, lookups->interfaceIndex) != 0)) {
        return EndLookup(slot);
    }
    return nullptr;
}

LookupState CheckLookup(LookupSlots* lookups, LookupSlot* slot, InstancePtr* out)
{
    if (slot->instance == nullptr) {
        return LookupState::Free;
    }
    if (PastLimit(slot->srv, lookups->limitMs) || PastLimit(slot->txt, lookups->limitMs) ||
        PastLimit(slot->a, lookups->limitMs)) {
        *out = EndLookup(slot);
        return LookupState::Expired;
    }
    if (NeedsAddressQuery(lookups, slot->instance.get()) && !slot->a->IsActive()) {
        // The SRV query has said all it can; the address query has a limit of its own.
        StopIfActive(slot->srv);
        if (StartAddressQuery(lookups, slot) != 0) {
            *out = EndLookup(slot);
            return LookupState::Expired;
        }
    }
    if (NeedsLookup(slot->instance.get(), lookups->resolveSrv, lookups->resolveTxt)) {
        return LookupState::Waiting;
    }
    // Both queries stopped: nothing writes the instance any more.
    *out = EndLookup(slot);
    return LookupState::Resolved;
}

InstancePtr EndLookup(LookupSlot* slot)
{
    StopIfActive(slot->srv);
    StopIfActive(slot->txt);
    StopIfActive(slot->a);
    return std::move(slot->instance);
}
