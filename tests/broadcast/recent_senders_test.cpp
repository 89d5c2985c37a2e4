// The rule that holds back a broadcast answer repeating one posted less than
// a second ago: what counts as a change, when a repeat goes out again, and
// that no table state, a flood of made-up senders included, delays a
// device's post past a second.
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

struct Step {
    const char* label;
    uint32_t sender;
    DeviceRecord answer;
    DWORD now;
    bool posted;
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
    };
    RecentSenders table;
    ForgetRecentSenders(&table);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        EXPECT_EQ(AnswerIsDue(&table, step.sender, AnswerFingerprint(&step.answer), step.now),
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
        EXPECT_TRUE(AnswerIsDue(&table, senders[i], fingerprint, DWORD(1000 + 10 * i)));
    }
    // All within the interval: only a sender that lost its place is posted.
    const DWORD later = 1100;
    EXPECT_FALSE(AnswerIsDue(&table, senders.back(), fingerprint, later)) << "the newest is held";
    EXPECT_TRUE(AnswerIsDue(&table, senders[0], fingerprint, later)) << "the oldest gave way";
    EXPECT_TRUE(AnswerIsDue(&table, senders[1], fingerprint, later)) << "its return pushed out the next oldest";
    EXPECT_FALSE(AnswerIsDue(&table, senders[kRecentSenderWays - 1], fingerprint, later)) << "a younger one stays";
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
        AnswerIsDue(table.get(), spoofed, fingerprint, ms);
        for (int d = 0; d < kDevices; ++d) {
            if ((ms + 7 * static_cast<DWORD>(d)) % 500 != 0) {
                continue;
            }
            if (AnswerIsDue(table.get(), Ipv4(192, 168, 1, 100 + d), fingerprint, ms)) {
                DWORD gap = ms - lastPost[d];
                longestGap = gap > longestGap && ms > 1000 ? gap : longestGap;
                lastPost[d] = ms;
            }
        }
    }
    EXPECT_LE(longestGap, kUnchangedAnswerPostMs + 500);
}

}  // namespace
