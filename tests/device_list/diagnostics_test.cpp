// The per-interface counters: one slot per interface address, claimed up to
// the table's bound, emptied by Reset; and the bounded event line.
#include <gtest/gtest.h>

#include <wchar.h>

#include <string>

#include "core/diagnostics.h"

namespace {

uint32_t Address(int i)
{
    return 0x0100000A + (static_cast<uint32_t>(i) << 16);  // 10.0.<i>.1 in network order
}

std::wstring g_line;
int g_lines = 0;

void KeepLine(const wchar_t* line)
{
    g_line = line;
    ++g_lines;
}

class Diagnostics : public ::testing::Test {
protected:
    void SetUp() override { diag::Reset(); }
    void TearDown() override
    {
        diag::SetEventSink(nullptr);
        diag::Reset();
    }
};

TEST_F(Diagnostics, EachInterfaceCountsInItsOwnSlotUpToTheBound)
{
    struct Case {
        int interfaces;
        int capacity;
        int expected;
    };
    const Case cases[] = {
        {1, diag::kMaxInterfaces, 1},
        {diag::kMaxInterfaces, diag::kMaxInterfaces, diag::kMaxInterfaces},
        {diag::kMaxInterfaces + 3, diag::kMaxInterfaces + 3, diag::kMaxInterfaces},  // the rest uncounted
        {5, 2, 2},                                                                   // the copy's bound
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.interfaces);
        diag::Reset();
        // Each interface twice over, so a second bump must find its slot again.
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < c.interfaces; ++i) {
                diag::Count(Address(i), diag::kAnswersListed, static_cast<uint32_t>(i + 1));
            }
        }
        diag::Count(0, diag::kAnswersListed);  // no interface: not counted
        diag::NoteSendError(Address(0), ERROR_ACCESS_DENIED);
        diag::NoteMdnsClient(Address(0), diag::kMdnsClientOwn);
        diag::InterfaceCounts counts[diag::kMaxInterfaces + 3] = {};
        int copied = diag::Snapshot(counts, c.capacity);
        ASSERT_EQ(copied, c.expected);
        for (int i = 0; i < copied; ++i) {
            EXPECT_EQ(counts[i].address, Address(i));
            EXPECT_EQ(counts[i].counts[diag::kAnswersListed], 2u * static_cast<uint32_t>(i + 1));
            EXPECT_EQ(counts[i].counts[diag::kRequestsSent], 0u);
        }
        EXPECT_EQ(counts[0].lastSendError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(counts[0].mdnsClient, diag::kMdnsClientOwn);
    }
}

TEST_F(Diagnostics, ResetFreesEverySlotAndStartsEachCountAfresh)
{
    diag::Count(Address(1), diag::kRequestsFailed);
    diag::NoteSendError(Address(1), ERROR_NETWORK_UNREACHABLE);
    diag::NoteMdnsClient(Address(1), diag::kMdnsClientSystem);
    diag::Reset();
    diag::InterfaceCounts counts[2] = {};
    EXPECT_EQ(diag::Snapshot(counts, 2), 0);

    diag::Count(Address(2), diag::kRequestsSent);
    ASSERT_EQ(diag::Snapshot(counts, 2), 1);
    EXPECT_EQ(counts[0].address, Address(2));
    EXPECT_EQ(counts[0].counts[diag::kRequestsSent], 1u);
    EXPECT_EQ(counts[0].counts[diag::kRequestsFailed], 0u);
    EXPECT_EQ(counts[0].lastSendError, 0u);
    EXPECT_EQ(counts[0].mdnsClient, diag::kMdnsClientUnknown);
}

TEST_F(Diagnostics, AnEventLineIsFormattedOnlyForASinkAndCutToItsBuffer)
{
    g_lines = 0;
    diag::Event(L"unheard %d", 1);
    EXPECT_FALSE(diag::EventsWanted());
    EXPECT_EQ(g_lines, 0);

    diag::SetEventSink(KeepLine);
    EXPECT_TRUE(diag::EventsWanted());
    diag::Event(L"request sent on %ls to %ls", L"10.0.0.1", L"10.0.0.255");
    EXPECT_EQ(g_line, L"request sent on 10.0.0.1 to 10.0.0.255");
    const std::wstring longName(4000, L'n');
    diag::Event(L"mDNS answer %ls", longName.c_str());
    EXPECT_EQ(g_lines, 2);
    EXPECT_GT(g_line.size(), 100u);
    EXPECT_LT(g_line.size(), longName.size());
    EXPECT_EQ(g_line.compare(0, 12, L"mDNS answer "), 0);
}

}  // namespace
