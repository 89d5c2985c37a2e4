// The log of the direct requests sent, the queue of those waiting, and the
// two bounds that decide which may go.
#include "net/direct_request_limit.h"

#include <string.h>

namespace {

// The request sent age places before the newest (0: the newest).
const SentDirectRequest& SentBefore(const DirectRequestLimit* limit, size_t age)
{
    return limit->sent[(limit->sentNext + kDirectRequestLogEntries - 1 - age) % kDirectRequestLogEntries];
}

// Milliseconds until one more request fits into the last second's rate.
DWORD MsUntilRateAllows(const DirectRequestLimit* limit, DWORD now)
{
    if (limit->sentCount < kDirectRequestsPerSecond) {
        return 0;
    }
    // The log is in the order sent: the request kDirectRequestsPerSecond - 1
    // places back is the oldest that can still count against the rate.
    DWORD age = now - SentBefore(limit, kDirectRequestsPerSecond - 1).tick;
    return age >= 1000 ? 0 : 1000 - age;
}

uint32_t SentWithinWindow(const DirectRequestLimit* limit, uint32_t address, DWORD now)
{
    uint32_t count = 0;
    for (size_t age = 0; age < limit->sentCount; ++age) {
        const SentDirectRequest& sent = SentBefore(limit, age);
        if (now - sent.tick >= kDirectRequestWindowMs) {
            break;  // older ones are older still
        }
        count += sent.address == address ? 1 : 0;
    }
    return count;
}

uint32_t TakeOldestWaiting(DirectRequestLimit* limit)
{
    uint32_t address = limit->waiting[limit->waitingFirst];
    limit->waitingFirst = (limit->waitingFirst + 1) % kDirectRequestsWaiting;
    --limit->waitingCount;
    return address;
}

void LogSent(DirectRequestLimit* limit, uint32_t address, DWORD now)
{
    limit->sent[limit->sentNext] = {address, now};
    limit->sentNext = (limit->sentNext + 1) % kDirectRequestLogEntries;
    if (limit->sentCount < kDirectRequestLogEntries) {
        ++limit->sentCount;
    }
}

}  // namespace

void InitDirectRequestLimit(DirectRequestLimit* limit)
{
    memset(limit, 0, sizeof(*limit));
}

void QueueDirectRequest(DirectRequestLimit* limit, uint32_t address)
{
    for (size_t i = 0; i < limit->waitingCount; ++i) {
        if (limit->waiting[(limit->waitingFirst + i) % kDirectRequestsWaiting] == address) {
            return;
        }
    }
    if (limit->waitingCount == kDirectRequestsWaiting) {
        TakeOldestWaiting(limit);
    }
    limit->waiting[(limit->waitingFirst + limit->waitingCount) % kDirectRequestsWaiting] = address;
    ++limit->waitingCount;
}

int TakeSendableRequests(DirectRequestLimit* limit, DWORD now, uint32_t* addresses, int capacity,
                         DWORD* untilNextMs)
{
    int taken = 0;
    while (limit->waitingCount > 0 && taken < capacity && MsUntilRateAllows(limit, now) == 0) {
        uint32_t address = TakeOldestWaiting(limit);
        if (SentWithinWindow(limit, address, now) >= kDirectRequestsPerAddress) {
            continue;
        }
        LogSent(limit, address, now);
        addresses[taken++] = address;
    }
    *untilNextMs = limit->waitingCount == 0 ? INFINITE : MsUntilRateAllows(limit, now);
    return taken;
}
