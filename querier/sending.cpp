// Our multicast DNS client's sending: the queries of each link that are
// due leave together in as few packets as fit, each PTR question followed
// by its known answers (known_answers.cpp), and each query's next send
// is scheduled after an interval that doubles (1 s, 2 s, 4 s ...).
#include <string.h>

#include "core/diagnostics.h"
#include "querier/internal.h"

namespace {

// Schedules the next send after nextInterval, which then doubles.
void ScheduleResend(Query* query, DWORD now)
{
    query->nextSendTick = now + query->nextInterval;
    DWORD doubled = query->nextInterval * 2;
    query->nextInterval = doubled < kLongestResendMs ? doubled : kLongestResendMs;
}

bool SameQuestion(const Query* a, const Query* b)
{
    return a->packetLength == b->packetLength && memcmp(a->packet, b->packet, a->packetLength) == 0;
}

// One packet being filled with questions; its PTR questions' known answers
// follow them when it is sent.
struct QueryPacket {
    uint8_t bytes[kMaxQueryPacketBytes];
    size_t length;
    const Query* ptrQueries[kMaxQueryPacketBytes / kDnsHeaderBytes];
    size_t ptrOffsets[kMaxQueryPacketBytes / kDnsHeaderBytes];
    unsigned ptrCount;
};

void SendPacket(Link* link, QueryPacket* packet, DWORD now)
{
    if (packet->length == 0) {
        return;
    }
    for (unsigned i = 0; i < packet->ptrCount; ++i) {
        packet->length = AppendKnownAnswers(packet->bytes, packet->length, sizeof(packet->bytes),
                                            packet->ptrOffsets[i], link->interfaceIndex,
                                            packet->ptrQueries[i]->name, now);
    }
    SendToGroup(link->socket, packet->bytes, packet->length);
    packet->length = 0;
    packet->ptrCount = 0;
}

void AddQuestion(Link* link, QueryPacket* packet, const Query* query, DWORD now)
{
    size_t offset = packet->length;
    size_t grown = offset == 0 ? 0 : DnsAppendQuestion(packet->bytes, offset, sizeof(packet->bytes),
                                                       query->packet, query->packetLength);
    if (grown == 0) {
        SendPacket(link, packet, now);
        memcpy(packet->bytes, query->packet, query->packetLength);
        offset = 0;
        grown = query->packetLength;
    }
    packet->length = grown;
    diag::Count(link->address, diag::kMdnsQuestionsSent);
    if (query->type == kDnsTypePtr && packet->ptrCount < sizeof(packet->ptrOffsets) / sizeof(size_t)) {
        packet->ptrQueries[packet->ptrCount] = query;
        packet->ptrOffsets[packet->ptrCount++] = offset == 0 ? kDnsHeaderBytes : offset;
    }
}

// Sends the queries of one link in as few packets as fit; a question asked
// twice (two browses of one interface) goes once.
void SendBatch(Link* link, Query* const* batch, unsigned count, DWORD now)
{
    QueryPacket packet;
    packet.length = 0;
    packet.ptrCount = 0;
    for (unsigned i = 0; i < count; ++i) {
        Query* query = batch[i];
        if (query->link != link) {
            continue;
        }
        ScheduleResend(query, now);
        bool repeat = false;
        for (unsigned j = 0; j < i && !repeat; ++j) {
            repeat = batch[j]->link == link && SameQuestion(batch[j], query);
        }
        if (!repeat) {
            AddQuestion(link, &packet, query, now);
        }
    }
    SendPacket(link, &packet, now);
}

}  // namespace

// Every link with a query due sends it together with the link's queries due
// within kGatherMs. Returns the time until the next send is due.
DWORD SendDueQueries(Session* session)
{
    DWORD now = GetTickCount();
    for (Link* link = session->links; link != nullptr; link = link->next) {
        link->sendNow = false;
    }
    for (RegisteredQuery* entry = g_registry.queries; entry != nullptr; entry = entry->next) {
        Query* query = QueryOf(entry);
        if (LONG(query->nextSendTick - now) <= 0) {
            query->link->sendNow = true;
        }
    }
    // The batch lives on the thread's stack: queries due beyond it leave in
    // the next turn, which follows at once (their wait is 0).
    constexpr unsigned kMaxBatch = 512;
    Query* batch[kMaxBatch];
    unsigned count = 0;
    DWORD wait = INFINITE;
    for (RegisteredQuery* entry = g_registry.queries; entry != nullptr; entry = entry->next) {
        Query* query = QueryOf(entry);
        LONG remaining = LONG(query->nextSendTick - now);
        if (query->link->sendNow && remaining <= LONG(kGatherMs) && count < kMaxBatch) {
            batch[count++] = query;
        } else if (DWORD(remaining < 0 ? 0 : remaining) < wait) {
            wait = DWORD(remaining < 0 ? 0 : remaining);
        }
    }
    for (Link* link = session->links; link != nullptr; link = link->next) {
        if (link->sendNow) {
            SendBatch(link, batch, count, now);
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        DWORD remaining = batch[i]->nextSendTick - now;
        wait = remaining < wait ? remaining : wait;
    }
    return wait;
}
