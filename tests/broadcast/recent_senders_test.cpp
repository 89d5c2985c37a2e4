// The rule that holds back a broadcast answer repeating one posted less than
// a second ago (or, without auto-refresh, until the next Refresh): what
// counts as a change, when a repeat goes out again, and that no table state,
// a flood of made-up senders included, delays a device's post past a
// second; and when a quiet sender is due a direct request.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "broadcast/test_addresses.h"
#include "core/device_record.h"
#include "core/text_copy.h"
#include "net/recent_senders.h"

namespace {

const uint32_t kDevice = Ipv4(192, 168, 1, 20);
const uint32_t kNeighbour = Ipv4(192, 168, 1, 21);

DeviceRecord Answer(const wchar_t* name, const wchar_t* mac = L"00-11-22-AA-BB-CC",
                    const wchar_t* description = L"Orvel S1", const wchar_t* port = L"80",
                    int32_t state = DeviceStateNormal)
{
    DeviceRecord record;
    memset(&record, 0, sizeof(record));
    CopyText(record.name, kNameChars, name);
    CopyText(record.macText, kMacTextChars, mac);
    CopyText(record.description, kDescriptionChars, description);
    CopyText(record.portText, kPortTextChars, port);
    record.state = state;
    return record;
}

DeviceRecord Judged(DeviceRecord record, int32_t confirmed, int32_t mismatch)
{
    record.arpConfirmed = confirmed;
    record.arpMismatch = mismatch;
    return record;
}

struct Step {
    const char* label;
    uint32_t sender;
    DeviceRecord answer;
    DWORD now;
    bool posted;
    DWORD holdMs = kUnchangedAnswerPostMs;
};

TEST(RecentSenders, RepeatsAreHeldBackForAnIntervalAndChangesGoOutAtOnce)
{
    const DeviceRecord same = Answer(L"Speaker");
    const std::vector<Step> steps = {
        {"first answer", kDevice, same, 1000, true},
        {"repeat", kDevice, same, 1500, false},
        {"another sender, same texts", kNeighbour, same, 1500, true},
        {"repeat just short of the interval", kDevice, same, 1000 + kUnchangedAnswerPostMs - 1, false},
        {"repeat an interval on", kDevice, same, 1000 + kUnchangedAnswerPostMs, true},
        {"name changed", kDevice, Answer(L"Speaker 2"), 2100, true},
        {"MAC changed", kDevice, Answer(L"Speaker", L"00-11-22-AA-BB-CD"), 2300, true},
        {"description changed", kDevice, Answer(L"Speaker", L"00-11-22-AA-BB-CC", L"Orvel S2"), 2400, true},
        {"port changed", kDevice, Answer(L"Speaker", L"00-11-22-AA-BB-CC", L"Orvel S2", L"8080"), 2500, true},
        {"state changed", kDevice,
         Answer(L"Speaker", L"00-11-22-AA-BB-CC", L"Orvel S2", L"8080", DeviceStateOtherSubnet), 2600, true},
        {"texts shifted between fields", kDevice,
         Answer(L"Speake", L"r00-11-22-AA-BB-CC", L"Orvel S2", L"8080", DeviceStateOtherSubnet), 2700, true},
        {"posted just before the tick wrap", kDevice, same, 0xFFFFFE00u, true},
        {"its repeat just before the wrap held back", kDevice, same, 0xFFFFFFF0u, false},
        {"repeat across the tick wrap", kNeighbour, same, 0xFFFFFF00u, true},
        {"held back across the wrap", kNeighbour, same, 0x00000010u, false},
        {"an interval on across the wrap", kNeighbour, same, 0xFFFFFF00u + kUnchangedAnswerPostMs, true},
        {"held until forgotten", kNeighbour, same, 0x00100000u, false, kHoldUntilForgotten},
        {"ARP now confirms it", kNeighbour, Judged(same, 1, 0), 0x00100000u, true, kHoldUntilForgotten},
        {"ARP now contradicts it", kNeighbour, Judged(same, 0, 1), 0x00100000u, true, kHoldUntilForgotten},
        {"a change is never held", kNeighbour, Answer(L"Other"), 0x00100001u, true, kHoldUntilForgotten},
    };
    RecentSenders table;
    ForgetRecentSenders(&table);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        EXPECT_EQ(AnswerIsDue(&table, step.sender, AnswerFingerprint(&step.answer), step.now,
                              step.holdMs),
                  step.posted);
    }
}

// Senders the table keeps in one set with kDevice: it spreads senders over
// its sets by a multiplicative hash of the address, whose top bits pick one.
std::vector<uint32_t> SetMates(size_t count)
{
    const uint32_t set = (kDevice * 2654435761u) >> 25;
    std::vector<uint32_t> mates;
    for (uint32_t n = 1; mates.size() < count; ++n) {
        uint32_t candidate = Ipv4(10, (n >> 16) & 255, (n >> 8) & 255, n & 255);
        if (((candidate * 2654435761u) >> 25) == set) {
            mates.push_back(candidate);
        }
    }
    return mates;
}

TEST(RecentSenders, AFullSetGivesWayOldestFirstWhileTheNewestRepeatIsHeldBack)
{
    const DeviceRecord same = Answer(L"Speaker");
    const uint64_t fingerprint = AnswerFingerprint(&same);
    const std::vector<uint32_t> senders = SetMates(kRecentSenderWays + 1);
    RecentSenders table;
    ForgetRecentSenders(&table);
    for (size_t i = 0; i < senders.size(); ++i) {
        EXPECT_TRUE(AnswerIsDue(&table, senders[i], fingerprint, DWORD(1000 + 10 * i), kUnchangedAnswerPostMs));
    }
    // All within the interval: only a sender that lost its place is posted.
    const DWORD later = 1100;
    EXPECT_FALSE(AnswerIsDue(&table, senders.back(), fingerprint, later, kUnchangedAnswerPostMs)) << "the newest is held";
    EXPECT_TRUE(AnswerIsDue(&table, senders[0], fingerprint, later, kUnchangedAnswerPostMs)) << "the oldest gave way";
    EXPECT_TRUE(AnswerIsDue(&table, senders[1], fingerprint, later, kUnchangedAnswerPostMs)) << "its return pushed out the next oldest";
    EXPECT_FALSE(AnswerIsDue(&table, senders[kRecentSenderWays - 1], fingerprint, later, kUnchangedAnswerPostMs)) << "a younger one stays";
}

TEST(RecentSenders, AFloodOfMadeUpSendersNeverDelaysARealDevice)
{
    // Real devices answer every half second, a thousand made-up senders a
    // second besides; no device may go longer than a second plus one
    // answer's interval without a post.
    std::unique_ptr<RecentSenders> table(new RecentSenders);
    ForgetRecentSenders(table.get());
    const DeviceRecord answer = Answer(L"Device");
    const uint64_t fingerprint = AnswerFingerprint(&answer);
    const int kDevices = 30;
    std::vector<DWORD> lastPost(kDevices, 0);
    DWORD longestGap = 0;
    for (DWORD ms = 0; ms < 20000; ++ms) {
        uint32_t spoofed = Ipv4(10, ms / 65536, ms / 256 % 256, ms % 256);
        AnswerIsDue(table.get(), spoofed, fingerprint, ms, kUnchangedAnswerPostMs);
        for (int d = 0; d < kDevices; ++d) {
            if ((ms + 7 * static_cast<DWORD>(d)) % 500 != 0) {
                continue;
            }
            if (AnswerIsDue(table.get(), Ipv4(192, 168, 1, 100 + d), fingerprint, ms,
                            kUnchangedAnswerPostMs)) {
                DWORD gap = ms - lastPost[d];
                longestGap = gap > longestGap && ms > 1000 ? gap : longestGap;
                lastPost[d] = ms;
            }
        }
    }
    EXPECT_LE(longestGap, kUnchangedAnswerPostMs + 500);
}

// A sender posted at 1000 that falls silent is asked at 3000, 3125, ...,
// 3875 and no more; one that keeps answering is not asked until it stops.
TEST(RecentSenders, AQuietSenderIsAskedInTheSecondBeforeItsRowExpires)
{
    RecentSenders table;
    ForgetRecentSenders(&table);
    const DeviceRecord answer = Answer(L"Device");
    const uint64_t fingerprint = AnswerFingerprint(&answer);
    ASSERT_TRUE(AnswerIsDue(&table, kDevice, fingerprint, 1000, kUnchangedAnswerPostMs));
    std::vector<DWORD> asked;
    std::vector<DWORD> neighbourAsked;
    DWORD lastWait = 0;
    for (DWORD now = 1000; now <= 9000; now += 10) {
        if (now % 1000 == 0 && now <= 6000) {  // answers once a second until 6000
            AnswerIsDue(&table, kNeighbour, fingerprint, now, kUnchangedAnswerPostMs);
        }
        uint32_t due[4];
        DWORD untilNext = 0;
        int count = TakeDueConfirmations(&table, now, due, 4, &untilNext);
        for (int i = 0; i < count; ++i) {
            (due[i] == kDevice ? asked : neighbourAsked).push_back(now);
        }
        if (now == 2500) {
            lastWait = untilNext;
        }
    }
    EXPECT_EQ(asked, (std::vector<DWORD>{3000, 3130, 3250, 3380, 3500, 3630, 3750, 3880}));
    EXPECT_EQ(neighbourAsked, (std::vector<DWORD>{8000, 8130, 8250, 8380, 8500, 8630, 8750, 8880}));
    EXPECT_EQ(lastWait, 500u) << "the wait ends when the first request is due";

    // A late worker asks once for the requests it missed; a posted answer
    // starts the schedule over.
    ForgetRecentSenders(&table);
    ASSERT_TRUE(AnswerIsDue(&table, kDevice, fingerprint, 1000, kUnchangedAnswerPostMs));
    uint32_t due[4];
    DWORD untilNext = 0;
    EXPECT_EQ(TakeDueConfirmations(&table, 3300, due, 4, &untilNext), 1);
    EXPECT_EQ(untilNext, 75u);
    EXPECT_EQ(TakeDueConfirmations(&table, 3375, due, 4, &untilNext), 1);
    EXPECT_TRUE(AnswerIsDue(&table, kDevice, fingerprint, 3400, kUnchangedAnswerPostMs));
    EXPECT_EQ(TakeDueConfirmations(&table, 3500, due, 4, &untilNext), 0);
    EXPECT_EQ(untilNext, 1900u);
}

// More quiet senders due at once than the caller has room for: the room is
// filled, nothing is written past it, and the rest come on the next call.
TEST(RecentSenders, DueSendersBeyondTheRoomWaitForTheNextCall)
{
    const int kRoom = 32;
    const int kQuiet = kRoom + 8;
    RecentSenders table;
    ForgetRecentSenders(&table);
    const DeviceRecord answer = Answer(L"Device");
    for (int i = 0; i < kQuiet; ++i) {
        ASSERT_TRUE(AnswerIsDue(&table, Ipv4(10, 0, 0, 1 + i), AnswerFingerprint(&answer), 1000,
                                kUnchangedAnswerPostMs));
    }
    const uint32_t kSentinel = 0xDEADBEEFu;
    std::vector<uint32_t> due(kQuiet, kSentinel);
    DWORD untilNext = kNoConfirmationDue;
    const DWORD now = 1000 + kConfirmFirstMs;
    EXPECT_EQ(TakeDueConfirmations(&table, now, due.data(), kRoom, &untilNext), kRoom);
    EXPECT_EQ(due[kRoom], kSentinel) << "written past the room";
    EXPECT_EQ(untilNext, 0u) << "some did not fit";
    EXPECT_EQ(TakeDueConfirmations(&table, now, due.data(), kRoom, &untilNext), kQuiet - kRoom);
}

}  // namespace
