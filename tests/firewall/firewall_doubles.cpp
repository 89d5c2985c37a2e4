// Behaviour of the firewall COM doubles and of the two seam replacements.
#include "firewall/firewall_doubles.h"

#include <cwchar>

const CLSID kTestClsidNetFwPolicy2 = {
    0xE2B3C97F, 0x6AE1, 0x41AC, {0x81, 0x7A, 0xF6, 0xF9, 0x21, 0x66, 0xD7, 0xDD}};
const IID kTestIidINetFwPolicy2 = {
    0x98325047, 0xC671, 0x4174, {0x8D, 0x81, 0xDE, 0xFC, 0xD3, 0xF0, 0x31, 0x86}};
const CLSID kTestClsidNetFwRule = {
    0x2C5BC43E, 0x3369, 0x4C33, {0xAB, 0x0C, 0xBE, 0x94, 0x69, 0x67, 0x7A, 0xF4}};
const IID kTestIidINetFwRule = {
    0xAF230D27, 0xBABA, 0x4E42, {0xAC, 0xED, 0xF5, 0x24, 0xF2, 0x2C, 0xFC, 0xE2}};
const IID kTestIidINetFwRules = {
    0x9C4C6277, 0x5027, 0x441E, {0xAF, 0xAE, 0xCA, 0x1F, 0x54, 0x2D, 0xA0, 0x09}};

// ---- FakeRule ----

HRESULT FakeRule::Get(const wchar_t* property, BSTR* value)
{
    Log(label_ + L".get_" + property);
    if (value == nullptr) {
        return E_POINTER;
    }
    auto found = values.find(property);
    // The caller owns the string from here on.
    *value = found != values.end() ? SysAllocString(found->second.c_str()) : nullptr;
    return S_OK;
}

HRESULT FakeRule::get_Grouping(BSTR* context)
{
    if (FAILED(groupingResult)) {
        Log(label_ + L".get_Grouping");
        return groupingResult;
    }
    return Get(L"Grouping", context);
}

void FakeRule::LogString(const wchar_t* property, BSTR value)
{
    if (isAutomationString && !isAutomationString(value)) {
        ++rejectedStrings;
    }
    Log(label_ + L"." + property + L" " + (value != nullptr ? value : L"<null>"));
    if (SUCCEEDED(putResult)) {
        values[property] = value != nullptr ? value : L"";
    }
}

void FakeRule::LogNumber(const wchar_t* property, long value)
{
    Log(label_ + L"." + property + L" " + std::to_wstring(value));
    if (SUCCEEDED(putResult)) {
        values[property] = std::to_wstring(value);
    }
}

HRESULT FakeRule::put_Name(BSTR name)
{
    receivedName = name;
    LogString(L"Name", name);
    return putResult;
}

HRESULT FakeRule::put_ApplicationName(BSTR path)
{
    LogString(L"ApplicationName", path);
    return putResult;
}

HRESULT FakeRule::put_Description(BSTR desc)
{
    receivedDescription = desc;
    LogString(L"Description", desc);
    return putResult;
}

HRESULT FakeRule::put_Protocol(LONG protocol)
{
    LogNumber(L"Protocol", protocol);
    return putResult;
}

HRESULT FakeRule::put_RemotePorts(BSTR ports)
{
    LogString(L"RemotePorts", ports);
    return putResult;
}

HRESULT FakeRule::put_Direction(NET_FW_RULE_DIRECTION dir)
{
    LogNumber(L"Direction", dir);
    return putResult;
}

HRESULT FakeRule::put_InterfaceTypes(BSTR types)
{
    LogString(L"InterfaceTypes", types);
    return putResult;
}

HRESULT FakeRule::put_Enabled(VARIANT_BOOL enabled)
{
    LogNumber(L"Enabled", enabled);
    return putResult;
}

HRESULT FakeRule::put_Grouping(BSTR context)
{
    LogString(L"Grouping", context);
    return putResult;
}

HRESULT FakeRule::put_Profiles(LONG profiles)
{
    LogNumber(L"Profiles", profiles);
    return putResult;
}

HRESULT FakeRule::put_Action(NET_FW_ACTION action)
{
    LogNumber(L"Action", action);
    return putResult;
}

// ---- FakeRuleEnum ----

HRESULT FakeRuleEnum::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumVARIANT)) {
        *object = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT FakeRuleEnum::Next(ULONG count, VARIANT* items, ULONG* fetched)
{
    ULONG given = 0;
    for (; given < count && position < rules.size(); ++given, ++position) {
        VariantInit(&items[given]);
        items[given].vt = VT_DISPATCH;
        items[given].pdispVal = static_cast<IDispatch*>(rules[position]);
        rules[position]->AddRef();
    }
    if (fetched != nullptr) {
        *fetched = given;
    }
    return given == count ? S_OK : S_FALSE;
}

// ---- FakeRules ----

HRESULT FakeRules::get__NewEnum(IUnknown** items)
{
    Log(L"rules.get__NewEnum");
    if (items == nullptr) {
        return E_POINTER;
    }
    *items = nullptr;
    if (FAILED(enumResult)) {
        return enumResult;
    }
    enumerator.rules = stored;
    enumerator.position = 0;
    return enumerator.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(items));
}

HRESULT FakeRules::Add(INetFwRule* rule)
{
    Log(L"rules.Add");
    added.push_back(rule);
    if (onAdd) {
        onAdd();
    }
    return addResult;
}

HRESULT FakeRules::Remove(BSTR name)
{
    Log(std::wstring(L"rules.Remove ") + (name != nullptr ? name : L"<null>"));
    if (FAILED(removeResult)) {
        return removeResult;
    }
    std::vector<FakeRule*> kept;
    for (FakeRule* rule : stored) {
        auto found = rule->values.find(L"Name");
        if (name == nullptr || found == rule->values.end() || found->second != name) {
            kept.push_back(rule);
        }
    }
    stored = kept;
    return removeResult;
}

// ---- FakePolicy ----

HRESULT FakePolicy::get_CurrentProfileTypes(LONG* profile)
{
    Log(L"policy.get_CurrentProfileTypes");
    if (profile == nullptr) {
        return E_POINTER;
    }
    if (SUCCEEDED(profileTypesResult)) {
        *profile = profileTypes;
    }
    return profileTypesResult;
}

HRESULT FakePolicy::get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profileType, VARIANT_BOOL* enabled)
{
    Log(L"policy.get_FirewallEnabled " + std::to_wstring(profileType));
    if (enabled == nullptr) {
        return E_POINTER;
    }
    const ProfileState* state = nullptr;
    switch (profileType) {
    case NET_FW_PROFILE2_DOMAIN: state = &domain; break;
    case NET_FW_PROFILE2_PRIVATE: state = &privateProfile; break;
    case NET_FW_PROFILE2_PUBLIC: state = &publicProfile; break;
    default: return E_INVALIDARG;
    }
    // Written even on failure: a careless caller would then see "on".
    *enabled = state->value;
    return state->result;
}

HRESULT FakePolicy::get_Rules(INetFwRules** result)
{
    Log(L"policy.get_Rules");
    if (result == nullptr) {
        return E_POINTER;
    }
    *result = nullptr;
    if (FAILED(rulesResult)) {
        return rulesResult;
    }
    rules->AddRef();
    *result = rules;
    return S_OK;
}

// ---- FirewallDoubles and the seams ----

bool FirewallDoubles::AllReleased() const
{
    for (const FakeRule* rule : {&newRule, &existingRule, &otherRule}) {
        if (rule->references != 0 || rule->overReleases != 0) {
            return false;
        }
    }
    return policy.references == 0 && rules.references == 0 && rules.enumerator.references == 0 &&
           policy.overReleases == 0 && rules.overReleases == 0 &&
           rules.enumerator.overReleases == 0;
}

namespace {

FirewallDoubles* g_doubles = nullptr;
std::vector<CapturedBox> g_boxes;

}  // namespace

void UseFirewallDoubles(FirewallDoubles* doubles)
{
    g_doubles = doubles;
}

HRESULT WINAPI CreateFirewallDouble(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                    LPVOID* object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (g_doubles == nullptr) {
        return REGDB_E_CLASSNOTREG;
    }
    g_doubles->creations.push_back(CreateCall{clsid, outer, context, iid});
    if (IsEqualCLSID(clsid, kTestClsidNetFwPolicy2)) {
        g_doubles->log.push_back(L"create NetFwPolicy2");
        if (FAILED(g_doubles->policyCreateResult)) {
            return g_doubles->policyCreateResult;
        }
        return g_doubles->policy.QueryInterface(iid, object);
    }
    if (IsEqualCLSID(clsid, kTestClsidNetFwRule)) {
        g_doubles->log.push_back(L"create NetFwRule");
        if (FAILED(g_doubles->ruleCreateResult)) {
            return g_doubles->ruleCreateResult;
        }
        return g_doubles->newRule.QueryInterface(iid, object);
    }
    g_doubles->log.push_back(L"create <unknown class>");
    return REGDB_E_CLASSNOTREG;
}

int WINAPI CaptureMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    g_boxes.push_back(CapturedBox{owner, text != nullptr ? text : L"<null>",
                                  caption != nullptr ? caption : L"<null>", type});
    return IDOK;
}

std::vector<CapturedBox>& CapturedBoxes()
{
    return g_boxes;
}
