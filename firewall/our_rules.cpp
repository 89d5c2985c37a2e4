// Finding and removing our rules among rules of the same name.
#include "firewall/our_rules.h"

#include "firewall/identifiers.h"

#include <objbase.h>
#include <wchar.h>

const wchar_t kOurRuleName[] = L"Announce";
// Marks the rule as ours: a rule of the same name from anyone else does not count.
const wchar_t kOurRuleGrouping[] = L"Orvel Electronics Ltd.";

namespace {

// A rule the firewall keeps and we could never remove would otherwise be
// found again and again.
const int kMaxRemovals = 16;

typedef HRESULT(STDMETHODCALLTYPE INetFwRule::*StringGetter)(BSTR*);

// True when the property reads as exactly `expected`; a null or empty
// `expected` matches a property that is missing or empty. Paths compare
// without regard to letter case, as Windows treats them.
bool PropertyIs(INetFwRule* rule, StringGetter getter, const wchar_t* expected, bool ignoreCase)
{
    BSTR value = nullptr;
    if (FAILED((rule->*getter)(&value))) {
        return false;
    }
    bool valueEmpty = value == nullptr || value[0] == L'\0';
    bool expectedEmpty = expected == nullptr || expected[0] == L'\0';
    bool same = valueEmpty || expectedEmpty
                    ? valueEmpty == expectedEmpty
                    : CompareStringOrdinal(value, -1, expected, -1, ignoreCase ? TRUE : FALSE) ==
                          CSTR_EQUAL;
    SysFreeString(value);
    return same;
}

bool IsOurRuleFor(INetFwRule* rule, const wchar_t* programPath)
{
    return PropertyIs(rule, &INetFwRule::get_Name, kOurRuleName, false) &&
           PropertyIs(rule, &INetFwRule::get_Grouping, kOurRuleGrouping, false) &&
           PropertyIs(rule, &INetFwRule::get_ApplicationName, programPath, true);
}

// The rule an enumerated item holds, with a reference, or null.
INetFwRule* RuleOf(VARIANT* item)
{
    if (item->vt != VT_DISPATCH && item->vt != VT_UNKNOWN) {
        return nullptr;
    }
    IUnknown* object = item->vt == VT_DISPATCH ? item->pdispVal : item->punkVal;
    INetFwRule* rule = nullptr;
    if (object == nullptr ||
        FAILED(object->QueryInterface(kIidINetFwRule, reinterpret_cast<void**>(&rule)))) {
        return nullptr;
    }
    return rule;
}

HRESULT OpenEnumeration(INetFwRules* rules, IEnumVARIANT** items)
{
    *items = nullptr;
    IUnknown* collection = nullptr;
    HRESULT result = rules->get__NewEnum(&collection);
    if (FAILED(result)) {
        return result;
    }
    if (collection == nullptr) {
        return E_POINTER;
    }
    result = collection->QueryInterface(kIidIEnumVARIANT, reinterpret_cast<void**>(items));
    collection->Release();
    if (FAILED(result)) {
        *items = nullptr;
    }
    return result;
}

}  // namespace

HRESULT FindOurRule(INetFwRules* rules, const wchar_t* programPath, INetFwRule** found)
{
    *found = nullptr;
    IEnumVARIANT* items = nullptr;
    HRESULT result = OpenEnumeration(rules, &items);
    if (FAILED(result)) {
        return result;
    }
    result = S_FALSE;
    for (;;) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        HRESULT next = items->Next(1, &item, &fetched);
        if (FAILED(next)) {
            result = next;
            break;
        }
        if (next != S_OK || fetched != 1) {
            VariantClear(&item);
            break;
        }
        INetFwRule* rule = RuleOf(&item);
        VariantClear(&item);
        if (rule != nullptr && IsOurRuleFor(rule, programPath)) {
            *found = rule;
            result = S_OK;
            break;
        }
        if (rule != nullptr) {
            rule->Release();
        }
    }
    items->Release();
    return result;
}

HRESULT RemoveExactly(INetFwRules* rules, INetFwRule* rule)
{
    // A name nobody else has: ours with a fresh GUID. No "|", which a rule
    // name must not hold.
    GUID unique = {};
    HRESULT result = CoCreateGuid(&unique);
    if (FAILED(result)) {
        return result;
    }
    wchar_t name[80] = {};
    wchar_t guidText[40] = {};
    if (StringFromGUID2(unique, guidText, ARRAYSIZE(guidText)) == 0) {
        return E_UNEXPECTED;
    }
    _snwprintf(name, ARRAYSIZE(name) - 1, L"%ls %ls", kOurRuleName, guidText);

    BSTR uniqueName = SysAllocString(name);
    if (uniqueName == nullptr) {
        return E_OUTOFMEMORY;
    }
    result = rule->put_Name(uniqueName);
    if (SUCCEEDED(result)) {
        result = rules->Remove(uniqueName);
        if (FAILED(result)) {
            // A rule we could not remove keeps its name, as far as it can.
            BSTR ourName = SysAllocString(kOurRuleName);
            if (ourName != nullptr) {
                rule->put_Name(ourName);
            }
            SysFreeString(ourName);
        }
    }
    SysFreeString(uniqueName);
    return result;
}

HRESULT RemoveOurRules(INetFwRules* rules, const wchar_t* programPath)
{
    for (int removed = 0; removed < kMaxRemovals; ++removed) {
        INetFwRule* rule = nullptr;
        HRESULT result = FindOurRule(rules, programPath, &rule);
        if (result != S_OK) {
            return SUCCEEDED(result) ? S_OK : result;
        }
        result = RemoveExactly(rules, rule);
        rule->Release();
        if (FAILED(result)) {
            return result;
        }
    }
    return E_FAIL;
}
