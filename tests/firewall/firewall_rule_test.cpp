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

#include <algorithm>
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

const wchar_t kWindowPath[] = L"C:\\Program Files\\Network Discovery Tool\\NetworkDiscoveryTool.exe";
const wchar_t kConsolePath[] = L"C:\\Program Files\\Network Discovery Tool\\NetworkDiscoveryScan.exe";
const wchar_t kOurGrouping[] = L"Orvel Electronics Ltd.";

const std::vector<std::wstring> kRuleProperties = {
    L"rule.Name Announce",
    L"rule.Description Announce",
    std::wstring(L"rule.ApplicationName ") + kWindowPath,
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

    // Puts `rule` into the collection with these properties (null: unset).
    void Store(FakeRule* rule, const wchar_t* name, const wchar_t* grouping,
               const wchar_t* application)
    {
        const std::pair<const wchar_t*, const wchar_t*> properties[] = {
            {L"Name", name}, {L"Grouping", grouping}, {L"ApplicationName", application}};
        for (const auto& property : properties) {
            if (property.second != nullptr) {
                rule->values[property.first] = property.second;
            }
        }
        doubles_.rules.stored.push_back(rule);
    }

    // The applications of the rules a task added, in order.
    std::vector<std::wstring> AddedApplications() const
    {
        return EventsStartingWith(L"rule.ApplicationName ");
    }

    BstrTracker strings_;
    PlatformServices saved_ = {};
    FirewallDoubles doubles_;
};

// ---- The path that adds the rule ----

TEST_F(FirewallRuleTest, AddsTheRuleWhenTheFirewallIsOnAndTheRuleIsMissing)
{
    EnsureFirewallRule(kWindowPath);

    ExpectAddedSilently();
    EXPECT_EQ(doubles_.log, (std::vector<std::wstring>{
                                L"create NetFwPolicy2",
                                L"policy.get_CurrentProfileTypes",
                                L"policy.get_FirewallEnabled 4",
                                L"policy.get_Rules",
                                L"rules.get__NewEnum",
                                L"create NetFwRule",
                                kRuleProperties[0], kRuleProperties[1], kRuleProperties[2],
                                kRuleProperties[3], kRuleProperties[4], kRuleProperties[5],
                                kRuleProperties[6], kRuleProperties[7], kRuleProperties[8],
                                kRuleProperties[9], kRuleProperties[10],
                                L"rules.Add",
                            }));
}

TEST_F(FirewallRuleTest, CreatesThePublishedClassesInProcessWithoutAnOuterObject)
{
    EnsureFirewallRule(kWindowPath);

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

TEST_F(FirewallRuleTest, SetsTheElevenPropertiesInOrderWithAutomationStrings)
{
    EnsureFirewallRule(kWindowPath);

    EXPECT_EQ(EventsStartingWith(L"rule."), kRuleProperties);
    EXPECT_EQ(doubles_.newRule.rejectedStrings, 0) << "a string property was not a live BSTR";
    EXPECT_NE(doubles_.newRule.receivedName, doubles_.newRule.receivedDescription)
        << "name and description must be separate strings";
    EXPECT_EQ(strings_.AllocatedTexts(),
              (std::vector<std::wstring>{L"Announce", L"Orvel Electronics Ltd.", L"ALL",
                                         L"30303", L"Announce", kWindowPath}));
    ExpectNothingHeld();
}

TEST_F(FirewallRuleTest, AddsTheRuleEvenWhenItsPropertiesCannotBeSet)
{
    doubles_.newRule.putResult = E_INVALIDARG;

    EnsureFirewallRule(kWindowPath);

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

    EnsureFirewallRule(kWindowPath);

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

    EnsureFirewallRule(kWindowPath);

    EXPECT_EQ(EventsStartingWith(L"policy.get_FirewallEnabled"),
              (std::vector<std::wstring>{L"policy.get_FirewallEnabled 2"}));
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, AFailedFirewallEnabledReadCountsAsOff)
{
    // The double writes "on" into the result even though the call fails.
    doubles_.policy.publicProfile = {E_NOTIMPL, VARIANT_TRUE};

    EnsureFirewallRule(kWindowPath);

    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, OneProfileInForceBeingOnIsEnough)
{
    doubles_.policy.profileTypes =
        NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE | NET_FW_PROFILE2_PUBLIC;
    doubles_.policy.domain = {E_FAIL, VARIANT_TRUE};
    doubles_.policy.privateProfile = {S_OK, VARIANT_FALSE};
    doubles_.policy.publicProfile = {S_OK, VARIANT_TRUE};

    EnsureFirewallRule(kWindowPath);

    ExpectAddedSilently();
}

TEST_F(FirewallRuleTest, UnreadableProfilesInForceAddNothing)
{
    doubles_.policy.profileTypesResult = E_NOTIMPL;

    EnsureFirewallRule(kWindowPath);

    EXPECT_TRUE(EventsStartingWith(L"policy.get_FirewallEnabled").empty());
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, NoKnownProfileInForceAddsNothing)
{
    doubles_.policy.profileTypes = 0x8;  // a bit for no profile the step knows
    doubles_.policy.domain = {S_OK, VARIANT_TRUE};
    doubles_.policy.privateProfile = {S_OK, VARIANT_TRUE};

    EnsureFirewallRule(kWindowPath);

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

    EnsureFirewallRule(kWindowPath);

    EXPECT_EQ(EventsStartingWith(L"policy.get_FirewallEnabled"),
              (std::vector<std::wstring>{L"policy.get_FirewallEnabled " +
                                         std::to_wstring(GetParam())}));
    ExpectAddedSilently();
}

INSTANTIATE_TEST_SUITE_P(EachProfile, FirewallRuleProfileTest,
                         ::testing::Values(NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE,
                                           NET_FW_PROFILE2_PUBLIC));

// ---- Looking for the rule ----

// One rule in the collection, and whether it counts as the window program's.
struct LookUpCase {
    const char* name;
    const wchar_t* ruleName;
    const wchar_t* grouping;
    const wchar_t* application;
    bool counts;
};

class FirewallRuleLookUpTest : public FirewallRuleTest,
                               public ::testing::WithParamInterface<LookUpCase> {};

TEST_P(FirewallRuleLookUpTest, OnlyOurRuleForThisProgramCountsAndNoRuleIsChanged)
{
    const LookUpCase& c = GetParam();
    Store(&doubles_.existingRule, c.ruleName, c.grouping, c.application);

    EnsureFirewallRule(kWindowPath);

    EXPECT_EQ(doubles_.rules.added.size(), c.counts ? 0u : 1u);
    for (const std::wstring& event : EventsStartingWith(L"existing.")) {
        EXPECT_EQ(event.compare(0, 13, L"existing.get_"), 0) << "the rule was changed: " << event;
    }
    EXPECT_TRUE(EventsStartingWith(L"rules.Remove").empty());
    EXPECT_TRUE(CapturedBoxes().empty());
    ExpectNothingHeld();  // includes the strings the double handed out
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FirewallRuleLookUpTest,
    ::testing::Values(
        LookUpCase{"Ours", L"Announce", kOurGrouping, kWindowPath, true},
        LookUpCase{"OursInOtherLetterCase", L"Announce", kOurGrouping,
                   L"c:\\PROGRAM FILES\\network discovery tool\\networkdiscoverytool.EXE", true},
        LookUpCase{"OursForAnotherCopy", L"Announce", kOurGrouping,
                   L"C:\\Users\\a\\Downloads\\NetworkDiscoveryTool.exe", false},
        LookUpCase{"OursForTheConsole", L"Announce", kOurGrouping, kConsolePath, false},
        LookUpCase{"OursWithoutApplication", L"Announce", kOurGrouping, nullptr, false},
        LookUpCase{"OursWithEmptyApplication", L"Announce", kOurGrouping, L"", false},
        LookUpCase{"AnotherGrouping", L"Announce", L"Another Maker", kWindowPath, false},
        LookUpCase{"GroupingInOtherLetterCase", L"Announce", L"ORVEL ELECTRONICS LTD.", kWindowPath,
                   false},
        LookUpCase{"NoGrouping", L"Announce", nullptr, kWindowPath, false},
        LookUpCase{"AnotherName", L"Announce2", kOurGrouping, kWindowPath, false}),
    [](const ::testing::TestParamInfo<LookUpCase>& info) { return std::string(info.param.name); });

TEST_F(FirewallRuleTest, AnUnreadableGroupingCountsAsDifferent)
{
    Store(&doubles_.existingRule, L"Announce", kOurGrouping, kWindowPath);
    doubles_.existingRule.groupingResult = E_ACCESSDENIED;

    EnsureFirewallRule(kWindowPath);

    ExpectAddedSilently();
}

TEST_F(FirewallRuleTest, ACollectionThatCannotBeWalkedCountsAsHoldingNoRule)
{
    doubles_.rules.enumResult = E_NOTIMPL;

    EnsureFirewallRule(kWindowPath);

    ExpectAddedSilently();
}

// ---- The result of Add ----

TEST_F(FirewallRuleTest, AccessDeniedShowsOneWarningOwnedByTheWindowAtEntry)
{
    g_mainWindow = FakeWindow(0x1234);
    doubles_.rules.addResult = E_ACCESSDENIED;
    // A window appearing meanwhile does not change the owner taken at entry.
    doubles_.rules.onAdd = [] { g_mainWindow = FakeWindow(0x5678); };

    EnsureFirewallRule(kWindowPath);

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

    EnsureFirewallRule(kWindowPath);

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

    EnsureFirewallRule(kWindowPath);

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

    EnsureFirewallRule(kWindowPath);

    EXPECT_EQ(doubles_.log, (std::vector<std::wstring>{L"create NetFwPolicy2"}));
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, RulesThatCannotBeReadEndTheStepWithoutARuleObject)
{
    doubles_.policy.rulesResult = E_ACCESSDENIED;

    EnsureFirewallRule(kWindowPath);

    EXPECT_EQ(doubles_.creations.size(), 1u) << "no rule object should be created";
    ExpectStoppedQuietly();
}

TEST_F(FirewallRuleTest, ARuleObjectThatCannotBeCreatedEndsTheStepQuietly)
{
    doubles_.ruleCreateResult = E_OUTOFMEMORY;

    EnsureFirewallRule(kWindowPath);

    EXPECT_EQ(doubles_.creations.size(), 2u);
    EXPECT_TRUE(doubles_.rules.added.empty());
    EXPECT_TRUE(CapturedBoxes().empty());
    EXPECT_TRUE(strings_.AllocatedTexts().empty());
    ExpectNothingHeld();
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
        EnsureFirewallRule(kWindowPath);
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
        EnsureFirewallRule(kWindowPath);
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
        EnsureFirewallRule(kWindowPath);
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

// ---- The console's check ----

struct CheckCase {
    const char* name;
    VARIANT_BOOL firewallOn;
    const wchar_t* storedApplication;  // our rule's, or nullptr for no rule
    HRESULT enumResult;
    bool missing;
};

class FirewallRuleCheckTest : public FirewallRuleTest,
                              public ::testing::WithParamInterface<CheckCase> {};

TEST_P(FirewallRuleCheckTest, TellsOnlyOfAMissingRuleWithTheFirewallOnAndChangesNothing)
{
    const CheckCase& c = GetParam();
    doubles_.policy.publicProfile = {S_OK, c.firewallOn};
    doubles_.rules.enumResult = c.enumResult;
    if (c.storedApplication != nullptr) {
        Store(&doubles_.existingRule, L"Announce", kOurGrouping, c.storedApplication);
    }

    EXPECT_EQ(IsFirewallRuleMissing(kConsolePath), c.missing);

    EXPECT_EQ(doubles_.creations.size(), 1u) << "no rule object should be created";
    EXPECT_TRUE(EventsStartingWith(L"rules.Add").empty());
    EXPECT_TRUE(EventsStartingWith(L"rules.Remove").empty());
    EXPECT_TRUE(EventsStartingWith(L"existing.put").empty());
    EXPECT_TRUE(CapturedBoxes().empty());
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirewallRuleCheckTest,
    ::testing::Values(CheckCase{"Missing", VARIANT_TRUE, nullptr, S_OK, true},
                      CheckCase{"Present", VARIANT_TRUE, kConsolePath, S_OK, false},
                      CheckCase{"OnlyTheWindowProgramsRule", VARIANT_TRUE, kWindowPath, S_OK, true},
                      CheckCase{"FirewallOff", VARIANT_FALSE, nullptr, S_OK, false},
                      CheckCase{"RulesUnreadable", VARIANT_TRUE, nullptr, E_NOTIMPL, false}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

// ---- The installer's operations ----

const wchar_t* const kBothPaths[] = {kWindowPath, kConsolePath};

TEST_F(FirewallRuleTest, TheInstallerAddsBothRulesWithTheFirewallOffAndReplacesOurUnscopedRule)
{
    doubles_.policy.publicProfile = {S_OK, VARIANT_FALSE};
    Store(&doubles_.existingRule, L"Announce", kOurGrouping, nullptr);
    Store(&doubles_.otherRule, L"Announce", L"Another Maker", nullptr);

    EXPECT_EQ(AddFirewallRules(kBothPaths, 2), S_OK);

    EXPECT_EQ(AddedApplications(),
              (std::vector<std::wstring>{std::wstring(L"rule.ApplicationName ") + kWindowPath,
                                         std::wstring(L"rule.ApplicationName ") + kConsolePath}));
    EXPECT_EQ(doubles_.rules.stored, std::vector<FakeRule*>{&doubles_.otherRule})
        << "our unscoped rule goes, the other product's stays";
    EXPECT_TRUE(EventsStartingWith(L"other.put").empty());
    EXPECT_TRUE(CapturedBoxes().empty());
    ExpectNothingHeld();
}

TEST_F(FirewallRuleTest, TheInstallerAddsOnlyTheMissingRuleAndReportsDeniedRightsWithoutABox)
{
    Store(&doubles_.existingRule, L"Announce", kOurGrouping, kWindowPath);
    doubles_.rules.addResult = E_ACCESSDENIED;

    EXPECT_EQ(AddFirewallRules(kBothPaths, 2), E_ACCESSDENIED);

    EXPECT_EQ(AddedApplications(),
              (std::vector<std::wstring>{std::wstring(L"rule.ApplicationName ") + kConsolePath}));
    EXPECT_TRUE(CapturedBoxes().empty());
    ExpectNothingHeld();
}

// Removal: our two rules, our older unscoped one, and two of another
// product's with our name (one even with our grouping); which stay.
struct RemoveCase {
    const char* name;
    HRESULT putResult;
    HRESULT removeResult;
    HRESULT expected;
    bool oursGone;
};

class FirewallRuleRemoveTest : public FirewallRuleTest,
                               public ::testing::WithParamInterface<RemoveCase> {};

TEST_P(FirewallRuleRemoveTest, RemovesExactlyOurRulesAndReportsTheResult)
{
    const RemoveCase& c = GetParam();
    FakeRule consoleRule(L"console", &doubles_.log);
    FakeRule unscopedRule(L"unscoped", &doubles_.log);
    FakeRule foreignRule(L"foreign", &doubles_.log);
    Store(&doubles_.existingRule, L"Announce", kOurGrouping, kWindowPath);
    Store(&consoleRule, L"Announce", kOurGrouping, kConsolePath);
    Store(&unscopedRule, L"Announce", kOurGrouping, nullptr);
    Store(&doubles_.otherRule, L"Announce", L"Another Maker", kWindowPath);
    Store(&foreignRule, L"Announce", kOurGrouping, L"C:\\Other\\Announcer.exe");
    for (FakeRule* rule : {&doubles_.existingRule, &consoleRule, &unscopedRule}) {
        rule->putResult = c.putResult;
    }
    doubles_.rules.removeResult = c.removeResult;

    EXPECT_EQ(RemoveFirewallRules(kBothPaths, 2), c.expected);

    std::vector<FakeRule*> left = {&doubles_.otherRule, &foreignRule};
    if (!c.oursGone) {
        left.insert(left.begin(), {&doubles_.existingRule, &consoleRule, &unscopedRule});
    }
    std::sort(left.begin(), left.end());
    std::vector<FakeRule*> stored = doubles_.rules.stored;
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, left);
    for (const std::wstring& event : EventsStartingWith(L"rules.Remove")) {
        EXPECT_NE(event, L"rules.Remove Announce") << "removed by the name others share";
    }
    EXPECT_TRUE(doubles_.rules.added.empty());
    EXPECT_EQ(doubles_.creations.size(), 1u) << "removal needs no rule object";
    EXPECT_TRUE(CapturedBoxes().empty());
    EXPECT_TRUE(consoleRule.references == 0 && unscopedRule.references == 0 &&
                foreignRule.references == 0);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirewallRuleRemoveTest,
    ::testing::Values(RemoveCase{"Ours", S_OK, S_OK, S_OK, true},
                      RemoveCase{"RenameRefused", E_ACCESSDENIED, S_OK, E_ACCESSDENIED, false},
                      RemoveCase{"RemoveDenied", S_OK, E_ACCESSDENIED, E_ACCESSDENIED, false}),
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
        EnsureFirewallRule(kWindowPath);
        afterStep = ProbeMultithreadedCom();
    });

    g_platform = saved;
    EXPECT_TRUE(CapturedBoxes().empty());
    EXPECT_EQ(afterStep, S_OK);
    CapturedBoxes().clear();
}

}  // namespace
