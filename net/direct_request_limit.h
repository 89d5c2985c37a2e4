// The bounds on the direct requests one receive worker sends to devices that
// have gone quiet (see confirm_schedule.h), which hold whatever arrives. An
// answer forged with the address of a neighbour and a new text each time
// starts that sender's schedule over, so without bounds a stream of them
// from many addresses turns the program into a sender of requests to
// addresses of a stranger's choice. With them: at most
// kDirectRequestsPerAddress to one address in any kDirectRequestWindowMs,
// and at most kDirectRequestsPerSecond in all; requests due beyond the rate
// wait, and when too many wait the oldest gives way.
//
// The per-address count comes from a log of the requests sent, not from the
// sender table: that table is bounded and forgets senders under a flood, and
// a sender it takes in again must not get a fresh share. Pure: times are
// GetTickCount values the caller passes in.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

constexpr uint32_t kDirectRequestsPerAddress = 8;
constexpr DWORD kDirectRequestWindowMs = 3000;
constexpr uint32_t kDirectRequestsPerSecond = 64;
// The rate allows no more than this within one window, so the log holds
// every request the per-address count needs.
constexpr size_t kDirectRequestLogEntries = kDirectRequestsPerSecond * (kDirectRequestWindowMs / 1000);
// A second's worth at the rate: a request waits at most about that long.
constexpr size_t kDirectRequestsWaiting = kDirectRequestsPerSecond;

struct SentDirectRequest {
    uint32_t address;  // network byte order
    DWORD tick;
};

// Owned by one receive worker; about 2 KB.
struct DirectRequestLimit {
    SentDirectRequest sent[kDirectRequestLogEntries];  // a ring in the order sent
    size_t sentNext;                                    // where the next one goes
    size_t sentCount;
    uint32_t waiting[kDirectRequestsWaiting];  // a ring, oldest at waitingFirst
    size_t waitingFirst;
    size_t waitingCount;
};

void InitDirectRequestLimit(DirectRequestLimit* limit);

// A request due to address: it waits for TakeSendableRequests. One that
// already waits for the address is not queued twice; when the queue is full
// the oldest waiting request is dropped.
void QueueDirectRequest(DirectRequestLimit* limit, uint32_t address);

// Takes, oldest first, the waiting requests that may go at now into
// addresses (room for capacity) and logs them as sent; one whose address has
// had its share of the window is dropped. Returns how many were taken.
// *untilNextMs is set to the milliseconds until the rate lets the next
// waiting request go (0 when some did not fit), or INFINITE when none waits.
int TakeSendableRequests(DirectRequestLimit* limit, DWORD now, uint32_t* addresses, int capacity,
                         DWORD* untilNextMs);
