// The browse's queue of found instances: two bounded rings under one lock.
#include "browse/instance_queue.h"

#include <utility>

bool NeedsLookup(const ServiceInstance* instance, bool resolveSrv, bool resolveTxt)
{
    return (resolveSrv && instance->srvAnswered == 0) || (resolveTxt && instance->txtAnswered == 0);
}

void QueueInstances(InstanceQueue* queue, InstancePtr* made, int count)
{
    if (count <= 0) {
        return;
    }
    {
        SyncGuard guard(queue->lock);
        for (int i = 0; i < count; ++i) {
            bool complete = !NeedsLookup(made[i].get(), true, true);
            PushInstance(queue, complete ? &queue->ready : &queue->pending, std::move(made[i]));
        }
    }
    queue->wake.Set();
}

int TakeInstances(InstanceQueue* queue, bool resolveSrv, bool resolveTxt, int freeSlots,
                  InstancePtr* taken, int capacity, bool* emptied)
{
    int count = 0;
    SyncGuard guard(queue->lock);
    while (count < capacity && queue->ready.count > 0) {
        taken[count++] = PopNewestInstance(&queue->ready);
    }
    while (count < capacity && queue->pending.count > 0) {
        bool needs = NeedsLookup(NewestInstance(&queue->pending), resolveSrv, resolveTxt);
        if (needs && freeSlots == 0) {
            break;
        }
        freeSlots -= needs ? 1 : 0;
        taken[count++] = PopNewestInstance(&queue->pending);
    }
    *emptied = queue->ready.count == 0 && queue->pending.count == 0;
    return count;
}

void PushInstance(InstanceQueue* queue, InstanceRing* ring, InstancePtr instance)
{
    if (ring->count == kMaxPendingInstances) {
        // The oldest gives way; replacing it below frees it.
        if (queue->lost != nullptr) {
            queue->lost(queue->lostContext, ring->items[ring->oldest].get());
        }
        ring->oldest = (ring->oldest + 1) % kMaxPendingInstances;
        --ring->count;
    }
    ring->items[(ring->oldest + ring->count) % kMaxPendingInstances] = std::move(instance);
    ++ring->count;
}

InstancePtr PopNewestInstance(InstanceRing* ring)
{
    if (ring->count == 0) {
        return nullptr;
    }
    --ring->count;
    return std::move(ring->items[(ring->oldest + ring->count) % kMaxPendingInstances]);
}

const ServiceInstance* NewestInstance(const InstanceRing* ring)
{
    return ring->count > 0 ? ring->items[(ring->oldest + ring->count - 1) % kMaxPendingInstances].get() : nullptr;
}
