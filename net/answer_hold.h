// The hold of unchanged repeats, applied where the ARP gate posts an
// answer: an answer counts as posted only once the gate has judged and
// posted it, so one the gate dropped (a stranger over its limit, a full
// queue) leaves its next repeat free to go, and a repeat must equal the
// posted answer in its ARP marks too (see recent_senders.h for the hold).
#pragma once

#include <windows.h>
#include <stdint.h>

#include "core/device_record.h"
#include "net/arp_check.h"
#include "net/recent_senders.h"

// Owned by one receive worker, with its gate; about 12 KB.
struct AnswerHold {
    RecentSenders recent;
    DWORD holdMs;                         // kUnchangedAnswerPostMs or kHoldUntilForgotten
    bool (*post)(DeviceRecord* record);  // takes the record: PostDeviceRecord, or a test's
};

// An empty table, the hold of auto-refresh.
void InitAnswerHold(AnswerHold* hold, bool (*post)(DeviceRecord* record));

// The gate's sink (context: the AnswerHold): posts the judged record unless
// it repeats the one last posted for sender within the hold, and frees it
// otherwise. The hold counts from the record's lastSeen.
bool PostUnlessRepeat(void* context, uint32_t sender, DeviceRecord* record);

// Hands a copy of the parsed answer of sender to the gate, at now, unless
// the gate would judge it a repeat against its snapshot as it stands: a
// repeat then costs neither an allocation nor an ARP read. A record that
// cannot be allocated is skipped.
void OfferToArpGate(ArpGate* gate, AnswerHold* hold, uint32_t sender, const DeviceRecord& parsed, DWORD now);
