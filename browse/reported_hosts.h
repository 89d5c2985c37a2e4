// Keeps devices found by multicast DNS listed while auto-refresh is on.
//
// Listed rows expire 3 s after their last record, but a browse resolves and
// reports each host only once per call, one instance at a time, so with many
// devices a full report comes round far less often than that. Each interface's
// worker therefore remembers the last record it posted for every host; any
// later browse answer from that host (same name, same address) posts a copy
// with a fresh lastSeen, at most once per kRefreshIntervalMs. The window's
// merge then only refreshes the row. A host that stays quiet (its answers
// lost, or held back by the known answers of the browse question) is asked
// directly before its row would expire (host_confirm.h).
//
// Written by the worker (after each full report, and when it asks a host),
// read by the DNS client's thread (on each answer): guarded by the table's
// own lock.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <memory>

#include "core/device_record.h"
#include "browse/host_name.h"
#include "browse/name_index.h"

// Refreshing an answer at most this often keeps rows well inside their 3 s.
constexpr uint32_t kRefreshIntervalMs = 800;

// A listed row goes this long after its last post (the window's expiry).
// A host that has not been posted for kConfirmAfterMs is asked for its
// address (host_confirm.h) every kConfirmIntervalMs, kConfirmQuestions
// times, the last answered before its row would go. With 20 % loss each way
// a question brings no answer 36 % of the time: the questions of the row's
// last second (at most four, often two at the browse's pace) all failed
// often enough to remove about ten rows a minute of 30 devices that still
// answered; seven all fail 0.08 % of the time. The first waits until the answer to the browse
// question asked every second is overdue, so that with no loss hosts are
// seldom asked.
constexpr uint32_t kRowLifeMs = 3000;
constexpr uint32_t kConfirmAfterMs = 1250;
constexpr uint32_t kConfirmIntervalMs = 250;
constexpr uint32_t kConfirmQuestions = 7;
static_assert(kConfirmAfterMs + kConfirmQuestions * kConfirmIntervalMs <= kRowLifeMs,
              "the last question is asked before the row goes");
// A host whose last full report is older than this is not refreshed any
// more: it must pass the vendor and address checks again now and then.
constexpr uint32_t kForgetReportedAfterMs = 60000;

// A host that has not been fully reported for this long is let through the
// browse filter again at its next answer, so that a full report renews it
// well before it would be forgotten, even when the browse that reported it
// never ends (a queue kept busy by a flood of hostile answers).
constexpr uint32_t kRenewReportAfterMs = kForgetReportedAfterMs / 2;

// Hosts one interface remembers; beyond that the oldest give way (and are
// then kept fresh only by their full reports).
constexpr uint32_t kMaxReportedHosts = 1024;

struct ReportedHost {
    DeviceRecord record;    // a copy of the last record posted by a full report
    uint32_t address;       // network byte order
    uint32_t reportedTick;  // the last full report
    uint32_t postedTick;    // the last post, full report or refresh
    uint32_t asked;         // confirmation questions due since postedTick that have had their turn
};

struct ReportedHosts {
    CRITICAL_SECTION lock;
    NameIndex names;  // host name, with the address as its tag
    std::unique_ptr<std::unique_ptr<ReportedHost>[]> hosts;  // one per slot of names; null where free
    uint32_t confirmCursor;  // the slot the next look for hosts to confirm starts at
};

void InitReportedHosts(ReportedHosts* table);
// Frees every node; no browse may use the table any more.
void ReleaseReportedHosts(ReportedHosts* table);

// Remembers a copy of a record that a full report has just posted. Also
// drops hosts that have not been fully reported for a long time.
void RememberReportedHost(ReportedHosts* table, const DeviceRecord* record, uint32_t address,
                          uint32_t now);

// A full report ignored this host (not the maker's, or no MAC address):
// stop keeping its old row alive.
void ForgetReportedHost(ReportedHosts* table, const wchar_t* hostName, uint32_t address);

// True when that host is remembered but its last full report is older than
// kRenewReportAfterMs.
bool ReportedHostNeedsRenewal(ReportedHosts* table, const wchar_t* ownerName, uint32_t address,
                              uint32_t now);

// An answer named ownerName (an A record's owner) at address. Posts a copy of
// that host's remembered record with a fresh lastSeen when it is due.
// Returns true when a copy was posted.
bool RefreshReportedHost(ReportedHosts* table, const wchar_t* ownerName, uint32_t address,
                         uint32_t now);

// Up to `capacity` hosts due to be asked whether they are still there: not
// posted for kConfirmAfterMs, with a question of their schedule due (one
// for all that a late caller missed). Returns how many; their host names go
// to names (each kDnsNameChars wide). Each look starts where the last one
// stopped, so that every due host has its turn. *msUntilNext: how long until
// the next question of any host falls due, not counting the due hosts left
// for want of room (INFINITE when no host has one left). Each taken host's
// question counts as asked; hostSlots, when given, receives where each one
// is kept, for HostQuestionNotAsked.
int TakeHostsToConfirm(ReportedHosts* table, uint32_t now, wchar_t (*names)[kDnsNameChars], int capacity,
                       uint32_t* msUntilNext, uint32_t* hostSlots = nullptr);

// The question of a host taken at that slot could not start: it does not
// count as asked, so the host is due again at the next look. Nothing
// changes when the host has answered since, or gave way to another.
void HostQuestionNotAsked(ReportedHosts* table, uint32_t hostSlot, const wchar_t* hostName);
