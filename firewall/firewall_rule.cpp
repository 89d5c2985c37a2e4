// The inbound rules that let the devices' UDP answers through the Windows
// Firewall. Discovery sockets use whatever local port the system picks, so a
// rule allows inbound UDP from remote port 30303 to any local port; it names
// the program's executable, so that only our programs receive through it.
// Every profile and every remote address: a cable straight to a device is
// an unidentified network (public), and devices of other subnets answer too.
// The window program adds its own rule at start-up when the firewall is on
// and the rule is missing; an ordinary user lacks the rights, which earns a
// warning box, and start-up goes on either way. The console only reads. The
// installer adds the rules of both programs and the uninstaller removes them
// (the window program's /AddFirewallRule and /RemoveFirewallRule switches).
#include "core/platform.h"

#include "firewall/firewall_rule.h"

#include "core/globals.h"
#include "firewall/firewall_session.h"
#include "firewall/identifiers.h"
#include "firewall/our_rules.h"

#include <objbase.h>
#include <oleauto.h>
#include <netfw.h>

namespace {

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
    BSTR application;
};

// Everything a task obtains, so that one place can release it.
struct FirewallObjects {
    INetFwPolicy2* policy;
    INetFwRules* rules;
};

// Returns false when any string could not be allocated; the ones that were
// stay in *strings for the caller to free.
bool AllocateRuleStrings(const wchar_t* programPath, RuleStrings* strings)
{
    strings->name = SysAllocString(kOurRuleName);
    strings->grouping = SysAllocString(kOurRuleGrouping);
    strings->interfaceTypes = SysAllocString(kRuleInterfaceTypes);
    strings->remotePorts = SysAllocString(kRuleRemotePorts);
    strings->description = SysAllocString(kRuleDescription);
    strings->application = SysAllocString(programPath);
    return strings->name != nullptr && strings->grouping != nullptr &&
           strings->interfaceTypes != nullptr && strings->remotePorts != nullptr &&
           strings->description != nullptr && strings->application != nullptr;
}

void FreeRuleStrings(RuleStrings* strings)
{
    SysFreeString(strings->name);
    SysFreeString(strings->grouping);
    SysFreeString(strings->interfaceTypes);
    SysFreeString(strings->remotePorts);
    SysFreeString(strings->description);
    SysFreeString(strings->application);
    *strings = RuleStrings{};
}

// True when the firewall is on in at least one of the profiles now in force.
bool IsFirewallEnabled(INetFwPolicy2* policy)
{
    LONG inForce = 0;
    LONG on = 0;
    return SUCCEEDED(ReadFirewallProfiles(policy, &inForce, &on)) && on != 0;
}

// Property results are ignored: the rule is added as far as it could be set.
// Protocol must come before RemotePorts, since the firewall accepts port
// lists only on a TCP or UDP rule.
void SetRuleProperties(INetFwRule* rule, const RuleStrings& strings)
{
    rule->put_Name(strings.name);
    rule->put_Description(strings.description);
    rule->put_ApplicationName(strings.application);
    rule->put_Direction(NET_FW_RULE_DIR_IN);
    rule->put_Protocol(NET_FW_IP_PROTOCOL_UDP);
    rule->put_RemotePorts(strings.remotePorts);
    rule->put_InterfaceTypes(strings.interfaceTypes);
    rule->put_Enabled(VARIANT_TRUE);
    rule->put_Grouping(strings.grouping);
    rule->put_Profiles(NET_FW_PROFILE2_ALL);
    rule->put_Action(NET_FW_ACTION_ALLOW);
}

// Obtains the policy and then the rules collection into *objects, stopping
// at the first failure; the caller releases whatever was obtained. S_FALSE:
// the firewall is off and the caller asked for the rules only when it is on.
HRESULT OpenRules(FirewallObjects* objects, bool onlyWhenEnabled)
{
    HRESULT result = OpenFirewallPolicy(&objects->policy);
    if (FAILED(result)) {
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

// True when our rule for the program is there. A collection that cannot be
// walked counts as holding no rule of ours: Add then tells the truth.
bool HasOurRule(INetFwRules* rules, const wchar_t* programPath)
{
    INetFwRule* found = nullptr;
    if (FindOurRule(rules, programPath, &found) != S_OK) {
        return false;
    }
    found->Release();
    return true;
}

// Adds our rule for the program unless it is there.
HRESULT AddRuleWhenMissing(INetFwRules* rules, const wchar_t* programPath)
{
    if (HasOurRule(rules, programPath)) {
        return S_OK;
    }
    INetFwRule* rule = nullptr;
    HRESULT result = g_platform.createInstance(kClsidNetFwRule, nullptr, CLSCTX_INPROC_SERVER,
                                               kIidINetFwRule, reinterpret_cast<void**>(&rule));
    if (FAILED(result)) {
        return result;
    }
    RuleStrings strings = {};
    if (AllocateRuleStrings(programPath, &strings)) {
        SetRuleProperties(rule, strings);
        result = rules->Add(rule);
    } else {
        result = E_OUTOFMEMORY;
    }
    FreeRuleStrings(&strings);
    rule->Release();
    return result;
}

void ReleaseObjects(FirewallObjects* objects)
{
    if (objects->rules != nullptr) {
        objects->rules->Release();
        objects->rules = nullptr;
    }
    if (objects->policy != nullptr) {
        objects->policy->Release();
        objects->policy = nullptr;
    }
}

enum class RuleTask { EnsureAtStartUp, CheckOnly, Add, Remove };

struct TaskRequest {
    RuleTask task;
    const wchar_t* const* programPaths;
    int count;
    HWND owner;
    bool missing;  // CheckOnly's answer
};

// At start-up the rule is added only when the firewall is on, and missing
// rights earn the user a warning: the program works on without the rule,
// merely seeing fewer devices. The installer adds the rules whatever the
// state, so that they are in place when the firewall is turned on later,
// and reports through the result instead.
HRESULT RunTask(FirewallObjects* objects, TaskRequest* request)
{
    bool installer = request->task == RuleTask::Add || request->task == RuleTask::Remove;
    HRESULT result = OpenRules(objects, !installer);
    if (result != S_OK) {
        return result;
    }
    const wchar_t* firstPath = request->count > 0 ? request->programPaths[0] : nullptr;
    switch (request->task) {
    case RuleTask::CheckOnly: {
        INetFwRule* found = nullptr;
        result = FindOurRule(objects->rules, firstPath, &found);
        if (found != nullptr) {
            found->Release();
        }
        request->missing = result == S_FALSE;
        return result;
    }
    case RuleTask::EnsureAtStartUp:
        result = AddRuleWhenMissing(objects->rules, firstPath);
        if (result == E_ACCESSDENIED) {
            g_platform.messageBox(request->owner, kWarningText, kWarningCaption,
                                  MB_OK | MB_ICONWARNING);
        }
        return result;
    case RuleTask::Add:
        // An older rule of ours admitted every program: it goes first.
        result = RemoveOurRules(objects->rules, nullptr);
        for (int i = 0; i < request->count; ++i) {
            HRESULT added = AddRuleWhenMissing(objects->rules, request->programPaths[i]);
            result = FAILED(result) ? result : added;
        }
        return result;
    case RuleTask::Remove:
        result = RemoveOurRules(objects->rules, nullptr);
        for (int i = 0; i < request->count; ++i) {
            HRESULT removed = RemoveOurRules(objects->rules, request->programPaths[i]);
            result = FAILED(result) ? result : removed;
        }
        return result;
    }
    return E_UNEXPECTED;
}

// Runs one task in a single-threaded apartment of its own. S_FALSE: the
// thread had such an apartment already; the task stays out of its way and
// does nothing, but the initialisation still counted and is balanced.
HRESULT RunRuleTask(TaskRequest* request)
{
    // A rule without a path would admit every program.
    if (request->count <= 0 || request->programPaths == nullptr) {
        return E_INVALIDARG;
    }
    for (int i = 0; i < request->count; ++i) {
        if (request->programPaths[i] == nullptr || request->programPaths[i][0] == L'\0') {
            return E_INVALIDARG;
        }
    }
    HRESULT init = S_OK;
    HRESULT entered = EnterFirewallApartment(&init);
    if (entered != S_OK) {
        return entered;
    }

    FirewallObjects objects = {};
    HRESULT result = RunTask(&objects, request);
    ReleaseObjects(&objects);

    LeaveFirewallApartment(init);
    return result;
}

}  // namespace

void EnsureFirewallRule(const wchar_t* programPath)
{
    // At start-up the window does not exist yet, so the box has no owner.
    TaskRequest request = {RuleTask::EnsureAtStartUp, &programPath, 1, g_mainWindow, false};
    RunRuleTask(&request);
}

bool IsFirewallRuleMissing(const wchar_t* programPath)
{
    TaskRequest request = {RuleTask::CheckOnly, &programPath, 1, nullptr, false};
    RunRuleTask(&request);
    return request.missing;
}

HRESULT AddFirewallRules(const wchar_t* const* programPaths, int count)
{
    TaskRequest request = {RuleTask::Add, programPaths, count, nullptr, false};
    return RunRuleTask(&request);
}

HRESULT RemoveFirewallRules(const wchar_t* const* programPaths, int count)
{
    TaskRequest request = {RuleTask::Remove, programPaths, count, nullptr, false};
    return RunRuleTask(&request);
}
