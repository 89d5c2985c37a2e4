// Our multicast DNS client's known answers: what the running PTR questions
// have been answered, listed in their next packets so that responders whose
// answers are already held stay quiet. Kept apart from the sessions: a
// browse restarting its query keeps them; the browse forgets them (through
// MdnsClientForgetKnownAnswers) whenever it forgets the instances it saw.
#include <string.h>

#include "querier/client.h"
#include "querier/internal.h"

namespace {

struct KnownAnswer {
    bool used;
    ULONG interfaceIndex;
    uint32_t ttl;  // seconds, as received
    DWORD receivedTick;
    char question[kDnsNameTextCapacity];
    char target[kDnsNameTextCapacity];
};

KnownAnswer g_known[kMaxKnownAnswers];  // guarded by g_lock

bool Matches(const KnownAnswer& entry, ULONG interfaceIndex, const char* question)
{
    return entry.used && entry.interfaceIndex == interfaceIndex && DnsNamesEqual(entry.question, question);
}

// More than half of its TTL remains (an answer from a responder whose own
// record is fresher would otherwise be held back); the seconds left, else 0.
uint32_t RemainingTtl(const KnownAnswer& entry, DWORD now)
{
    uint64_t elapsedMs = DWORD(now - entry.receivedTick);
    uint64_t ttlMs = uint64_t(entry.ttl) * 1000;
    return elapsedMs * 2 < ttlMs ? uint32_t((ttlMs - elapsedMs) / 1000) : 0;
}

// The entry of that answer, else a free one, else the oldest.
KnownAnswer* SlotFor(ULONG interfaceIndex, const char* question, const char* target)
{
    KnownAnswer* slot = nullptr;
    for (KnownAnswer& entry : g_known) {
        if (Matches(entry, interfaceIndex, question) && DnsNamesEqual(entry.target, target)) {
            return &entry;
        }
        if (slot == nullptr || (slot->used && (!entry.used || LONG(entry.receivedTick - slot->receivedTick) < 0))) {
            slot = &entry;
        }
    }
    return slot;
}

}  // namespace

void RememberKnownAnswers(const DnsMessage& message, ULONG interfaceIndex, const char* question, DWORD now)
{
    DnsRecordCursor cursor = {};
    DnsRecord record;
    while (cursor.index < message.answerCount) {
        if (DnsReadNextRecord(message, &cursor, &record) != kDnsRecordRead || record.type != kDnsTypePtr ||
            record.rrClass != kDnsClassIn || !DnsNamesEqual(record.owner, question)) {
            continue;
        }
        KnownAnswer* slot = SlotFor(interfaceIndex, question, record.target);
        if (record.ttl == 0) {
            bool same = Matches(*slot, interfaceIndex, question) && DnsNamesEqual(slot->target, record.target);
            slot->used = slot->used && !same;  // a goodbye
            continue;
        }
        slot->used = true;
        slot->interfaceIndex = interfaceIndex;
        slot->ttl = record.ttl;
        slot->receivedTick = now;
        memcpy(slot->question, question, strlen(question) + 1);
        memcpy(slot->target, record.target, sizeof(slot->target));
    }
}

size_t AppendKnownAnswers(uint8_t* packet, size_t length, size_t capacity, size_t nameOffset,
                          ULONG interfaceIndex, const char* question, DWORD now)
{
    for (KnownAnswer& entry : g_known) {
        if (!Matches(entry, interfaceIndex, question)) {
            continue;
        }
        uint32_t remaining = RemainingTtl(entry, now);
        if (remaining == 0) {
            continue;
        }
        size_t grown =
            DnsAppendKnownAnswer(packet, length, capacity, nameOffset, kDnsTypePtr, remaining, entry.target);
        if (grown == 0) {
            break;  // full: the rest answer again, which costs only their answers
        }
        length = grown;
    }
    return length;
}

void MdnsClientForgetKnownAnswers(ULONG interfaceIndex, PCWSTR question, PCWSTR answer)
{
    char text[kDnsNameTextCapacity * 4];
    char questionName[kDnsNameTextCapacity];
    char answerName[kDnsNameTextCapacity];
    if (question == nullptr ||
        WideCharToMultiByte(CP_UTF8, 0, question, -1, text, int(sizeof(text)), nullptr, nullptr) == 0 ||
        !DnsCanonicalName(text, questionName, sizeof(questionName))) {
        return;
    }
    if (answer != nullptr &&
        (WideCharToMultiByte(CP_UTF8, 0, answer, -1, text, int(sizeof(text)), nullptr, nullptr) == 0 ||
         !DnsCanonicalName(text, answerName, sizeof(answerName)))) {
        return;
    }
    g_lock.Acquire();
    for (KnownAnswer& entry : g_known) {
        if (Matches(entry, interfaceIndex, questionName) &&
            (answer == nullptr || DnsNamesEqual(entry.target, answerName))) {
            entry.used = false;
        }
    }
    g_lock.Release();
}
