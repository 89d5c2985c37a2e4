// The report's formats: the texts the user is quoted, the JSON's keys and
// escaping, and the summary's bound.
#include "diagnosis/report.h"

#include "core/globals.h"
#include "facts_builder.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

class ReportFormatTest : public ::testing::Test {
protected:
    void SetUp() override { g_instance = GetModuleHandleW(nullptr); }

    // Facts of two interfaces beside the searched one, which heard nothing.
    static diagnosis::Facts Unsearched(int others)
    {
        diagnosis::Facts facts = BaseFacts();
        facts.subnetFilter = Ip("192.168.77.0");
        AddInterface(&facts, "192.168.77.10");
        SetCounts(&facts, 0, {{diag::kRequestsSent, 4}});
        const char* addresses[] = {"10.77.0.10", "172.16.0.10"};
        for (int i = 0; i < others; ++i) {
            AddInterface(&facts, addresses[i], false);
        }
        return facts;
    }

    static std::wstring Text(const diagnosis::Facts& facts, bool json)
    {
        diagnosis::Report report;
        diagnosis::Diagnose(facts, &report);
        TextBuffer out;
        InitTextBuffer(&out);
        bool ok = json ? diagnosis::FormatJson(facts, report, &out) : diagnosis::FormatText(facts, report, &out);
        std::wstring text = ok && out.text != nullptr ? std::wstring(out.text, out.length) : L"<failed>";
        FreeTextBuffer(&out);
        return text;
    }
};

struct QuotedCase {
    int unsearched;
    bool broadcastAnswers;  // with no multicast DNS packet
    bool firewallBlocks;
    const wchar_t* quoted;
};

TEST_F(ReportFormatTest, TextSaysWhatTheUserIsQuoted)
{
    const QuotedCase cases[] = {
        {1, false, false, L"1 other interface was not searched: choose All Interfaces"},
        {2, false, false, L"2 other interfaces were not searched: choose All Interfaces"},
        {0, true, false, L"multicast is blocked on this network"},
        {0, false, true, L"the answers are probably blocked: install the package or run once as administrator"},
        {0, false, false, L"\"Y\" the neighbour table agrees, \"*\" it gives another MAC or none"},
    };
    for (const QuotedCase& c : cases) {
        diagnosis::Facts facts = Unsearched(c.unsearched);
        if (c.broadcastAnswers) {
            facts.counts[0].mdnsClient = diag::kMdnsClientOwn;
            SetCounts(&facts, 0, {{diag::kAnswersReceived, 2}, {diag::kAnswersListed, 2}});
            facts.rowsListed = 2;
        }
        if (c.firewallBlocks) {
            facts.firewall.enabled = diagnosis::Tri::kYes;
            facts.firewall.ourRule = diagnosis::Tri::kNo;
        }
        EXPECT_NE(Text(facts, false).find(c.quoted), std::wstring::npos) << c.quoted;
    }
}

TEST_F(ReportFormatTest, JsonHasTheKeysAndEscapesTheText)
{
    diagnosis::Facts facts = Unsearched(0);
    wcscpy(facts.interfaces[0].description, L"Office \"LAN\"\x01\\");
    facts.firewall.enabled = diagnosis::Tri::kYes;
    facts.firewall.ourRule = diagnosis::Tri::kNo;
    std::wstring json = Text(facts, true);

    const wchar_t* expected[] = {
        L"{\"counters\":[{\"interface\":\"192.168.77.10\",",
        L"\"description\":\"Office \\\"LAN\\\"\\u0001\\\\\"",
        L"\"requestsSent\":4,",
        L"\"firewall\":{\"enabled\":\"yes\",",
        L"\"ourRule\":\"no\"",
        L"\"otherProduct\":\"unknown\"",
        L"\"causes\":[{\"key\":\"firewall-blocked\",\"text\":\"",
    };
    for (const wchar_t* piece : expected) {
        EXPECT_NE(json.find(piece), std::wstring::npos) << piece;
    }
    EXPECT_EQ(json.back(), L'}');
}

TEST_F(ReportFormatTest, SummaryNamesTheCauseWithinItsBound)
{
    diagnosis::Facts facts = Unsearched(2);
    diagnosis::Report report;
    diagnosis::Diagnose(facts, &report);

    wchar_t summary[512];
    diagnosis::FormatSummary(facts, report, summary, 512);
    EXPECT_NE(std::wstring(summary).find(L"2 other interfaces were not searched"), std::wstring::npos)
        << summary;

    wchar_t small[24];
    wmemset(small, L'x', 24);
    diagnosis::FormatSummary(facts, report, small, 20);
    EXPECT_LT(wcslen(small), 20u);
    EXPECT_EQ(small[20], L'x');
}

}  // namespace
