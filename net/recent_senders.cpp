// The receive worker's bounded table of the answers it last posted, per
// sender, the rule that holds back a repeated answer, and the walk that
// finds the senders due a direct request.
#include "net/recent_senders.h"

#include <string.h>

namespace {

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

uint64_t MixText(uint64_t hash, const wchar_t* text, size_t capacity)
{
    // The terminator is mixed in too, so that "ab" + "c" and "a" + "bc"
    // differ; a text that fills its field ends at the field.
    for (size_t i = 0; i < capacity; ++i) {
        uint16_t unit = static_cast<uint16_t>(text[i]);
        hash = (hash ^ (unit & 0xFFu)) * kFnvPrime;
        hash = (hash ^ (unit >> 8)) * kFnvPrime;
        if (unit == 0) {
            break;
        }
    }
    return hash;
}

uint32_t SetOf(uint32_t address)
{
    // Multiplicative hashing: neighbours on one subnet spread over the sets.
    return (address * 2654435761u) >> 25;  // top 7 bits: kRecentSenderSets
}

static_assert(kRecentSenderSets == 128, "SetOf takes the top 7 bits");

}  // namespace

void ForgetRecentSenders(RecentSenders* table)
{
    memset(table, 0, sizeof(*table));
}

uint64_t AnswerFingerprint(const DeviceRecord* record)
{
    uint64_t hash = kFnvOffset;
    hash = (hash ^ static_cast<uint32_t>(record->state)) * kFnvPrime;
    hash = MixText(hash, record->name, kNameChars);
    hash = MixText(hash, record->macText, kMacTextChars);
    hash = MixText(hash, record->description, kDescriptionChars);
    hash = MixText(hash, record->portText, kPortTextChars);
    // The ARP column too: a new judgement of the same answer is news.
    hash = (hash ^ static_cast<uint32_t>(record->arpConfirmed != 0 ? 1 : 0)) * kFnvPrime;
    hash = (hash ^ static_cast<uint32_t>(record->arpMismatch != 0 ? 1 : 0)) * kFnvPrime;
    return hash;
}

namespace {

RecentSender* FindSender(RecentSenders* table, uint32_t sender)
{
    RecentSender* set = table->slots[SetOf(sender)];
    for (uint32_t way = 0; way < kRecentSenderWays; ++way) {
        if (set[way].used && set[way].address == sender) {
            return &set[way];
        }
    }
    return nullptr;
}

bool Holds(const RecentSender* slot, uint64_t fingerprint, DWORD now, DWORD holdMs)
{
    return slot != nullptr && slot->fingerprint == fingerprint &&
           (holdMs == kHoldUntilForgotten || now - slot->postedTick < holdMs);
}

}  // namespace

bool AnswerIsHeld(RecentSenders* table, uint32_t sender, uint64_t fingerprint, DWORD now, DWORD holdMs)
{
    return Holds(FindSender(table, sender), fingerprint, now, holdMs);
}

bool AnswerIsDue(RecentSenders* table, uint32_t sender, uint64_t fingerprint, DWORD now,
                 DWORD holdMs)
{
    RecentSender* set = table->slots[SetOf(sender)];
    RecentSender* slot = FindSender(table, sender);
    if (Holds(slot, fingerprint, now, holdMs)) {
        return false;
    }
    if (slot == nullptr) {
        // A free way, or else the one posted longest ago gives way.
        slot = &set[0];
        for (uint32_t way = 0; way < kRecentSenderWays && slot->used; ++way) {
            if (!set[way].used || now - set[way].postedTick > now - slot->postedTick) {
                slot = &set[way];
            }
        }
    }
    slot->used = true;
    slot->address = sender;
    slot->fingerprint = fingerprint;
    slot->postedTick = now;
    slot->confirmationsSent = 0;
    return true;
}

int TakeDueConfirmations(RecentSenders* table, DWORD now, uint32_t* senders, int capacity,
                         DWORD* untilNextMs)
{
    int taken = 0;
    DWORD next = kNoConfirmationDue;
    for (uint32_t set = 0; set < kRecentSenderSets; ++set) {
        for (uint32_t way = 0; way < kRecentSenderWays; ++way) {
            RecentSender& slot = table->slots[set][way];
            if (!slot.used) {
                continue;
            }
            DWORD since = now - slot.postedTick;
            DWORD until = MsUntilConfirmation(since, slot.confirmationsSent);
            if (until == 0 && taken < capacity) {
                senders[taken++] = slot.address;
                slot.confirmationsSent = AskedAfterConfirmation(since);
                until = MsUntilConfirmation(since, slot.confirmationsSent);
            }
            next = until < next ? until : next;
        }
    }
    *untilNextMs = next;
    return taken;
}
