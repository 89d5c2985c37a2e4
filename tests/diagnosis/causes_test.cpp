// The causes as a table over counters and firewall states: each scenario's
// facts in, the first cause's key out.
#include "diagnosis/report.h"

#include "facts_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using diagnosis::Tri;

struct CauseCase {
    const char* name;
    int interfaces;        // 0, 1 or 2; the second is left out by the filter
    bool linkLocal;        // the first interface's address
    bool looksVirtual;
    uint32_t sent, received, notMaker, listed, failed, mdnsHeard;
    Tri firewallOn, ourRule;
    int rows;
    const wchar_t* firstKey;  // null: no finding at all
    uint32_t firstCount;
};

const CauseCase kCases[] = {
    {"NoInterface", 0, false, false, 0, 0, 0, 0, 0, 0, Tri::kUnknown, Tri::kUnknown, 0, L"no-interface", 0},
    {"FirewallBlocked", 1, false, false, 5, 0, 0, 0, 0, 0, Tri::kYes, Tri::kNo, 0, L"firewall-blocked", 0},
    {"RulePresentNoAnswer", 1, false, false, 5, 0, 0, 0, 0, 0, Tri::kYes, Tri::kYes, 0, L"no-answer", 0},
    {"FirewallUnknownNoAnswer", 1, false, false, 5, 0, 0, 0, 0, 0, Tri::kUnknown, Tri::kUnknown, 0, L"no-answer", 0},
    {"FirewallOffNoAnswer", 1, false, false, 5, 0, 0, 0, 0, 0, Tri::kNo, Tri::kNo, 0, L"no-answer", 0},
    {"OtherMakerOnly", 1, false, false, 5, 3, 3, 0, 0, 4, Tri::kYes, Tri::kYes, 0, L"other-maker-only", 3},
    {"SubnetFilter", 2, false, false, 5, 0, 0, 0, 0, 0, Tri::kYes, Tri::kYes, 0, L"subnet-filter", 1},
    {"SubnetFilterWithRows", 2, false, false, 5, 2, 0, 2, 0, 4, Tri::kYes, Tri::kYes, 2, L"subnet-filter", 1},
    {"MulticastBlocked", 1, false, false, 5, 2, 0, 2, 0, 0, Tri::kYes, Tri::kYes, 2, L"multicast-blocked", 0},
    {"SendFailed", 1, false, false, 0, 0, 0, 0, 5, 0, Tri::kYes, Tri::kNo, 0, L"send-failed", 5},
    {"LinkLocalOnly", 1, true, false, 0, 0, 0, 0, 0, 0, Tri::kUnknown, Tri::kUnknown, 0, L"link-local-only", 0},
    {"VirtualAdapter", 1, false, true, 5, 2, 0, 2, 0, 4, Tri::kYes, Tri::kYes, 2, L"virtual-adapter", 0},
    {"NothingFound", 1, false, false, 0, 0, 0, 0, 0, 0, Tri::kUnknown, Tri::kUnknown, 0, L"nothing-found", 0},
    {"ListedNothingStandsOut", 1, false, false, 5, 2, 0, 2, 0, 4, Tri::kYes, Tri::kNo, 2, nullptr, 0},
};

class CausesTest : public ::testing::TestWithParam<CauseCase> {};

TEST_P(CausesTest, FirstCauseIsTheLikeliest)
{
    const CauseCase& c = GetParam();
    diagnosis::Facts facts = BaseFacts();
    if (c.interfaces >= 1) {
        AddInterface(&facts, "192.168.77.10");
        facts.interfaces[0].linkLocal = c.linkLocal;
        facts.interfaces[0].looksVirtual = c.looksVirtual;
        facts.counts[0].mdnsClient = diag::kMdnsClientOwn;
        SetCounts(&facts, 0, {{diag::kRequestsSent, c.sent}, {diag::kAnswersReceived, c.received},
                              {diag::kAnswersNotMaker, c.notMaker}, {diag::kAnswersListed, c.listed},
                              {diag::kRequestsFailed, c.failed}, {diag::kMdnsPacketsHeard, c.mdnsHeard}});
    }
    if (c.interfaces >= 2) {
        facts.subnetFilter = Ip("192.168.77.0");
        AddInterface(&facts, "10.77.0.10", false);
        // What the left-out interface read must not count as heard.
        SetCounts(&facts, 1, {{diag::kAnswersReceived, 9}, {diag::kMdnsPacketsHeard, 9}});
    }
    facts.firewall.enabled = c.firewallOn;
    facts.firewall.ourRule = c.ourRule;
    facts.firewall.ourRuleEnabled = c.ourRule;
    facts.rowsListed = c.rows;

    diagnosis::Report report;
    diagnosis::Diagnose(facts, &report);

    if (c.firstKey == nullptr) {
        EXPECT_EQ(report.findingCount, 0);
        return;
    }
    ASSERT_GT(report.findingCount, 0);
    EXPECT_EQ(std::wstring(diagnosis::CauseKey(report.findings[0].cause)), c.firstKey);
    EXPECT_EQ(report.findings[0].count, c.firstCount);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CausesTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CauseCase>& info) { return info.param.name; });

}  // namespace
