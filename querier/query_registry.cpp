// The query registry: holds counted under one lock, the free in one place.
#include "querier/query_registry.h"

void RegisterQuery(QueryRegistry* registry, RegisteredQuery* query)
{
    query->serial = ++registry->lastSerial;
    query->stopped = false;
    query->inCallback = false;
    query->holds = 1;
    query->next = nullptr;
    RegisteredQuery** tail = &registry->queries;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    *tail = query;
}

bool UnregisterQuery(QueryRegistry* registry, RegisteredQuery* query)
{
    RegisteredQuery** at = &registry->queries;
    while (*at != nullptr && *at != query) {
        at = &(*at)->next;
    }
    if (*at == nullptr) {
        return false;
    }
    *at = query->next;
    query->next = nullptr;
    query->stopped = true;
    // A callback that stops its own query cannot wait for itself.
    uint64_t self = CurrentThreadKey();
    while (query->inCallback && query->callbackThread != self) {
        registry->callbackEnded.Wait(*registry->lock);
    }
    return true;
}

RegisteredQuery* PinNextQuery(QueryRegistry* registry, uint64_t after, uint32_t interfaceIndex)
{
    SyncGuard guard(*registry->lock);
    for (RegisteredQuery* query = registry->queries; query != nullptr; query = query->next) {
        if (query->serial > after && query->interfaceIndex == interfaceIndex) {
            ++query->holds;
            return query;
        }
    }
    return nullptr;
}

bool BeginCallback(QueryRegistry* registry, RegisteredQuery* query)
{
    SyncGuard guard(*registry->lock);
    // One callback of a query at a time: a stop waits for the one running.
    while (query->inCallback && !query->stopped) {
        registry->callbackEnded.Wait(*registry->lock);
    }
    if (query->stopped) {
        return false;
    }
    query->inCallback = true;
    query->callbackThread = CurrentThreadKey();
    return true;
}

void EndCallback(QueryRegistry* registry, RegisteredQuery* query)
{
    {
        SyncGuard guard(*registry->lock);
        query->inCallback = false;
    }
    registry->callbackEnded.WakeAll();
}

void DropQuery(QueryRegistry* registry, RegisteredQuery* query)
{
    registry->lock->Acquire();
    bool last = --query->holds == 0;
    registry->lock->Release();
    if (last) {
        registry->destroy(query);
    }
}
