// The running queries of our multicast DNS client and who may still touch
// each one: the registry while the query runs, every delivery that pinned
// it, and the callback running on it. Exactly one place frees a query:
// DropQuery, when the last of those holds goes. A stop unregisters the
// query and waits for a callback running on another thread, but keeps its
// own hold until it is done, so whichever side lets go last frees it.
//
// No windows.h here: the registry also builds natively, where a stress test
// drives it from several threads under the sanitizers.
#pragma once

#include <stdint.h>

#include "core/sync.h"

struct RegisteredQuery {
    // Fixed once registered: read without the lock.
    uint64_t serial;
    uint32_t interfaceIndex;
    // Guarded by the registry's lock.
    bool stopped;
    bool inCallback;
    uint64_t callbackThread;
    unsigned holds;  // the registration and every pin
    RegisteredQuery* next;
};

struct QueryRegistry {
    // The client's lock: it guards the registry and the client's own lists.
    SyncLock* lock;
    // Frees what holds the entry; called without the lock.
    void (*destroy)(RegisteredQuery* query);
    SyncCondition callbackEnded;
    RegisteredQuery* queries;  // in start order, so serials ascend
    uint64_t lastSerial;
};

// Under the lock: the query runs from here on, and the registry holds it.
void RegisterQuery(QueryRegistry* registry, RegisteredQuery* query);
// Under the lock: unlinks a running query and marks it stopped, so that no
// callback of it starts any more; then waits until a callback of it running
// on another thread has returned (the lock is let go meanwhile). The
// caller's hold stays: it may go on reading the query under the lock, and
// gives the hold back with DropQuery once it has let the lock go. False
// (nothing done) when the query is not running.
bool UnregisterQuery(QueryRegistry* registry, RegisteredQuery* query);

// Takes the lock: pins the first running query after serial `after` on that
// interface, or returns null.
RegisteredQuery* PinNextQuery(QueryRegistry* registry, uint64_t after, uint32_t interfaceIndex);
// Takes the lock: true, with the query marked as in its callback, unless it
// has been stopped. Callbacks of one query run one at a time: a second
// delivery waits for the first. The caller holds a pin.
bool BeginCallback(QueryRegistry* registry, RegisteredQuery* query);
void EndCallback(QueryRegistry* registry, RegisteredQuery* query);
// Takes the lock: gives back one hold (a pin, or a stop's registration);
// the last one frees the query.
void DropQuery(QueryRegistry* registry, RegisteredQuery* query);
