// The instances a browse has found and not yet taken: the DNS client's
// thread queues them from browse answers, the browse takes them, newest
// first. Two rings, so that instances the answer describes in full are
// never held up behind ones that wait for a lookup slot. Each ring is
// bounded: when full, the oldest gives way and its host is handed to `lost`
// so that the host's next answer counts again.
// No windows.h here: it also builds natively for the stress tests.
#pragma once

#include "core/sync.h"
#include "browse/service_instance.h"

enum : int {
    // Instances waiting in one ring; beyond that the oldest give way (and
    // are found again by their next answer).
    kMaxPendingInstances = 1024,
};

struct InstanceRing {
    InstancePtr items[kMaxPendingInstances];
    unsigned oldest;
    unsigned count;
};

struct InstanceQueue {
    SyncLock lock;  // guards the two rings
    InstanceRing ready;    // complete as the browse answer gave them
    InstanceRing pending;  // waiting for their lookups
    SyncSignal wake;       // set after each answer: the browse looks at once
    // Called under the lock for an instance that gives way; may be null.
    void (*lost)(void* context, const ServiceInstance* instance);
    void* lostContext;
};

// True when the instance still lacks what the browse resolves.
bool NeedsLookup(const ServiceInstance* instance, bool resolveSrv, bool resolveTxt);

// Takes the lock: queues these instances (complete ones in `ready`, judged
// by their flags: SRV with address and TXT both known) and wakes the browse.
void QueueInstances(InstanceQueue* queue, InstancePtr* made, int count);

// Takes the lock: up to `capacity` instances, newest first, the complete
// ones before those that need a lookup, and of those no more than
// `freeSlots`. *emptied tells whether both rings were left empty.
int TakeInstances(InstanceQueue* queue, bool resolveSrv, bool resolveTxt, int freeSlots,
                  InstancePtr* taken, int capacity, bool* emptied);

// Under the lock: one instance into a ring (the oldest gives way when it is
// full); the newest out, or null; a look at the newest.
void PushInstance(InstanceQueue* queue, InstanceRing* ring, InstancePtr instance);
InstancePtr PopNewestInstance(InstanceRing* ring);
const ServiceInstance* NewestInstance(const InstanceRing* ring);
