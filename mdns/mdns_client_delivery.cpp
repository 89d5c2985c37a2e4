// Our multicast DNS client's delivery: each received response goes to the
// running queries of its interface that it answers, one at a time, without
// the lock held during a callback (see mdns_client_session.cpp).
#include <stdlib.h>
#include <string.h>

#include "mdns/mdns_client_internal.h"
#include "mdns/mdns_client_records.h"

namespace {

// Pins the first running query after serial `after` on that interface.
Query* PinNextQuery(Session* session, uint64_t after, ULONG interfaceIndex)
{
    AcquireSRWLockExclusive(&g_lock);
    Query* found = nullptr;
    for (Query* query = session->queries; query != nullptr && found == nullptr; query = query->next) {
        if (query->serial > after && query->link->interfaceIndex == interfaceIndex) {
            found = query;
            ++found->pins;
        }
    }
    ReleaseSRWLockExclusive(&g_lock);
    return found;
}

void Unpin(Query* query)
{
    AcquireSRWLockExclusive(&g_lock);
    bool release = --query->pins == 0 && query->stopped;
    ReleaseSRWLockExclusive(&g_lock);
    if (release) {
        free(query);
    }
}

// Hands the records to the query's callback unless it has been stopped.
void Complete(Query* query, PDNS_RECORD records)
{
    AcquireSRWLockExclusive(&g_lock);
    bool running = !query->stopped;
    if (running) {
        query->inCallback = true;
        query->callbackThread = GetCurrentThreadId();
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (!running) {
        FreeRecordList(records);
        return;
    }
    DNS_QUERY_RESULT result;
    memset(&result, 0, sizeof(result));
    result.Version = DNS_QUERY_RESULTS_VERSION1;
    result.QueryStatus = ERROR_SUCCESS;
    result.QueryOptions = query->options;
    result.pQueryRecords = records;
    query->callback(query->context, query->handle, &result);
    AcquireSRWLockExclusive(&g_lock);
    query->inCallback = false;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_callbackEnded);
}

// True when the source lies on the subnet of an address of that interface.
bool SourceOnLink(Session* session, ULONG interfaceIndex, uint32_t source)
{
    AcquireSRWLockExclusive(&g_lock);
    bool onLink = false;
    for (Link* link = session->links; link != nullptr && !onLink; link = link->next) {
        onLink = link->interfaceIndex == interfaceIndex && link->mask != 0 &&
                 (source & link->mask) == (link->address & link->mask);
    }
    ReleaseSRWLockExclusive(&g_lock);
    return onLink;
}

void Deliver(Session* session, const uint8_t* packet, int length, ULONG interfaceIndex,
             uint32_t source)
{
    if (!SourceOnLink(session, interfaceIndex, source)) {
        return;
    }
    DnsMessage message;
    if (!DnsOpenMessage(packet, size_t(length), &message) || !DnsIsResponse(message) ||
        DnsOpcode(message) != 0 || DnsRcode(message) != 0) {
        return;
    }
    uint64_t after = 0;
    Query* query;
    while ((query = PinNextQuery(session, after, interfaceIndex)) != nullptr) {
        after = query->serial;
        if (PacketAnswersQuery(message, query->name, query->type)) {
            PDNS_RECORD records = BuildRecordList(message);
            if (records != nullptr) {
                Complete(query, records);
            }
        }
        Unpin(query);
    }
}

}  // namespace

void DrainListener(Session* session, uint8_t* buffer)
{
    WSAResetEvent(session->listener.readable);
    for (int i = 0; i < kMaxDatagramsPerTurn; ++i) {
        ULONG interfaceIndex = 0;
        uint32_t source = 0;
        int length =
            ReceiveOnListener(session->listener, buffer, kMdnsMaxPacketBytes, &interfaceIndex, &source);
        if (length == kNothingWaiting) {
            return;
        }
        if (length > 0) {
            Deliver(session, buffer, length, interfaceIndex, source);
        }
    }
    WSASetEvent(session->listener.readable);  // more may wait: next turn
}

void DrainLink(Session* session, const LinkSocket& link, ULONG interfaceIndex, uint8_t* buffer)
{
    WSAResetEvent(link.readable);
    for (int i = 0; i < kMaxDatagramsPerTurn; ++i) {
        uint32_t source = 0;
        int length = ReceiveOnLink(link, buffer, kMdnsMaxPacketBytes, &source);
        if (length == kNothingWaiting) {
            return;
        }
        if (length > 0) {
            Deliver(session, buffer, length, interfaceIndex, source);
        }
    }
    WSASetEvent(link.readable);
}

// Under g_lock: sends what is due; returns the milliseconds until the next.
