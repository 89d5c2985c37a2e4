// The window program's switches: what a command line asks for, and the exit
// status and boxes each switch ends with. The firewall objects are the
// doubles of tests/firewall behind the platform seam.
#include "app/command_line.h"
#include "app/launch_switch.h"
#include "core/platform.h"
#include "firewall/firewall_doubles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ParseCase {
    const wchar_t* arguments;
    LaunchRequest expected;
};

const ParseCase kParseCases[] = {
    {nullptr, LaunchRequest::OpenWindow},
    {L"  \t ", LaunchRequest::OpenWindow},
    {L" -addfirewallrule ", LaunchRequest::AddFirewallRule},
    {L"--ADDFIREWALLRULE", LaunchRequest::AddFirewallRule},
    {L"/RemoveFirewallRule", LaunchRequest::RemoveFirewallRule},
    {L"/?", LaunchRequest::ShowUsage},
    {L"AddFirewallRule", LaunchRequest::UsageError},
    {L"/AddFirewallRules", LaunchRequest::UsageError},
    {L"/AddFirewall", LaunchRequest::UsageError},
    {L"---help", LaunchRequest::UsageError},
    {L"/AddFirewallRule /RemoveFirewallRule", LaunchRequest::UsageError},
};

TEST(ParseLaunchRequestTest, ReadsTheSwitchOfEachCommandLine)
{
    for (const ParseCase& c : kParseCases) {
        EXPECT_EQ(ParseLaunchRequest(c.arguments), c.expected)
            << "arguments: \"" << (c.arguments != nullptr ? c.arguments : L"<null>") << "\"";
    }
}

class LaunchSwitchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_platform;
        g_platform.createInstance = CreateFirewallDouble;
        g_platform.messageBox = CaptureMessageBox;
        CapturedBoxes().clear();
        UseFirewallDoubles(&doubles_);
    }
    void TearDown() override
    {
        g_platform = saved_;
        UseFirewallDoubles(nullptr);
        CapturedBoxes().clear();
    }

    int Run(LaunchRequest request) { return RunLaunchSwitch(GetModuleHandleW(nullptr), request); }

    PlatformServices saved_ = {};
    FirewallDoubles doubles_;
};

TEST_F(LaunchSwitchTest, FirewallSwitchesServeBothProgramsAndExitWithTheirResult)
{
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring console(self);
    console.replace(console.rfind(L'\\') + 1, std::wstring::npos, L"NetworkDiscoveryScan.exe");

    EXPECT_EQ(Run(LaunchRequest::AddFirewallRule), 0);
    std::vector<std::wstring> applications;
    for (const std::wstring& event : doubles_.log) {
        if (event.compare(0, 21, L"rule.ApplicationName ") == 0) {
            applications.push_back(event.substr(21));
        }
    }
    EXPECT_EQ(applications, (std::vector<std::wstring>{self, console}));
    doubles_.rules.addResult = E_ACCESSDENIED;
    EXPECT_EQ(Run(LaunchRequest::AddFirewallRule), 1);

    doubles_.existingRule.values = {{L"Name", L"Announce"},
                                    {L"Grouping", L"Orvel Electronics Ltd."},
                                    {L"ApplicationName", console}};
    doubles_.rules.stored = {&doubles_.existingRule};
    doubles_.rules.removeResult = E_ACCESSDENIED;
    EXPECT_EQ(Run(LaunchRequest::RemoveFirewallRule), 1);
    doubles_.rules.removeResult = S_OK;
    EXPECT_EQ(Run(LaunchRequest::RemoveFirewallRule), 0);
    EXPECT_TRUE(doubles_.rules.stored.empty());
    doubles_.policyCreateResult = REGDB_E_CLASSNOTREG;
    EXPECT_EQ(Run(LaunchRequest::AddFirewallRule), 1);

    EXPECT_TRUE(CapturedBoxes().empty());
    EXPECT_TRUE(doubles_.AllReleased());
}

TEST_F(LaunchSwitchTest, UsageShowsTheSwitchesAndAnUnknownSwitchExitsWithTwo)
{
    EXPECT_EQ(Run(LaunchRequest::ShowUsage), 0);
    EXPECT_EQ(Run(LaunchRequest::UsageError), 2);

    ASSERT_EQ(CapturedBoxes().size(), 2u);
    for (const CapturedBox& box : CapturedBoxes()) {
        EXPECT_NE(box.text.find(L"/AddFirewallRule"), std::wstring::npos) << box.text;
        EXPECT_NE(box.text.find(L"/RemoveFirewallRule"), std::wstring::npos);
        EXPECT_EQ(box.caption, L"Network Discovery Tool");
    }
    EXPECT_EQ(CapturedBoxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(CapturedBoxes()[1].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_TRUE(doubles_.creations.empty());
}

}  // namespace
