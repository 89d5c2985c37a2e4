// The inbound rule that lets the devices' UDP answers through the Windows
// Firewall. Discovery sockets use whatever local port the system picks, so
// the rule allows inbound UDP from remote port 30303 to any local port. At
// start-up the rule is added through the firewall's COM policy objects only
// when the firewall is on and our rule is missing; an ordinary user lacks the
// rights, which earns a warning box, and start-up goes on either way. The
// installer adds the rule and the uninstaller removes it through the same
// objects (the program's /AddFirewallRule and /RemoveFirewallRule switches).
#include "core/platform.h"

#include "firewall/firewall_rule.h"

#include "core/globals.h"

#include <objbase.h>
#include <oleauto.h>
#include <netfw.h>

namespace {

// Published identifiers of the firewall objects. Defined here because the
// MinGW import libraries do not carry them.
const CLSID kClsidNetFwPolicy2 = {
    0xE2B3C97F, 0x6AE1, 0x41AC, {0x81, 0x7A, 0xF6, 0xF9, 0x21, 0x66, 0xD7, 0xDD}};
const IID kIidINetFwPolicy2 = {
    0x98325047, 0xC671, 0x4174, {0x8D, 0x81, 0xDE, 0xFC, 0xD3, 0xF0, 0x31, 0x86}};
const CLSID kClsidNetFwRule = {
    0x2C5BC43E, 0x3369, 0x4C33, {0xAB, 0x0C, 0xBE, 0x94, 0x69, 0x67, 0x7A, 0xF4}};
const IID kIidINetFwRule = {
    0xAF230D27, 0xBABA, 0x4E42, {0xAC, 0xED, 0xF5, 0x24, 0xF2, 0x2C, 0xFC, 0xE2}};

const wchar_t kRuleName[] = L"Announce";
// Marks the rule as ours: a rule of the same name from anyone else does not count.
const wchar_t kRuleGrouping[] = L"Orvel Electronics Ltd.";
const wchar_t kRuleInterfaceTypes[] = L"ALL";
// The devices answer from this port; the local port stays open.
const wchar_t kRuleRemotePorts[] = L"30303";
const wchar_t kRuleDescription[] = L"Announce";

const wchar_t kWarningText[] =
    L"Unable to add the required Windows Firewall rule for incoming UDP traffic on port 30303.  "
    L"Some network devices may not be visible as a result.  "
    L"The application should be re-run as an Administrator so that the rule can be added.";
const wchar_t kWarningCaption[] = L"Error adding Firewall Rule";

// The OLE Automation strings handed to the firewall, allocated and freed together.
struct RuleStrings {
    BSTR name;
    BSTR grouping;
    BSTR interfaceTypes;
    BSTR remotePorts;
    BSTR description;
};

// Everything the step obtains, so that one place can release it.
struct FirewallObjects {
    INetFwPolicy2* policy;
    INetFwRules* rules;
    INetFwRule* rule;
    RuleStrings strings;
};

// Returns false when any string could not be allocated; the ones that were
// stay in *strings for the caller to free.
bool AllocateRuleStrings(RuleStrings* strings)
{
    strings->name = SysAllocString(kRuleName);
    strings->grouping = SysAllocString(kRuleGrouping);
    strings->interfaceTypes = SysAllocString(kRuleInterfaceTypes);
    strings->remotePorts = SysAllocString(kRuleRemotePorts);
    strings->description = SysAllocString(kRuleDescription);
    return strings->name != nullptr && strings->grouping != nullptr &&
           strings->interfaceTypes != nullptr && strings->remotePorts != nullptr &&
           strings->description != nullptr;
}

void FreeRuleStrings(RuleStrings* strings)
{
    SysFreeString(strings->name);
    SysFreeString(strings->grouping);
    SysFreeString(strings->interfaceTypes);
    SysFreeString(strings->remotePorts);
    SysFreeString(strings->description);
    *strings = RuleStrings{};
}

// True when the firewall is on in at least one of the profiles now in force.
// A profile whose state cannot be read counts as off.
bool IsFirewallEnabled(INetFwPolicy2* policy)
{
    LONG currentProfiles = 0;
    if (FAILED(policy->get_CurrentProfileTypes(&currentProfiles))) {
        return false;
    }

    static const NET_FW_PROFILE_TYPE2 kProfiles[] = {
        NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC};
    LONG enabled = 0;
    for (NET_FW_PROFILE_TYPE2 profile : kProfiles) {
        if ((currentProfiles & profile) == 0) {
            continue;
        }
        VARIANT_BOOL profileEnabled = VARIANT_FALSE;
        if (SUCCEEDED(policy->get_FirewallEnabled(profile, &profileEnabled))) {
            enabled |= profileEnabled;  // sign-extends: VARIANT_TRUE sets every bit
        }
    }
    return enabled != 0;
}

// Property results are ignored: the rule is added as far as it could be set.
// Protocol must come before RemotePorts, since the firewall accepts port
// lists only on a TCP or UDP rule.
void SetRuleProperties(INetFwRule* rule, const RuleStrings& strings)
{
    rule->put_Name(strings.name);
    rule->put_Description(strings.description);
    rule->put_Direction(NET_FW_RULE_DIR_IN);
    rule->put_Protocol(NET_FW_IP_PROTOCOL_UDP);
    rule->put_RemotePorts(strings.remotePorts);
    rule->put_InterfaceTypes(strings.interfaceTypes);
    rule->put_Enabled(VARIANT_TRUE);
    rule->put_Grouping(strings.grouping);
    rule->put_Profiles(NET_FW_PROFILE2_ALL);
    rule->put_Action(NET_FW_ACTION_ALLOW);
}

// True when a rule of our name exists with exactly our grouping (letter case
// included). A grouping that cannot be read counts as different.
bool IsRulePresent(INetFwRules* rules, BSTR name, BSTR grouping)
{
    INetFwRule* existing = nullptr;
    if (FAILED(rules->Item(name, &existing)) || existing == nullptr) {
        return false;
    }

    BSTR existingGrouping = nullptr;
    bool present = SUCCEEDED(existing->get_Grouping(&existingGrouping)) &&
                   existingGrouping != nullptr && lstrcmpW(existingGrouping, grouping) == 0;
    SysFreeString(existingGrouping);
    existing->Release();
    return present;
}

// Obtains the policy and then the rules collection into *objects, stopping
// at the first failure; the caller releases whatever was obtained. S_FALSE:
// the firewall is off and the caller asked for the rules only when it is on.
HRESULT OpenRules(FirewallObjects* objects, bool onlyWhenEnabled)
{
    HRESULT result = g_platform.createInstance(kClsidNetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                               kIidINetFwPolicy2,
                                               reinterpret_cast<void**>(&objects->policy));
    if (FAILED(result)) {
        objects->policy = nullptr;
        return result;
    }
    if (onlyWhenEnabled && !IsFirewallEnabled(objects->policy)) {
        return S_FALSE;
    }
    result = objects->policy->get_Rules(&objects->rules);
    if (FAILED(result)) {
        objects->rules = nullptr;
    }
    return result;
}

// At start-up the rule is added only when the firewall is on, and missing
// rights earn the user a warning: the program works on without the rule,
// merely seeing fewer devices. The installer adds it whatever the state, so
// that it is in place when the firewall is turned on later, and reports
// through the result instead.
HRESULT AddRuleWhenMissing(FirewallObjects* objects, bool atStartUp, HWND owner)
{
    HRESULT result = OpenRules(objects, atStartUp);
    if (result != S_OK) {
        return result;
    }
    result = g_platform.createInstance(kClsidNetFwRule, nullptr, CLSCTX_INPROC_SERVER,
                                       kIidINetFwRule, reinterpret_cast<void**>(&objects->rule));
    if (FAILED(result)) {
        objects->rule = nullptr;
        return result;
    }
    if (!AllocateRuleStrings(&objects->strings)) {
        return E_OUTOFMEMORY;
    }

    SetRuleProperties(objects->rule, objects->strings);
    if (IsRulePresent(objects->rules, objects->strings.name, objects->strings.grouping)) {
        return S_OK;
    }
    result = objects->rules->Add(objects->rule);
    if (atStartUp && result == E_ACCESSDENIED) {
        g_platform.messageBox(owner, kWarningText, kWarningCaption, MB_OK | MB_ICONWARNING);
    }
    return result;
}

// Removes the rule only when it is ours (our name and grouping).
HRESULT RemoveRuleWhenPresent(FirewallObjects* objects)
{
    HRESULT result = OpenRules(objects, false);
    if (FAILED(result)) {
        return result;
    }
    if (!AllocateRuleStrings(&objects->strings)) {
        return E_OUTOFMEMORY;
    }
    if (!IsRulePresent(objects->rules, objects->strings.name, objects->strings.grouping)) {
        return S_OK;
    }
    return objects->rules->Remove(objects->strings.name);
}

void ReleaseObjects(FirewallObjects* objects)
{
    FreeRuleStrings(&objects->strings);
    if (objects->rule != nullptr) {
        objects->rule->Release();
        objects->rule = nullptr;
    }
    if (objects->rules != nullptr) {
        objects->rules->Release();
        objects->rules = nullptr;
    }
    if (objects->policy != nullptr) {
        objects->policy->Release();
        objects->policy = nullptr;
    }
}

enum class RuleTask { EnsureAtStartUp, Add, Remove };

// Runs one task in a single-threaded apartment of its own. S_FALSE: the
// thread had such an apartment already; the task stays out of its way and
// does nothing, but the initialisation still counted and is balanced.
HRESULT RunRuleTask(RuleTask task, HWND owner)
{
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (init == S_FALSE) {
        CoUninitialize();
        return S_FALSE;
    }
    // RPC_E_CHANGED_MODE: the thread is in another apartment already, which
    // serves as well; that initialisation is not ours to undo.
    if (init != S_OK && init != RPC_E_CHANGED_MODE) {
        return init;
    }

    FirewallObjects objects = {};
    HRESULT result = task == RuleTask::Remove
                         ? RemoveRuleWhenPresent(&objects)
                         : AddRuleWhenMissing(&objects, task == RuleTask::EnsureAtStartUp, owner);
    ReleaseObjects(&objects);

    if (init == S_OK) {
        CoUninitialize();
    }
    return result;
}

}  // namespace

void EnsureFirewallRule()
{
    // At start-up the window does not exist yet, so the box has no owner.
    RunRuleTask(RuleTask::EnsureAtStartUp, g_mainWindow);
}

HRESULT AddFirewallRule()
{
    return RunRuleTask(RuleTask::Add, nullptr);
}

HRESULT RemoveFirewallRule()
{
    return RunRuleTask(RuleTask::Remove, nullptr);
}
