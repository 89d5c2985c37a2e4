// What a broadcast receive worker last posted for each recent sender, so
// that an answer that says nothing new is not posted again at once (every
// device answers every request, and under Wine each post and each list
// update is a round trip to the server); and, with auto-refresh on, which
// senders have gone quiet and are due a direct request before their rows
// expire (see confirm_schedule.h).
//
// Only posting is ever held back, and only for an answer equal to one that
// was posted less than the hold before. With auto-refresh on the hold is
// kUnchangedAnswerPostMs: the row's time is then that of an answer at most
// one request older than the device's latest, so a device that falls silent
// keeps its row about 3 s, less at most that half second; a longer hold
// would let its row go a second or more early. With it off rows never
// expire, and a repeat is held until the next Refresh, so the repeats of a
// Refresh's pass cost the window nothing. An answer counts as posted when
// the ARP gate posts it, judged: one the gate dropped (a stranger over its
// limit) leaves its repeat free to go. Anything the table cannot tell (a
// sender it does not hold, a changed answer) is posted. The table is bounded
// and a sender's place is found by hash; a flood of made-up senders can push
// real devices out, which only makes their next answers post and leaves
// them unconfirmed, as before.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "core/device_record.h"
#include "net/confirm_schedule.h"

// A little over the request interval, so that jitter never holds back two
// answers in a row.
constexpr DWORD kUnchangedAnswerPostMs = 600;
// The hold without auto-refresh: until the table is forgotten (a Refresh).
constexpr DWORD kHoldUntilForgotten = INFINITE;

// Senders are spread over sets by address; each set keeps its most recently
// posted senders.
constexpr uint32_t kRecentSenderSets = 128;
constexpr uint32_t kRecentSenderWays = 4;

struct RecentSender {
    uint64_t fingerprint;  // of the answer last posted
    uint32_t address;      // network byte order
    DWORD postedTick;
    uint32_t confirmationsSent;  // direct requests since postedTick
    bool used;
};

// Owned by one receive worker; about 12 KB.
struct RecentSenders {
    RecentSender slots[kRecentSenderSets][kRecentSenderWays];
};

// Empties the table: every sender's next answer is posted.
void ForgetRecentSenders(RecentSenders* table);

// Sums up what the window shows of an answer (its texts, state and ARP
// marks); the
// sender's address is kept apart. Equal answers have equal fingerprints; a
// different answer with the same fingerprint is posted within
// kUnchangedAnswerPostMs all the same.
uint64_t AnswerFingerprint(const DeviceRecord* record);

// True when the answer of sender with this fingerprint, heard at now (a
// GetTickCount value), is to be posted: it differs from the one last posted
// or that one is holdMs or more old. It then counts as posted at now.
bool AnswerIsDue(RecentSenders* table, uint32_t sender, uint64_t fingerprint, DWORD now,
                 DWORD holdMs);

// Whether AnswerIsDue would say false, without counting anything: lets a
// repeat be dropped before it costs an allocation or an ARP read.
bool AnswerIsHeld(RecentSenders* table, uint32_t sender, uint64_t fingerprint, DWORD now, DWORD holdMs);

// Puts into senders (room for capacity) the senders due a direct request at
// now, and counts it as sent; returns how many. *untilNextMs is set to the
// milliseconds until the next one is due (0 when some did not fit), or
// kNoConfirmationDue.
int TakeDueConfirmations(RecentSenders* table, DWORD now, uint32_t* senders, int capacity,
                         DWORD* untilNextMs);
