// The receive worker's hold of repeats at the ARP gate's post, and the
// cheap check before an answer enters the gate.
#include "net/answer_hold.h"

#include <string.h>

#include "net/discovery_events.h"

void InitAnswerHold(AnswerHold* hold, bool (*post)(DeviceRecord* record))
{
    ForgetRecentSenders(&hold->recent);
    hold->holdMs = kUnchangedAnswerPostMs;
    hold->post = post;
}

bool PostUnlessRepeat(void* context, uint32_t sender, DeviceRecord* record)
{
    AnswerHold* hold = static_cast<AnswerHold*>(context);
    if (!AnswerIsDue(&hold->recent, sender, AnswerFingerprint(record), record->lastSeen, hold->holdMs)) {
        NoteAnswerFate(record->heardOn, sender, diag::kAnswersHeldBack);
        FreeDeviceRecord(record);
        return false;
    }
    uint32_t heardOn = record->heardOn;  // the record is the window's once posted
    bool posted = hold->post(record);
    if (posted) {
        NoteAnswerFate(heardOn, sender, diag::kAnswersListed);
    }
    return posted;
}

void OfferToArpGate(ArpGate* gate, AnswerHold* hold, uint32_t sender, const DeviceRecord& parsed, DWORD now)
{
    // Judged on a copy: the gate judges the record itself again, perhaps
    // against a newer snapshot, and flags once set stay set.
    DeviceRecord judged;
    memcpy(&judged, &parsed, sizeof(judged));
    JudgeAgainstSnapshot(&gate->snapshot, sender, &judged);
    if (AnswerIsHeld(&hold->recent, sender, AnswerFingerprint(&judged), judged.lastSeen, hold->holdMs)) {
        NoteAnswerFate(parsed.heardOn, sender, diag::kAnswersHeldBack);
        return;
    }
    DeviceRecord* record = AllocateDeviceRecord();
    if (record == nullptr) {
        return;
    }
    memcpy(record, &parsed, sizeof(parsed));
    SubmitToArpGate(gate, sender, record, now);
}
