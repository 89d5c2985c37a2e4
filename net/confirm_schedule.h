// When a device that has stopped answering the broadcast requests is asked
// directly, with auto-refresh on, before its row expires: its row goes
// kDeviceExpiryMs after the answer last posted for it, so in the last second
// before that it gets unicast requests of its own. A row then goes only when
// these go unanswered too. The requests go out within the bounds of
// direct_request_limit.h. Pure: times are GetTickCount values the caller
// passes in.
//
// With 20 % loss each way a request brings no answer 36 % of the time. In
// the 3 s after a posted answer the broadcasts give a device about four more
// chances (the answer to the next request is held back, see
// recent_senders.h), which all fail 0.36^4 = 1.7 % of the time: that was how
// often a row of a device that kept answering went. Eight direct requests
// make it 0.36^12, three thousand times rarer (measured with 250 devices,
// five left a tenth of the removals). With no loss a device is never 2 s
// without a posted answer, so none is asked; with 20 % loss about one in
// eight is asked in each 3 s.
#pragma once

#include <windows.h>
#include <stdint.h>

// Asked at 2.0, 2.125, ... 2.875 s after its answer last posted: an answer
// comes back within a few milliseconds, before the next request, and the
// answer to the last one still comes before the row's 3 s are up.
constexpr DWORD kConfirmFirstMs = 2000;
constexpr DWORD kConfirmIntervalMs = 125;
constexpr uint32_t kConfirmRequests = 8;

constexpr DWORD kNoConfirmationDue = INFINITE;

// Milliseconds until the next direct request is due for a sender whose answer
// was posted sincePostMs ago and that has been asked asked times since (0:
// due now), or kNoConfirmationDue when all are spent.
DWORD MsUntilConfirmation(DWORD sincePostMs, uint32_t asked);

// The number of requests counted as asked after one sent sincePostMs after
// the post: those whose times have passed, so a late worker sends once for
// them all instead of a burst.
uint32_t AskedAfterConfirmation(DWORD sincePostMs);
