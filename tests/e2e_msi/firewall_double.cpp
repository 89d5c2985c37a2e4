// The firewall as an end-to-end test's Wine prefix sees it: an in-process COM
// server registered there in place of Wine's own firewall objects (which
// report nothing and keep no rule). It is the unit tests' doubles with the
// firewall on and the rules kept in the registry, one key per rule under
// HKLM\Software\NDT Test Firewall\Rules (named 1, 2, ...), one value per
// property set; several rules may share a name, as in the real firewall. So
// the test reads what the installed program added or removed, and can put
// another product's rules beside ours. Remove takes away every rule of the
// name, the harshest reading of the documented call. A DWORD RefuseAdd=1
// under HKLM\Software\NDT Test Firewall makes adding fail with E_ACCESSDENIED.
#include "firewall/firewall_doubles.h"

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

namespace {

const wchar_t kFirewallKey[] = L"Software\\NDT Test Firewall";
const wchar_t kRulesKey[] = L"Software\\NDT Test Firewall\\Rules";

std::wstring RuleKey(const std::wstring& number)
{
    return std::wstring(kRulesKey) + L"\\" + number;
}

// The numbers of the rules' keys.
std::vector<std::wstring> RuleKeys()
{
    std::vector<std::wstring> keys;
    HKEY rules = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRulesKey, 0, KEY_READ, &rules) != ERROR_SUCCESS) {
        return keys;
    }
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(rules, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        keys.push_back(name);
    }
    RegCloseKey(rules);
    return keys;
}

std::wstring ReadValue(const std::wstring& key, const wchar_t* value)
{
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    return text;
}

void WriteValue(HKEY key, const std::wstring& name, const std::wstring& value)
{
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// A rule the collection handed out: its properties as the registry holds
// them, and a rename written straight back.
class RegistryRule : public FakeRule {
public:
    RegistryRule(EventLog* log, const std::wstring& key) : FakeRule(L"stored", log), key_(key)
    {
        for (const wchar_t* property : {L"Name", L"Grouping", L"ApplicationName"}) {
            std::wstring value = ReadValue(key_, property);
            if (!value.empty()) {
                values[property] = value;
            }
        }
    }

    HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override
    {
        HKEY key = nullptr;
        if (name == nullptr ||
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
            return E_INVALIDARG;
        }
        WriteValue(key, L"Name", name);
        RegCloseKey(key);
        return FakeRule::put_Name(name);
    }

private:
    std::wstring key_;
};

// The rules collection, kept in the registry.
class RegistryRules : public FakeRules {
public:
    RegistryRules(EventLog* log, FakeRule* created) : FakeRules(log), events_(log), created_(created) {}

    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** items) override
    {
        stored.clear();
        for (const std::wstring& number : RuleKeys()) {
            pool_.emplace_back(events_, RuleKey(number));
            stored.push_back(&pool_.back());
        }
        return FakeRules::get__NewEnum(items);
    }

    // The rule added is the double the program created and set.
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override
    {
        DWORD refuse = 0;
        DWORD size = sizeof(refuse);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, kFirewallKey, L"RefuseAdd", RRF_RT_REG_DWORD, nullptr,
                         &refuse, &size) == ERROR_SUCCESS &&
            refuse != 0) {
            return E_ACCESSDENIED;
        }
        if (rule != static_cast<INetFwRule*>(created_)) {
            return E_INVALIDARG;
        }
        std::vector<std::wstring> taken = RuleKeys();
        int number = 1;
        while (std::find(taken.begin(), taken.end(), std::to_wstring(number)) != taken.end()) {
            ++number;
        }
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, RuleKey(std::to_wstring(number)).c_str(),
                                         0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(status);
        }
        for (const auto& property : created_->values) {
            WriteValue(key, property.first, property.second);
        }
        RegCloseKey(key);
        created_->values.clear();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override
    {
        for (const std::wstring& number : RuleKeys()) {
            if (name != nullptr && ReadValue(RuleKey(number), L"Name") == name) {
                RegDeleteKeyW(HKEY_LOCAL_MACHINE, RuleKey(number).c_str());
            }
        }
        return S_OK;
    }

private:
    EventLog* events_;
    FakeRule* created_;
    std::deque<RegistryRule> pool_;  // every rule handed out lives as long as the process
};

struct RegistryFirewall {
    FirewallDoubles doubles;
    RegistryRules rules{&doubles.log, &doubles.newRule};

    // The firewall is on: the public profile, as the doubles start.
    RegistryFirewall() { doubles.policy.rules = &rules; }
};

RegistryFirewall& Firewall()
{
    static RegistryFirewall firewall;
    return firewall;
}

// One factory per class; the objects live as long as the process.
class Factory : public IClassFactory {
public:
    explicit Factory(const CLSID& clsid) : clsid_(clsid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        FirewallDoubles& doubles = Firewall().doubles;
        if (IsEqualCLSID(clsid_, kTestClsidNetFwPolicy2)) {
            return doubles.policy.QueryInterface(iid, object);
        }
        return doubles.newRule.QueryInterface(iid, object);
    }

private:
    CLSID clsid_;
};

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    static Factory policyFactory(kTestClsidNetFwPolicy2);
    static Factory ruleFactory(kTestClsidNetFwRule);
    if (IsEqualCLSID(clsid, kTestClsidNetFwPolicy2)) {
        return policyFactory.QueryInterface(iid, object);
    }
    if (IsEqualCLSID(clsid, kTestClsidNetFwRule)) {
        return ruleFactory.QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}
