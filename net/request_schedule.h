// When the transmit worker sends the broadcast request: a pass of repeats
// after a Refresh, the start and a change of subnet, and with auto-refresh
// on one request every half second outside a pass. Pure: the caller passes
// the time (GetTickCount values), so tests drive it with a clock of their own.
#pragma once

#include <windows.h>
#include <stdint.h>

// Offsets of a pass's requests from its start. One request reaches a device
// and brings its answer back with probability (1 - loss)^2: with 20 % loss
// each way a device is missed by one request 36 % of the time, by k in a row
// 0.36^k. Nine requests by 2.6 s leave 255 x 0.36^9 = 0.025 devices of 255
// unlisted on average: all 255 are listed within 3 s in about 97 % of
// Refreshes (eight requests measured 8 of 10), three or more missed about
// once in 300,000. With 5 % loss each way (9.75 % a round trip) the five
// requests by 1.2 s leave 255 x 0.0975^5 = 0.002 missed: all listed within
// 1.5 s. The pauses are 0.3 s at first: every device answers every request
// at once, and the receive worker must have read one burst of answers (and
// the window listed them) before the next comes, or the socket's buffer
// overflows and the repeats slow the first listing. They then grow, so
// that a pass ends by 2.6 s and the last answers are listed within 3 s.
constexpr DWORD kPassOffsetsMs[] = {0, 300, 600, 900, 1200, 1500, 1850, 2200, 2600};
constexpr uint32_t kPassRequests = sizeof(kPassOffsetsMs) / sizeof(kPassOffsetsMs[0]);

// With auto-refresh on, outside a pass, requests are this far apart.
constexpr DWORD kAutoRefreshIntervalMs = 500;

// MsUntilNextRequest's answer when only a trigger can bring a request.
constexpr DWORD kNoRequestDue = INFINITE;

struct RequestSchedule {
    bool inPass;
    DWORD passStart;
    uint32_t passSent;  // offsets of the pass used up, sent or skipped
    bool sentAny;
    DWORD lastSent;
};

void InitRequestSchedule(RequestSchedule* schedule);

// A trigger: a new pass begins at now (a pass under way starts over).
void StartRequestPass(RequestSchedule* schedule, DWORD now);

// Milliseconds from now until the next request is due (0: due now), or
// kNoRequestDue.
DWORD MsUntilNextRequest(const RequestSchedule* schedule, DWORD now, bool autoRefresh);

// True when a request is due at now; it then counts as sent at now. A pass
// whose worker woke late sends once for all the offsets already passed, so
// that requests never go out back to back.
bool TakeDueRequest(RequestSchedule* schedule, DWORD now, bool autoRefresh);
