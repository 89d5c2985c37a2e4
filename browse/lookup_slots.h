// The lookups one browse runs at once: each slot holds an instance and the
// SRV, TXT and address queries that resolve it; the address query asks for
// the SRV target's A record when no answer has carried it. The queries'
// answers write the instance on the DNS client's thread; an instance leaves
// its slot only after all its queries have stopped, so no answer can write
// it once it is reported or freed.
// No windows.h here: the slots also build natively for the stress tests,
// over a query of the test's own.
#pragma once

#include <stdint.h>

#include "browse/service_instance.h"

enum : int {
    // Instances resolved by their own queries at the same time, per browse.
    kMaxParallelLookups = 32,
};

enum : uint16_t {
    kLookupSrv = 33,  // the DNS record types a slot asks for
    kLookupTxt = 16,
    kLookupA = 1,
};

// One query of a slot over the DNS client.
class LookupQuery {
public:
    virtual ~LookupQuery() = default;
    // 0 when started; from then until Stop returns, answers may write the
    // instance (and set its flag for this type once complete).
    virtual uint32_t Start(const wchar_t* name, uint16_t type, ServiceInstance* instance,
                           uint32_t interfaceIndex) = 0;
    // After it returns, no answer of this query runs or follows.
    virtual void Stop() = 0;
    virtual bool IsActive() = 0;
    virtual uint32_t TimeSinceStart() = 0;
};

struct LookupSlot {
    InstancePtr instance;  // null: the slot is free
    LookupQuery* srv;
    LookupQuery* txt;
    LookupQuery* a;  // the SRV target's address
};

struct LookupSlots {
    LookupSlot slots[kMaxParallelLookups];
    bool resolveSrv;
    bool resolveTxt;
    uint32_t interfaceIndex;  // placed in every query
    uint32_t limitMs;         // a lookup longer than this is given up
};

int FreeLookupSlots(const LookupSlots* lookups);
bool AnyLookupBusy(const LookupSlots* lookups);

// Starts the queries the instance still needs in a free slot. Null when
// they run; otherwise the instance comes back (no slot free, or a start
// failed), unresolved.
InstancePtr StartLookup(LookupSlots* lookups, InstancePtr instance);

enum class LookupState { Free, Waiting, Resolved, Expired };
// Looks at one slot. Once the SRV target is known without its address, the
// SRV query gives way to the address query. Resolved and Expired stop its
// queries and hand its instance out: resolved, or given up (a query past the
// time limit, or an address query that could not start). The limit comes
// first, so answers first seen after it do not count.
LookupState CheckLookup(LookupSlots* lookups, LookupSlot* slot, InstancePtr* out);
// Stops the slot's queries and hands its instance out (null when free).
InstancePtr EndLookup(LookupSlot* slot);
