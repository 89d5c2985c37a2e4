// The firewall as an end-to-end test's Wine prefix sees it: an in-process COM
// server registered there in place of Wine's own firewall objects (which
// report nothing and keep no rule). It is the unit tests' doubles with the
// firewall on and the rules kept in the registry, one key per rule under
// HKLM\Software\NDT Test Firewall\Rules named after the rule, one value per
// property the program set; so the test reads what the installed program
// added or removed. A DWORD RefuseAdd=1 under HKLM\Software\NDT Test Firewall
// makes adding fail with E_ACCESSDENIED.
#include "firewall/firewall_doubles.h"

#include <string>

namespace {

const wchar_t kFirewallKey[] = L"Software\\NDT Test Firewall";

std::wstring RuleKey(const wchar_t* name)
{
    return std::wstring(kFirewallKey) + L"\\Rules\\" + (name != nullptr ? name : L"");
}

// The rules collection, kept in the registry.
class RegistryRules : public FakeRules {
public:
    RegistryRules(EventLog* log, FakeRule* stored) : FakeRules(log), events_(log), stored_(stored) {}

    HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** rule) override
    {
        if (rule == nullptr) {
            return E_POINTER;
        }
        *rule = nullptr;
        wchar_t grouping[256] = {};
        DWORD size = sizeof(grouping) - sizeof(wchar_t);
        LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, RuleKey(name).c_str(), L"Grouping",
                                      RRF_RT_REG_SZ, nullptr, grouping, &size);
        if (status != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
        grouping_ = grouping;
        stored_->groupingText = grouping_.c_str();
        stored_->AddRef();
        *rule = stored_;
        return S_OK;
    }

    // The rule added is the double the program created: its puts are in the
    // event log as "rule.<Property> <value>".
    HRESULT STDMETHODCALLTYPE Add(INetFwRule*) override
    {
        DWORD refuse = 0;
        DWORD size = sizeof(refuse);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, kFirewallKey, L"RefuseAdd", RRF_RT_REG_DWORD, nullptr,
                         &refuse, &size) == ERROR_SUCCESS &&
            refuse != 0) {
            return E_ACCESSDENIED;
        }
        std::wstring name;
        for (const std::wstring& event : *events_) {
            if (event.compare(0, 10, L"rule.Name ") == 0) {
                name = event.substr(10);
            }
        }
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, RuleKey(name.c_str()).c_str(), 0, nullptr,
                                         0, KEY_SET_VALUE, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(status);
        }
        for (const std::wstring& event : *events_) {
            size_t space = event.find(L' ');
            if (event.compare(0, 5, L"rule.") != 0 || space == std::wstring::npos) {
                continue;
            }
            std::wstring property = event.substr(5, space - 5);
            std::wstring value = event.substr(space + 1);
            RegSetValueExW(key, property.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override
    {
        LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, RuleKey(name).c_str());
        return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
    }

private:
    EventLog* events_;
    FakeRule* stored_;
    std::wstring grouping_;
};

struct RegistryFirewall {
    FirewallDoubles doubles;
    RegistryRules rules{&doubles.log, &doubles.existingRule};

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
