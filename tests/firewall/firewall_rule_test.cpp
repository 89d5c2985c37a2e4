// Tests of the start-up step that adds the inbound firewall rule. The firewall
// objects are doubles installed through the platform seam; the warning box is
// captured through the same seam; the step's strings are counted by patching
// the executable's imports of SysAllocString and SysFreeString.
#include "core/platform.h"

#include "core/globals.h"
#include "firewall/bstr_tracker.h"
#include "firewall/firewall_doubles.h"
#include "firewall/firewall_rule.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kWarningText[] =
    L"Unable to add the required Windows Firewall rule for incoming UDP traffic on port 30303."
    L"  Some network devices may not be visible as a result."
    L"  The application should be re-run as an Administrator so that the rule can be added.";
const wchar_t kWarningCaption[] = L"Error adding Firewall Rule";

const std::vector<std::wstring> kRuleProperties = {
    L"rule.Name Announce",
    L"rule.Description Announce",
    L"rule.Direction 1",
    L"rule.Protocol 17",
    L"rule.RemotePorts 30303",
    L"rule.InterfaceTypes ALL",
    L"rule.Enabled -1",
    L"rule.Grouping Orvel Electronics Ltd.",
    L"rule.Profiles 2147483647",  // 0x7FFFFFFF, every profile
    L"rule.Action 1",
};

HWND FakeWindow(UINT_PTR value)
{
    return reinterpret_cast<HWND>(value);
}

// Runs `body` on a thread of its own, which starts without COM.
template <class Body>
void RunOnFreshThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

class FirewallRuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(strings_.Installed()) << "the string imports could not be redirected";
        saved_ = g_platform;
        g_platform.createInstance = CreateFirewallDouble;
        g_platform.messageBox = CaptureMessageBox;
        CapturedBoxes().clear();
        UseFirewallDoubles(&doubles_);
        g_mainWindow = nullptr;
        doubles_.newRule.isAutomationString = [this](BSTR value) {
            return value != nullptr && strings_.IsLive(value) &&
                   SysStringLen(value) == std::wcslen(value);
        };
    }

    void TearDown() override
    {
        g_platform = saved_;
        UseFirewallDoubles(nullptr);
        CapturedBoxes().clear();
        g_mainWindow = nullptr;
    }

    // Every object obtained was released exactly once more than it was
    // referenced, and every string allocated was freed exactly once.
    void ExpectNothingHeld()
    {
        EXPECT_TRUE(doubles_.AllReleased())
            << "references: policy " << doubles_.policy.references << ", rules "
            << doubles_.rules.references << ", new rule " << doubles_.newRule.references
            << ", existing rule " << doubles_.existingRule.references;
        EXPECT_EQ(strings_.LiveCount(), 0u);
        EXPECT_EQ(strings_.UnknownFrees(), 0);
    }

    std::vector<std::wstring> EventsStartingWith(const std::wstring& prefix) const
    {
        std::vector<std::wstring> events;
        for (const std::wstring& event : doubles_.log) {
            if (event.compare(0, prefix.size(), prefix) == 0) {
                events.push_back(event);
            }
        }
        return events;
    }

    // The step stopped before it looked for or added a rule.
    void ExpectStoppedQuietly()
    {
        EXPECT_TRUE(doubles_.rules.added.empty());
        EXPECT_TRUE(EventsStartingWith(L"rules.").empty());
        EXPECT_TRUE(EventsStartingWith(L"rule.").empty());
        EXPECT_TRUE(CapturedBoxes().empty());
        EXPECT_TRUE(strings_.AllocatedTexts().empty());
        ExpectNothingHeld();
    }

    void ExpectAddedSilently()
    {
        ASSERT_EQ(doubles_.rules.added.size(), 1u);
        EXPECT_EQ(doubles_.rules.added[0], static_cast<INetFwRule*>(&doubles_.newRule));
        EXPECT_TRUE(CapturedBoxes().empty());
        ExpectNothingHeld();
    }

    BstrTracker strings_;
    PlatformServices saved_ = {};
    FirewallDoubles doubles_;
};

// ---- The path that adds the rule ----

TEST_F(FirewallRuleTest, AddsTheRuleWhenTheFirewallIsOnAndTheRuleIsMissing)
{
    EnsureFirewallRule();

    ExpectAddedSilently();
    EXPECT_EQ(doubles_.log, (std::vector<std::wstring>{
                                L"create NetFwPolicy2",
                                L"policy.get_CurrentProfileTypes",
                                L"policy.get_FirewallEnabled 4",
                                L"policy.get_Rules",
                                L"create NetFwRule",
                                kRuleProperties[0], kRuleProperties[1], kRuleProperties[2],
                                kRuleProperties[3], kRuleProperties[4], kRuleProperties[5],
                                kRuleProperties[6], kRuleProperties[7], kRuleProperties[8],
                                kRuleProperties[9],
                                L"rules.Item Announce",
                                L"rules.Add",
                            }));
}

TEST_F(FirewallRuleTest, CreatesThePublishedClassesInProcessWithoutAnOuterObject)
{
    EnsureFirewallRule();

    ASSERT_EQ(doubles_.creations.size(), 2u);
    const CreateCall& policy = doubles_.creations[0];
    EXPECT_TRUE(IsEqualCLSID(policy.clsid, kTestClsidNetFwPolicy2));
    EXPECT_TRUE(IsEqualIID(policy.iid, kTestIidINetFwPolicy2));
    EXPECT_EQ(policy.outer, nullptr);
    EXPECT_EQ(policy.context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
    const CreateCall& rule = doubles_.creations[1];
    EXPECT_TRUE(IsEqualCLSID(rule.clsid, kTestClsidNetFwRule));
    EXPECT_TRUE(IsEqualIID(rule.iid, kTestIidINetFwRule));
    EXPECT_EQ(rule.outer, nullptr);
    EXPECT_EQ(rule.context, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
}

TEST_F(FirewallRuleTest, SetsTheTenPropertiesInOrderWithAutomationStrings)
{
    EnsureFirewallRule();

    EXPECT_EQ(EventsStartingWith(L"rule."), kRuleProperties);
    EXPECT_EQ(doubles_.newRule.rejectedStrings, 0) << "a string property was not a live BSTR";
    EXPECT_NE(doubles_.newRule.receivedName, doubles_.newRule.receivedDescription)
        << "name and description must be separate strings";
    EXPECT_EQ(strings_.AllocatedTexts(),
              (std::vector<std::wstring>{L"Announce", L"Orvel Electronics Ltd.", L"ALL",
                                         L"30303", L"Announce"}));
    ExpectNothingHeld();
}

TEST_F(FirewallRuleTest, AddsTheRuleEvenWhenItsPropertiesCannotBeSet)
{
    doubles_.newRule.putResult = E_INVALIDARG;

    EnsureFirewallRule();

    EXPECT_EQ(EventsStartingWith(L"rule."), kRuleProperties);
    ExpectAddedSilently();
}

// ---- Which profiles count ----

TEST_F(FirewallRuleTest, FirewallOffInEveryProfileInForceAddsNothingWhateverTheRights)
{
    doubles_.policy.profileTypes =
        NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE | NET_FW_PROFILE2_PUBLIC;
    doubles_.policy.publicProfile = {S_OK, VARIANT_FALSE};
    doubles_.rules.addResult = E_ACCESSDENIED;

    EnsureFirewallRule();

    EXPECT_EQ(EventsStartingWith(L"policy.get_FirewallEnabled"),
              (std::vector<std::wstring>{L"policy.get_FirewallEnabled 1",
                                         L"policy.get_FirewallEnabled 2",
                                         L"policy.get_FirewallEnabled 4"}));
    EXPECT_TRUE(EventsStartingWith(L"policy.get_Rules").empty());
    EXPECT_EQ(doubles_.creations.size(), 1u) << "no rule object should be created";
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, OnlyAProfileNotInForceBeingOnCountsAsOff)
{
    doubles_.policy.profileTypes = NET_FW_PROFILE2_PRIVATE;
    doubles_.policy.domain = {S_OK, VARIANT_TRUE};
    doubles_.policy.privateProfile = {S_OK, VARIANT_FALSE};
    doubles_.policy.publicProfile = {S_OK, VARIANT_TRUE};

    EnsureFirewallRule();

    EXPECT_EQ(EventsStartingWith(L"policy.get_FirewallEnabled"),
              (std::vector<std::wstring>{L"policy.get_FirewallEnabled 2"}));
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, AFailedFirewallEnabledReadCountsAsOff)
{
    // The double writes "on" into the result even though the call fails.
    doubles_.policy.publicProfile = {E_NOTIMPL, VARIANT_TRUE};

    EnsureFirewallRule();

    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, OneProfileInForceBeingOnIsEnough)
{
    doubles_.policy.profileTypes =
        NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE | NET_FW_PROFILE2_PUBLIC;
    doubles_.policy.domain = {E_FAIL, VARIANT_TRUE};
    doubles_.policy.privateProfile = {S_OK, VARIANT_FALSE};
    doubles_.policy.publicProfile = {S_OK, VARIANT_TRUE};

    EnsureFirewallRule();

    ExpectAddedSilently();
}

TEST_F(FirewallRuleTest, UnreadableProfilesInForceAddNothing)
{
    doubles_.policy.profileTypesResult = E_NOTIMPL;

    EnsureFirewallRule();

    EXPECT_TRUE(EventsStartingWith(L"policy.get_FirewallEnabled").empty());
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, NoKnownProfileInForceAddsNothing)
{
    doubles_.policy.profileTypes = 0x8;  // a bit for no profile the step knows
    doubles_.policy.domain = {S_OK, VARIANT_TRUE};
    doubles_.policy.privateProfile = {S_OK, VARIANT_TRUE};

    EnsureFirewallRule();

    EXPECT_TRUE(EventsStartingWith(L"policy.get_FirewallEnabled").empty());
    ExpectStoppedQuietly();
}

class FirewallRuleProfileTest : public FirewallRuleTest,
                                public ::testing::WithParamInterface<NET_FW_PROFILE_TYPE2> {};

TEST_P(FirewallRuleProfileTest, TheProfileAloneInForceAndOnAddsTheRule)
{
    doubles_.policy.profileTypes = GetParam();
    doubles_.policy.domain = {S_OK, GetParam() == NET_FW_PROFILE2_DOMAIN ? VARIANT_TRUE
                                                                           : VARIANT_FALSE};
    doubles_.policy.privateProfile = {S_OK, GetParam() == NET_FW_PROFILE2_PRIVATE
                                                ? VARIANT_TRUE
                                                : VARIANT_FALSE};
    doubles_.policy.publicProfile = {S_OK, GetParam() == NET_FW_PROFILE2_PUBLIC ? VARIANT_TRUE
                                                                                : VARIANT_FALSE};

    EnsureFirewallRule();

    EXPECT_EQ(EventsStartingWith(L"policy.get_FirewallEnabled"),
              (std::vector<std::wstring>{L"policy.get_FirewallEnabled " +
                                         std::to_wstring(GetParam())}));
    ExpectAddedSilently();
}

INSTANTIATE_TEST_SUITE_P(EachProfile, FirewallRuleProfileTest,
                         ::testing::Values(NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE,
                                           NET_FW_PROFILE2_PUBLIC));

// ---- Looking for the rule ----

TEST_F(FirewallRuleTest, ARuleWithOurNameAndGroupingIsLeftAloneWhateverTheRights)
{
    doubles_.rules.found = &doubles_.existingRule;
    doubles_.existingRule.groupingText = L"Orvel Electronics Ltd.";
    doubles_.rules.addResult = E_ACCESSDENIED;

    EnsureFirewallRule();

    EXPECT_TRUE(doubles_.rules.added.empty());
    EXPECT_EQ(EventsStartingWith(L"existing."),
              (std::vector<std::wstring>{L"existing.get_Grouping"}));
    EXPECT_TRUE(CapturedBoxes().empty());
    ExpectNothingHeld();  // includes the grouping string the double handed out
}

class FirewallRuleGroupingTest : public FirewallRuleTest,
                                 public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(FirewallRuleGroupingTest, ARuleWithOurNameButAnotherGroupingGetsASecondRule)
{
    doubles_.rules.found = &doubles_.existingRule;
    doubles_.existingRule.groupingText = GetParam();

    EnsureFirewallRule();

    ExpectAddedSilently();
    // The existing rule is only read, never changed.
    EXPECT_EQ(EventsStartingWith(L"existing."),
              (std::vector<std::wstring>{L"existing.get_Grouping"}));
}

INSTANTIATE_TEST_SUITE_P(Groupings, FirewallRuleGroupingTest,
                         ::testing::Values(L"Another Maker", L"orvel electronics ltd.",
                                           L"ORVEL ELECTRONICS LTD.", L"Orvel Electronics Ltd",
                                           L"Orvel Electronics Ltd. ", L"", nullptr));

TEST_F(FirewallRuleTest, AnUnreadableGroupingCountsAsDifferent)
{
    doubles_.rules.found = &doubles_.existingRule;
    doubles_.existingRule.groupingResult = E_ACCESSDENIED;

    EnsureFirewallRule();

    ExpectAddedSilently();
}

TEST_F(FirewallRuleTest, AFailedLookUpCountsAsMissing)
{
    doubles_.rules.itemResult = E_NOTIMPL;

    EnsureFirewallRule();

    ExpectAddedSilently();
}

// ---- The result of Add ----

TEST_F(FirewallRuleTest, AccessDeniedShowsOneWarningOwnedByTheWindowAtEntry)
{
    g_mainWindow = FakeWindow(0x1234);
    doubles_.rules.addResult = E_ACCESSDENIED;
    // A window appearing meanwhile does not change the owner taken at entry.
    doubles_.rules.onAdd = [] { g_mainWindow = FakeWindow(0x5678); };

    EnsureFirewallRule();

    ASSERT_EQ(CapturedBoxes().size(), 1u);
    const CapturedBox& box = CapturedBoxes()[0];
    EXPECT_EQ(box.owner, FakeWindow(0x1234));
    EXPECT_EQ(box.text, kWarningText);
    EXPECT_EQ(box.caption, kWarningCaption);
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(box.type, 0x30u);
    EXPECT_EQ(doubles_.rules.added.size(), 1u);
    ExpectNothingHeld();
}

TEST_F(FirewallRuleTest, AccessDeniedAtStartUpShowsAWarningWithoutOwner)
{
    doubles_.rules.addResult = E_ACCESSDENIED;

    EnsureFirewallRule();

    ASSERT_EQ(CapturedBoxes().size(), 1u);
    EXPECT_EQ(CapturedBoxes()[0].owner, nullptr);
    EXPECT_EQ(CapturedBoxes()[0].caption, kWarningCaption);
    ExpectNothingHeld();
}

class FirewallRuleAddFailureTest : public FirewallRuleTest,
                                   public ::testing::WithParamInterface<HRESULT> {};

TEST_P(FirewallRuleAddFailureTest, OtherAddFailuresAreSilent)
{
    doubles_.rules.addResult = GetParam();

    EnsureFirewallRule();

    ExpectAddedSilently();
}

INSTANTIATE_TEST_SUITE_P(Failures, FirewallRuleAddFailureTest,
                         ::testing::Values(E_FAIL, E_NOTIMPL, E_INVALIDARG,
                                           HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                                           HRESULT_FROM_WIN32(ERROR_ACCESS_DISABLED_BY_POLICY),
                                           RPC_E_DISCONNECTED));

// ---- Objects that cannot be obtained ----

TEST_F(FirewallRuleTest, APolicyThatCannotBeCreatedEndsTheStepQuietly)
{
    doubles_.policyCreateResult = REGDB_E_CLASSNOTREG;

    EnsureFirewallRule();

    EXPECT_EQ(doubles_.log, (std::vector<std::wstring>{L"create NetFwPolicy2"}));
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, RulesThatCannotBeReadEndTheStepWithoutARuleObject)
{
    doubles_.policy.rulesResult = E_ACCESSDENIED;

    EnsureFirewallRule();

    EXPECT_EQ(doubles_.creations.size(), 1u) << "no rule object should be created";
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, ARuleObjectThatCannotBeCreatedEndsTheStepQuietly)
{
    doubles_.ruleCreateResult = E_OUTOFMEMORY;

    EnsureFirewallRule();

    EXPECT_EQ(doubles_.creations.size(), 2u);
    ExpectStoppedQuietly();
}

// ---- COM initialisation of the calling thread ----

// Probes the calling thread: S_OK means COM was not initialised (and is now,
// undone again before returning), S_FALSE means it was multithreaded,
// RPC_E_CHANGED_MODE means it was single-threaded.
HRESULT ProbeMultithreadedCom()
{
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result)) {
        CoUninitialize();
    }
    return result;
}

TEST_F(FirewallRuleTest, InitialisesASingleThreadedApartmentAndUndoesIt)
{
    HRESULT duringAdd = E_UNEXPECTED;
    HRESULT afterStep = E_UNEXPECTED;
    doubles_.rules.onAdd = [&duringAdd] { duringAdd = ProbeMultithreadedCom(); };

    RunOnFreshThread([&afterStep] {
        EnsureFirewallRule();
        afterStep = ProbeMultithreadedCom();
    });

    EXPECT_EQ(duringAdd, RPC_E_CHANGED_MODE) << "the step should run in a single-threaded apartment";
    EXPECT_EQ(afterStep, S_OK) << "the step should leave the thread without COM";
    ExpectAddedSilently();
}

TEST_F(FirewallRuleTest, WorksInAMultithreadedApartmentAndLeavesItInitialised)
{
    HRESULT before = E_UNEXPECTED;
    HRESULT afterStep = E_UNEXPECTED;

    RunOnFreshThread([&before, &afterStep] {
        before = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EnsureFirewallRule();
        afterStep = ProbeMultithreadedCom();
        if (SUCCEEDED(before)) {
            CoUninitialize();
        }
    });

    ASSERT_EQ(before, S_OK);
    EXPECT_EQ(afterStep, S_FALSE) << "the step must not uninitialise COM it did not initialise";
    ExpectAddedSilently();
}

TEST_F(FirewallRuleTest, ReturnsAtOnceWhenTheThreadAlreadyHasASingleThreadedApartment)
{
    HRESULT before = E_UNEXPECTED;
    HRESULT afterOurUninitialise = E_UNEXPECTED;

    RunOnFreshThread([&before, &afterOurUninitialise] {
        before = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        EnsureFirewallRule();
        if (SUCCEEDED(before)) {
            CoUninitialize();
        }
        // Had the step kept its own initialisation, the apartment would survive.
        afterOurUninitialise = ProbeMultithreadedCom();
    });

    ASSERT_EQ(before, S_OK);
    EXPECT_TRUE(doubles_.creations.empty());
    EXPECT_EQ(afterOurUninitialise, S_OK) << "the step left COM initialised on the thread";
    ExpectStoppedQuietly();
}

// ---- The installer's operations ----

TEST_F(FirewallRuleTest, TheInstallerAddsTheRuleWithTheFirewallOffAndReportsDeniedRightsWithoutABox)
{
    doubles_.policy.publicProfile = {S_OK, VARIANT_FALSE};
    doubles_.rules.addResult = E_ACCESSDENIED;

    EXPECT_EQ(AddFirewallRule(), E_ACCESSDENIED);

    EXPECT_EQ(EventsStartingWith(L"policy.get_"), (std::vector<std::wstring>{L"policy.get_Rules"}))
        << "the firewall's state does not count";
    EXPECT_EQ(EventsStartingWith(L"rule."), kRuleProperties);
    EXPECT_EQ(doubles_.rules.added.size(), 1u);
    EXPECT_TRUE(CapturedBoxes().empty());
    ExpectNothingHeld();
}

// Removal: `found` is the rule of our name the collection holds, if any.
struct RemoveCase {
    const char* name;
    const wchar_t* foundGrouping;  // nullptr: no rule of our name
    HRESULT removeResult;
    HRESULT expected;
    bool removes;
};

class FirewallRuleRemoveTest : public FirewallRuleTest,
                               public ::testing::WithParamInterface<RemoveCase> {};

TEST_P(FirewallRuleRemoveTest, RemovesOnlyOurRuleAndReportsTheResult)
{
    const RemoveCase& c = GetParam();
    if (c.foundGrouping != nullptr) {
        doubles_.rules.found = &doubles_.existingRule;
        doubles_.existingRule.groupingText = c.foundGrouping;
    }
    doubles_.rules.removeResult = c.removeResult;

    EXPECT_EQ(RemoveFirewallRule(), c.expected);

    EXPECT_EQ(EventsStartingWith(L"rules.Remove"),
              c.removes ? std::vector<std::wstring>{L"rules.Remove Announce"}
                        : std::vector<std::wstring>{});
    EXPECT_TRUE(doubles_.rules.added.empty());
    EXPECT_EQ(doubles_.creations.size(), 1u) << "removal needs no rule object";
    EXPECT_TRUE(CapturedBoxes().empty());
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirewallRuleRemoveTest,
    ::testing::Values(RemoveCase{"Ours", L"Orvel Electronics Ltd.", S_OK, S_OK, true},
                      RemoveCase{"OursDenied", L"Orvel Electronics Ltd.", E_ACCESSDENIED,
                                 E_ACCESSDENIED, true},
                      RemoveCase{"Another", L"Another Maker", E_FAIL, S_OK, false},
                      RemoveCase{"None", nullptr, E_FAIL, S_OK, false}),
    [](const ::testing::TestParamInfo<RemoveCase>& info) { return std::string(info.param.name); });

// ---- The real firewall objects ----

bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Wine's firewall objects cannot report the profiles in force, so the step
// must end quietly there. On Windows this would change the machine's policy.
TEST(FirewallRuleRealPlatformTest, EndsQuietlyWithWinesFirewallObjects)
{
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "runs only under Wine: it would change this computer's firewall policy";
    }
    PlatformServices saved = g_platform;
    g_platform = DefaultPlatformServices();
    g_platform.messageBox = CaptureMessageBox;
    CapturedBoxes().clear();
    HRESULT afterStep = E_UNEXPECTED;

    RunOnFreshThread([&afterStep] {
        EnsureFirewallRule();
        afterStep = ProbeMultithreadedCom();
    });

    g_platform = saved;
    EXPECT_TRUE(CapturedBoxes().empty());
    EXPECT_EQ(afterStep, S_OK);
    CapturedBoxes().clear();
}

}  // namespace
