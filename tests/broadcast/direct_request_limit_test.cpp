// The bounds on direct requests: whatever falls due, at most eight to one
// address in any 3 s and at most 64 a second in all, each address and the
// rate used to the full, and the oldest waiting request giving way.
#include <gtest/gtest.h>

#include <vector>

#include "broadcast/test_addresses.h"
#include "net/direct_request_limit.h"

namespace {

struct Sent {
    uint32_t address;
    DWORD tick;
};

// Most requests within any span of ms, to one address or (address 0) to all.
size_t MostWithin(const std::vector<Sent>& sent, DWORD ms, uint32_t address)
{
    size_t most = 0;
    for (size_t first = 0; first < sent.size(); ++first) {
        size_t count = 0;
        for (size_t i = first; i < sent.size() && sent[i].tick - sent[first].tick < ms; ++i) {
            count += address == 0 || sent[i].address == address ? 1 : 0;
        }
        most = count > most ? count : most;
    }
    return most;
}

struct Stream {
    const char* label;
    uint32_t addresses;  // 10.0.x.y, all due again every dueEveryMs
    DWORD dueEveryMs;
    DWORD seconds;
    size_t expectedSent;
};

TEST(DirectRequestLimit, BoundsHoldWhateverFallsDueAndAreUsedToTheFull)
{
    const std::vector<Stream> streams = {
        // Eight at once, then nothing until the first is 3 s old.
        {"one address due every 10 ms", 1, 10, 9, 24},
        // The rate, not the addresses, bounds a flood of forged answers.
        {"512 addresses due every 125 ms", 512, 125, 5, 5 * kDirectRequestsPerSecond},
    };
    for (const Stream& stream : streams) {
        SCOPED_TRACE(stream.label);
        DirectRequestLimit limit;
        InitDirectRequestLimit(&limit);
        std::vector<Sent> sent;
        const DWORD start = 0xFFFFF000u;  // across the tick wrap
        for (DWORD ms = 0; ms < stream.seconds * 1000; ms += 5) {
            DWORD now = start + ms;
            if (ms % stream.dueEveryMs == 0) {
                for (uint32_t a = 0; a < stream.addresses; ++a) {
                    QueueDirectRequest(&limit, Ipv4(10, 0, a / 256, a % 256));
                }
            }
            uint32_t taken[32];
            DWORD untilNext = 0;
            int count = TakeSendableRequests(&limit, now, taken, 32, &untilNext);
            for (int i = 0; i < count; ++i) {
                sent.push_back({taken[i], now});
            }
        }
        EXPECT_EQ(sent.size(), stream.expectedSent);
        EXPECT_LE(MostWithin(sent, 1000, 0), kDirectRequestsPerSecond);
        for (uint32_t a = 0; a < stream.addresses; ++a) {
            ASSERT_LE(MostWithin(sent, kDirectRequestWindowMs, Ipv4(10, 0, a / 256, a % 256)),
                      kDirectRequestsPerAddress);
        }
    }
}

TEST(DirectRequestLimit, TheOldestWaitingGivesWayAndTheWaitEndsWhenTheRateAllows)
{
    DirectRequestLimit limit;
    InitDirectRequestLimit(&limit);
    const uint32_t kQueued = kDirectRequestsWaiting + 6;
    for (uint32_t a = 0; a < kQueued; ++a) {
        QueueDirectRequest(&limit, Ipv4(10, 0, 0, a));
    }
    QueueDirectRequest(&limit, Ipv4(10, 0, 0, kQueued - 1));  // waits once only
    std::vector<uint32_t> taken(kQueued);
    DWORD untilNext = 0;
    ASSERT_EQ(TakeSendableRequests(&limit, 1000, taken.data(), static_cast<int>(kQueued), &untilNext),
              static_cast<int>(kDirectRequestsWaiting));
    EXPECT_EQ(taken[0], Ipv4(10, 0, 0, 6)) << "the six oldest gave way";
    EXPECT_EQ(untilNext, INFINITE) << "none waits";

    QueueDirectRequest(&limit, Ipv4(10, 0, 1, 1));
    EXPECT_EQ(TakeSendableRequests(&limit, 1400, taken.data(), 1, &untilNext), 0);
    EXPECT_EQ(untilNext, 600u) << "the rate is spent until the first is a second old";
    EXPECT_EQ(TakeSendableRequests(&limit, 2000, taken.data(), 1, &untilNext), 1);
    EXPECT_EQ(taken[0], Ipv4(10, 0, 1, 1));
}

}  // namespace
