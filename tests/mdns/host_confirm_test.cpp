// The confirmation questions of quiet listed hosts over the fake DNS client,
// on a clock the test sets.
#include <gtest/gtest.h>

#include <string>

#include "browse/client_choice.h"
#include "browse/host_confirm.h"
#include "browse/reported_hosts.h"
#include "mdns/fake_dns_client.h"

namespace {

class HostConfirm : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDnsClientChoice();
        InitReportedHosts(&hosts_);
        InitHostConfirmations(&confirmations_, 7);
    }
    void TearDown() override
    {
        StopConfirmations(&confirmations_);
        ReleaseReportedHosts(&hosts_);
    }

    // Hosts h0, h1, ... listed at t0.
    void ListHosts(int count)
    {
        DeviceRecord record = {};
        for (int i = 0; i < count; ++i) {
            wsprintfW(record.name, L"h%d", i);
            RememberReportedHost(&hosts_, &record, kAddress, t0_);
        }
    }

    const uint32_t kAddress = Ipv4(192, 168, 77, 20);
    const uint32_t t0_ = 0xFFFFF000u;  // across the wrap of the tick counter
    const uint32_t t1_ = t0_ + kConfirmAfterMs;  // every listed host is due
    FakeDnsClient fake_;
    ReportedHosts hosts_;
    HostConfirmations confirmations_;
};

// One host more than the slots: once the asked hosts have answered, the one
// left out is due as soon as a slot frees, not at the browse's next cycle.
TEST_F(HostConfirm, AHostLeftForWantOfASlotIsAskedWhenOneFrees)
{
    ListHosts(kConfirmSlots + 1);
    ConfirmDueHosts(&confirmations_, &hosts_, t1_);
    ASSERT_EQ(fake_.Running(), kConfirmSlots);
    for (const FakeQuery& query : fake_.Queries()) {
        RefreshReportedHost(&hosts_, query.name.c_str(), kAddress, t1_ + 50);
    }
    ConfirmDueHosts(&confirmations_, &hosts_, t1_ + 50);
    EXPECT_LE(MsUntilConfirmationsDue(&confirmations_, t1_ + 50), kConfirmIntervalMs - 50);
    ConfirmDueHosts(&confirmations_, &hosts_, t1_ + kConfirmIntervalMs);
    EXPECT_EQ(fake_.Queries().size(), size_t(kConfirmSlots + 1));
}

// A question the client refuses to start is not counted as asked: the host
// is asked at the next look, before its next question would be due.
TEST_F(HostConfirm, AQuestionThatCouldNotStartIsNotCountedAsAsked)
{
    ListHosts(1);
    struct Step {
        uint32_t at;
        DNS_STATUS startStatus;
        LONG attempts;  // so far
        size_t asked;   // so far
    };
    const Step steps[] = {
        {t1_, ERROR_TOO_MANY_CMDS, 1, 0},
        {t1_ + 100, 0, 2, 1},
    };
    for (const Step& step : steps) {
        fake_.startStatus = step.startStatus;
        ConfirmDueHosts(&confirmations_, &hosts_, step.at);
        EXPECT_EQ(fake_.startAttempts, step.attempts) << step.at - t1_;
        EXPECT_EQ(fake_.Queries().size(), step.asked) << step.at - t1_;
    }
}

}  // namespace
