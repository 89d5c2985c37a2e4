// Our multicast DNS client's entry points (client.h): a query is
// checked, joined to the session and its interface's link, and sent within
// a few milliseconds (with the others started beside it);
// a stop waits for a callback of that query still running.
#include "querier/client.h"

#include <stdlib.h>
#include <string.h>

#include "core/platform.h"
#include "core/platform_tables.h"
#include "core/text_copy.h"
#include "querier/internal.h"
#include "querier/records.h"

namespace {

// The address of each interface, as last read: a browse starts many
// queries at once and restarts its query every second, and every read of
// the address table is a trip through the system. An address that changed
// is seen within kAddressReuseMs.
constexpr DWORD kAddressReuseMs = 1000;
constexpr unsigned kCachedInterfaces = 16;

struct CachedAddress {
    ULONG interfaceIndex;
    uint32_t address;  // 0: the entry is free
    uint32_t mask;
    DWORD readTick;
};

CachedAddress g_addresses[kCachedInterfaces];  // guarded by g_lock
int64_t g_reservedQueries = 0;                 // guarded by g_lock

// Under g_lock.
unsigned QueryLimit()
{
    int64_t limit = kUnreservedQueries + g_reservedQueries;
    return limit < kMaxQueries ? unsigned(limit) : kMaxQueries;
}

// Under g_lock.
bool FindCachedAddress(ULONG interfaceIndex, DWORD now, uint32_t* address, uint32_t* mask)
{
    for (const CachedAddress& entry : g_addresses) {
        if (entry.address != 0 && entry.interfaceIndex == interfaceIndex &&
            now - entry.readTick < kAddressReuseMs) {
            *address = entry.address;
            *mask = entry.mask;
            return true;
        }
    }
    return false;
}

// Under g_lock: replaces the entry of that interface, else a free or the oldest one.
void CacheAddress(ULONG interfaceIndex, uint32_t address, uint32_t mask, DWORD now)
{
    CachedAddress* slot = &g_addresses[0];
    for (CachedAddress& entry : g_addresses) {
        if (entry.address != 0 && entry.interfaceIndex == interfaceIndex) {
            slot = &entry;
            break;
        }
        if (entry.address == 0 || LONG(entry.readTick - slot->readTick) < 0) {
            slot = &entry;
        }
    }
    *slot = {interfaceIndex, address, mask, now};
}

DWORD ReadAddressOf(ULONG interfaceIndex, uint32_t* address, uint32_t* mask)
{
    DWORD now = GetTickCount();
    g_lock.Acquire();
    bool cached = FindCachedAddress(interfaceIndex, now, address, mask);
    g_lock.Release();
    if (cached) {
        return NO_ERROR;
    }
    DWORD status = ReadInterfaceAddress(interfaceIndex, address, mask);
    if (status == NO_ERROR) {
        g_lock.Acquire();
        CacheAddress(interfaceIndex, *address, *mask, now);
        g_lock.Release();
    }
    return status;
}

bool PrepareQuery(const MDNS_QUERY_REQUEST& request, PMDNS_QUERY_HANDLE handle, Query* query)
{
    char text[kDnsNameTextCapacity * 4];
    if (WideCharToMultiByte(CP_UTF8, 0, request.Query, -1, text, int(sizeof(text)), nullptr, nullptr) == 0 ||
        !DnsCanonicalName(text, query->name, sizeof(query->name))) {
        return false;
    }
    query->packetLength =
        DnsBuildQuery(query->name, request.QueryType, false, query->packet, sizeof(query->packet));
    query->handle = handle;
    query->callback = request.pQueryCallback;
    query->context = request.pQueryContext;
    query->options = request.QueryOptions;
    query->type = request.QueryType;
    query->nextInterval = kFirstResendMs;
    return query->packetLength != 0;
}

// Under g_lock: the running query this handle was given, or null.
Query* FindRunningQuery(PMDNS_QUERY_HANDLE handle)
{
    for (RegisteredQuery* entry = g_registry.queries; entry != nullptr; entry = entry->next) {
        Query* query = QueryOf(entry);
        if (query == handle->pSubscription && query->handle == handle) {
            return query;
        }
    }
    return nullptr;
}

}  // namespace

DNS_STATUS WINAPI MdnsClientStartQuery(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle)
{
    if (request == nullptr || handle == nullptr || request->Query == nullptr ||
        request->pQueryCallback == nullptr || request->Version != DNS_QUERY_REQUEST_VERSION1) {
        return ERROR_INVALID_PARAMETER;
    }
    Query* query = static_cast<Query*>(calloc(1, sizeof(Query)));
    if (query == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    uint32_t address = 0;
    uint32_t mask = 0;
    DWORD status = PrepareQuery(*request, handle, query)
                       ? ReadAddressOf(request->InterfaceIndex, &address, &mask)
                       : DWORD(ERROR_INVALID_PARAMETER);
    if (status != NO_ERROR) {
        free(query);
        return status;
    }

    g_lock.Acquire();
    Session* session = g_session;
    if (session == nullptr) {
        session = g_session = OpenSession(&status);
    }
    Link* link = nullptr;
    if (session != nullptr) {
        status = session->queryCount < QueryLimit()
                     ? AttachLink(session, request->InterfaceIndex, address, mask, &link)
                     : DWORD(ERROR_TOO_MANY_CMDS);
    }
    if (status == NO_ERROR) {
        memset(handle, 0, sizeof(*handle));
        CopyText(handle->nameBuf, DNS_MAX_NAME_BUFFER_LENGTH, request->Query);
        handle->wType = request->QueryType;
        handle->pSubscription = query;
        query->link = link;
        ++link->queries;
        query->entry.interfaceIndex = request->InterfaceIndex;
        RegisterQuery(&g_registry, &query->entry);
        ++session->queryCount;
        ScheduleFirstSend(query, GetTickCount());
        SetEvent(session->wake);
    } else if (session != nullptr && session->queryCount == 0) {
        session->idleSince = GetTickCount();  // lingers as after a Stop
    }
    g_lock.Release();
    if (status != NO_ERROR) {
        free(query);
    }
    return status;
}

DNS_STATUS WINAPI MdnsClientStopQuery(PMDNS_QUERY_HANDLE handle)
{
    if (handle == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    g_lock.Acquire();
    Query* query = FindRunningQuery(handle);
    Session* session = g_session;  // holds every running query, so this one too
    if (query == nullptr || !UnregisterQuery(&g_registry, &query->entry)) {
        g_lock.Release();
        return ERROR_INVALID_PARAMETER;
    }
    // Still ours through the stop's hold, however the callback ended.
    handle->pSubscription = nullptr;
    DWORD now = GetTickCount();
    LeaveLink(query->link, now);
    if (--session->queryCount == 0) {
        session->idleSince = now;
    }
    SetEvent(session->wake);  // the thread's next timeout may change
    g_lock.Release();
    DropQuery(&g_registry, &query->entry);
    return ERROR_SUCCESS;
}

VOID WINAPI MdnsClientFree(PVOID data, DNS_FREE_TYPE freeType)
{
    if (freeType == DnsFreeRecordList) {
        FreeRecordList(static_cast<PDNS_RECORD>(data));
    } else {
        free(data);
    }
}

void MdnsClientReserveQueries(int queries)
{
    g_lock.Acquire();
    g_reservedQueries += queries;
    if (g_reservedQueries < 0) {
        g_reservedQueries = 0;  // more given back than reserved: never below none
    }
    g_lock.Release();
}

void MdnsClientCloseIdleSession()
{
    g_lock.Acquire();
    Session* ended = g_session != nullptr ? RetireIfIdle(g_session, false) : nullptr;
    g_lock.Release();
    WaitForSessionEnd(ended);
}

void InstallMulticastDnsClient()
{
    g_platform.ownDnsStartMulticastQuery = MdnsClientStartQuery;
    g_platform.ownDnsStopMulticastQuery = MdnsClientStopQuery;
    g_platform.ownDnsFree = MdnsClientFree;
    g_platform.ownForgetKnownAnswers = MdnsClientForgetKnownAnswers;
    g_platform.ownReserveQueries = MdnsClientReserveQueries;
}
