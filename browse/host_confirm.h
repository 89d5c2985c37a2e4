// With auto-refresh, a listed host that has not answered for a while is
// asked for its address directly before its row would expire: an A
// question for "host.local" (hosts are listed under their name in the
// browse's domain), again every kConfirmIntervalMs until the row's last
// quarter second (reported_hosts.h). An answer re-posts the host's remembered
// record, so its row stays; with none the row goes at its usual time.
// Used by the browse's thread; the answers arrive on the DNS client's.
#pragma once

#include <stdint.h>

#include "browse/query.h"

struct ReportedHosts;

enum : int {
    // Confirmation questions in flight at once per browse; a host not asked
    // for want of a slot is asked as soon as one frees (the browse wakes
    // for it), and one whose question could not start a slot's time later.
    kConfirmSlots = 32,
};

struct HostConfirmations {
    uint32_t interfaceIndex;
    mDNSQuery queries[kConfirmSlots];
    uint32_t started[kConfirmSlots];
    uint32_t lookedAt;     // the last ConfirmDueHosts
    uint32_t msUntilNext;  // from then until a question falls due or a slot frees
};

void InitHostConfirmations(HostConfirmations* confirmations, uint32_t interfaceIndex);

// Stops the questions that have had their time, then asks the hosts that
// are due, as free slots allow.
void ConfirmDueHosts(HostConfirmations* confirmations, ReportedHosts* hosts, uint32_t now);

// How long the browse may wait before it must call ConfirmDueHosts again
// (INFINITE when nothing falls due), so that questions go on time rather
// than at the browse's next cycle.
uint32_t MsUntilConfirmationsDue(const HostConfirmations* confirmations, uint32_t now);

// Stops every question; no answer of them runs once it returns.
void StopConfirmations(HostConfirmations* confirmations);
