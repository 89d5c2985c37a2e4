// The firewall's state read over the COM doubles and a stand-in for the
// Security Center's list: what each read answers, and that nothing is
// changed and every reference is given back.
#include "core/platform.h"

#include "firewall/firewall_doubles.h"
#include "firewall/firewall_state.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

const wchar_t kPath[] = L"C:\\Program Files\\Network Discovery Tool\\NetworkDiscoveryScan.exe";

// The Security Center stand-in: what the current case answers.
HRESULT g_productsResult = S_OK;
const wchar_t* g_productNames = L"";

HRESULT ListProducts(wchar_t* names, size_t capacity, int* count)
{
    wcsncpy(names, g_productNames, capacity - 1);
    names[capacity - 1] = L'\0';
    *count = g_productNames[0] != L'\0' ? 1 : 0;
    return g_productsResult;
}

enum RuleSetUp { kNoRule, kRuleEnabled, kRuleDisabled };

struct StateCase {
    const char* name;
    HRESULT profilesResult;
    RuleSetUp rule;
    HRESULT productsResult;
    const wchar_t* products;
    FirewallAnswer enabled, ourRule, ourRuleEnabled, otherProduct;
};

constexpr FirewallAnswer kYes = FirewallAnswer::kYes;
constexpr FirewallAnswer kNo = FirewallAnswer::kNo;
constexpr FirewallAnswer kUnknown = FirewallAnswer::kUnknown;

const StateCase kCases[] = {
    // Wine: no Security Center, profiles not implemented.
    {"NothingReadable", E_NOTIMPL, kNoRule, REGDB_E_CLASSNOTREG, L"", kUnknown, kNo, kNo, kUnknown},
    {"RuleMissing", S_OK, kNoRule, S_OK, L"", kYes, kNo, kNo, kNo},
    {"RuleEnabled", S_OK, kRuleEnabled, S_OK, L"", kYes, kYes, kYes, kNo},
    {"RuleDisabled", S_OK, kRuleDisabled, S_OK, L"", kYes, kYes, kNo, kNo},
    {"OtherProduct", S_OK, kRuleEnabled, S_OK, L"Acme Shield", kYes, kYes, kYes, kYes},
};

class FirewallStateTest : public ::testing::TestWithParam<StateCase> {
protected:
    void SetUp() override
    {
        saved_ = g_platform;
        g_platform.createInstance = CreateFirewallDouble;
        g_platform.listFirewallProducts = ListProducts;
        UseFirewallDoubles(&doubles_);
    }
    void TearDown() override
    {
        g_platform = saved_;
        UseFirewallDoubles(nullptr);
    }

    FirewallDoubles doubles_;
    PlatformServices saved_;
};

TEST_P(FirewallStateTest, ReadsEachFactAndChangesNothing)
{
    const StateCase& c = GetParam();
    doubles_.policy.profileTypesResult = c.profilesResult;
    if (c.rule != kNoRule) {
        doubles_.existingRule.values = {
            {L"Name", L"Announce"}, {L"Grouping", L"Orvel Electronics Ltd."}, {L"ApplicationName", kPath}};
        doubles_.existingRule.enabled = c.rule == kRuleEnabled ? VARIANT_TRUE : VARIANT_FALSE;
        doubles_.rules.stored.push_back(&doubles_.existingRule);
    }
    g_productsResult = c.productsResult;
    g_productNames = c.products;

    FirewallState state;
    std::thread([&state] { ReadFirewallState(kPath, &state); }).join();

    EXPECT_EQ(state.enabled, c.enabled);
    EXPECT_EQ(state.ourRule, c.ourRule);
    EXPECT_EQ(state.ourRuleEnabled, c.ourRuleEnabled);
    EXPECT_EQ(state.otherProduct, c.otherProduct);
    EXPECT_EQ(std::wstring(state.otherProductNames), c.productsResult == S_OK ? c.products : L"");
    // Only the policy is made and only reads follow: a new rule, a put, an
    // Add or a Remove would log otherwise.
    for (const std::wstring& event : doubles_.log) {
        EXPECT_TRUE(event == L"create NetFwPolicy2" || event.find(L".get_") != std::wstring::npos) << event;
    }
    EXPECT_TRUE(doubles_.AllReleased());
}

INSTANTIATE_TEST_SUITE_P(States, FirewallStateTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StateCase>& info) { return info.param.name; });

}  // namespace
