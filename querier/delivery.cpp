// Our multicast DNS client's delivery: each received response goes to the
// running queries of its interface that it answers, one at a time, without
// the lock held during a callback (see session.cpp).
#include <stdlib.h>
#include <string.h>

#include "core/diagnostics.h"
#include "querier/internal.h"
#include "querier/records.h"

namespace {

// Hands the records to the query's callback unless it has been stopped;
// the caller's pin keeps the query alive throughout.
void Complete(Query* query, PDNS_RECORD records)
{
    if (!BeginCallback(&g_registry, &query->entry)) {
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
    EndCallback(&g_registry, &query->entry);
}

// The address of our link on interfaceIndex that heard a packet from
// source: the one whose subnet holds it, else the first; 0 for none, and
// for our own questions coming back.
uint32_t HearingAddress(const Link* links, ULONG interfaceIndex, uint32_t source)
{
    uint32_t first = 0;
    uint32_t holding = 0;
    for (const Link* link = links; link != nullptr; link = link->next) {
        if (link->address == source) {
            return 0;
        }
        if (link->interfaceIndex != interfaceIndex) {
            continue;
        }
        if (holding == 0 && link->mask != 0 && (source & link->mask) == (link->address & link->mask)) {
            holding = link->address;
        }
        first = first != 0 ? first : link->address;
    }
    return holding != 0 ? holding : first;
}

void Deliver(Session* session, const uint8_t* packet, int length, ULONG interfaceIndex,
             uint32_t source)
{
    g_lock.Acquire();
    bool onLink = SourceOnLink(session->links, interfaceIndex, source);
    uint32_t hearing = HearingAddress(session->links, interfaceIndex, source);
    g_lock.Release();
    // Heard at all, whatever it says: proof that multicast DNS reaches the link.
    diag::Count(hearing, diag::kMdnsPacketsHeard);
    if (!onLink) {
        return;
    }
    DnsMessage message;
    if (!DnsOpenMessage(packet, size_t(length), &message) || !DnsIsResponse(message) ||
        DnsOpcode(message) != 0 || DnsRcode(message) != 0) {
        return;
    }
    uint64_t after = 0;
    RegisteredQuery* entry;
    while ((entry = PinNextQuery(&g_registry, after, interfaceIndex)) != nullptr) {
        after = entry->serial;
        Query* query = QueryOf(entry);
        if (PacketAnswersQuery(message, query->name, query->type)) {
            if (query->type == kDnsTypePtr) {
                g_lock.Acquire();
                RememberKnownAnswers(message, interfaceIndex, query->name, GetTickCount());
                g_lock.Release();
            }
            PDNS_RECORD records = BuildRecordList(message);
            if (records != nullptr) {
                Complete(query, records);
            }
        }
        DropQuery(&g_registry, entry);
    }
}

}  // namespace

bool SourceOnLink(const Link* links, ULONG interfaceIndex, uint32_t source)
{
    for (const Link* link = links; link != nullptr; link = link->next) {
        if (link->interfaceIndex == interfaceIndex && link->mask != 0 &&
            (source & link->mask) == (link->address & link->mask)) {
            return true;
        }
    }
    return false;
}

// The readable events reset themselves when the thread's wait takes them
// (see sockets.cpp), so a drain needs no reset of its own.
bool DrainListener(Session* session, uint8_t* buffer)
{
    for (int i = 0; i < kMaxDatagramsPerTurn; ++i) {
        ULONG interfaceIndex = 0;
        uint32_t source = 0;
        int length =
            ReceiveOnListener(session->listener, buffer, kMdnsMaxPacketBytes, &interfaceIndex, &source);
        if (length == kNothingWaiting) {
            return false;
        }
        if (length > 0) {
            Deliver(session, buffer, length, interfaceIndex, source);
        }
    }
    WSASetEvent(session->listener.readable);  // more may wait: next turn
    return true;
}

bool DrainLink(Session* session, const LinkSocket& link, ULONG interfaceIndex, uint8_t* buffer)
{
    for (int i = 0; i < kMaxDatagramsPerTurn; ++i) {
        uint32_t source = 0;
        int length = ReceiveOnLink(link, buffer, kMdnsMaxPacketBytes, &source);
        if (length == kNothingWaiting) {
            return false;
        }
        if (length > 0) {
            Deliver(session, buffer, length, interfaceIndex, source);
        }
    }
    WSASetEvent(link.readable);
    return true;
}

// Under g_lock: sends what is due; returns the milliseconds until the next.
