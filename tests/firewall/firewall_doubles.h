// Hand-written stand-ins for the firewall's COM objects (policy, rules
// collection, rule). Each double counts its references, answers what a test
// configured, and writes what it was asked into a shared event log, so a test
// can check the order of calls across objects and that every reference the
// code under test obtained was given back. Methods the step does not use
// return E_NOTIMPL.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <netfw.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// Published identifiers, written out independently of the product code.
extern const CLSID kTestClsidNetFwPolicy2;
extern const IID kTestIidINetFwPolicy2;
extern const CLSID kTestClsidNetFwRule;
extern const IID kTestIidINetFwRule;
extern const IID kTestIidINetFwRules;

using EventLog = std::vector<std::wstring>;

// Reference counting and the IUnknown/IDispatch plumbing shared by the doubles.
// The test owns the objects; a count of zero only means nobody else holds one.
template <class Interface>
class ComDouble : public Interface {
public:
    ComDouble(const IID& iid, EventLog* log) : log_(log), iid_(iid) {}
    ComDouble(const ComDouble&) = delete;
    ComDouble& operator=(const ComDouble&) = delete;
    virtual ~ComDouble() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, iid_)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (references == 0) {
            ++overReleases;
            return 0;
        }
        return static_cast<ULONG>(--references);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    long references = 0;
    int overReleases = 0;

protected:
    void Log(const std::wstring& event) { log_->push_back(event); }

private:
    EventLog* log_;
    IID iid_;
};

// A rule. Logs every put as "<label>.<Property> <value>" and keeps the value,
// which the gets answer; string values must arrive as OLE Automation
// strings, which `isAutomationString` judges.
class FakeRule : public ComDouble<INetFwRule> {
public:
    FakeRule(const wchar_t* label, EventLog* log) : ComDouble(kTestIidINetFwRule, log), label_(label) {}

    // The rule's properties by name ("Name", "Grouping", "ApplicationName",
    // ...): preset by a test, changed by every put. A missing one reads as
    // a null string.
    std::map<std::wstring, std::wstring> values;
    // What get_Grouping answers when it fails.
    HRESULT groupingResult = S_OK;
    // What every put answers.
    HRESULT putResult = S_OK;
    // What get_Enabled answers.
    VARIANT_BOOL enabled = VARIANT_TRUE;

    // Judges each string a put receives; a string it rejects is counted.
    std::function<bool(BSTR)> isAutomationString;
    int rejectedStrings = 0;
    // The strings received, by property, to tell separate strings apart.
    BSTR receivedName = nullptr;
    BSTR receivedDescription = nullptr;

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override { return Get(L"Name", name); }
    HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* path) override
    {
        return Get(L"ApplicationName", path);
    }
    HRESULT STDMETHODCALLTYPE get_Grouping(BSTR* context) override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR name) override;
    HRESULT STDMETHODCALLTYPE put_Description(BSTR desc) override;
    HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR path) override;
    HRESULT STDMETHODCALLTYPE put_Protocol(LONG protocol) override;
    HRESULT STDMETHODCALLTYPE put_RemotePorts(BSTR ports) override;
    HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION dir) override;
    HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR types) override;
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override;
    HRESULT STDMETHODCALLTYPE put_Grouping(BSTR context) override;
    HRESULT STDMETHODCALLTYPE put_Profiles(LONG profiles) override;
    HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION action) override;

    // Not used by the step.
    HRESULT STDMETHODCALLTYPE get_Description(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_ServiceName(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Protocol(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalPorts(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RemotePorts(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalAddresses(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_LocalAddresses(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IcmpTypesAndCodes(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IcmpTypesAndCodes(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Direction(NET_FW_RULE_DIRECTION*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Interfaces(VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Interfaces(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_InterfaceTypes(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* value) override
    {
        Log(label_ + L".get_Enabled");
        if (value == nullptr) {
            return E_POINTER;
        }
        *value = enabled;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Profiles(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_EdgeTraversal(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_EdgeTraversal(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Action(NET_FW_ACTION*) override { return E_NOTIMPL; }

private:
    HRESULT Get(const wchar_t* property, BSTR* value);
    void LogString(const wchar_t* property, BSTR value);
    void LogNumber(const wchar_t* property, long value);

    std::wstring label_;
};

// The enumerator the collection hands out: the rules it held then, each as
// an IDispatch in a VARIANT.
class FakeRuleEnum : public IEnumVARIANT {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (references == 0) {
            ++overReleases;
            return 0;
        }
        return static_cast<ULONG>(--references);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

    std::vector<FakeRule*> rules;
    size_t position = 0;
    long references = 0;
    int overReleases = 0;
};

// The rules collection: `stored` is what it holds, handed out by
// get__NewEnum. Remove takes every stored rule of the name away, the
// harshest reading of a call whose choice among rules of one name is not
// documented.
class FakeRules : public ComDouble<INetFwRules> {
public:
    explicit FakeRules(EventLog* log) : ComDouble(kTestIidINetFwRules, log) {}

    std::vector<FakeRule*> stored;
    HRESULT enumResult = S_OK;
    HRESULT addResult = S_OK;
    HRESULT removeResult = S_OK;
    std::vector<INetFwRule*> added;
    // Runs inside Add, before it returns.
    std::function<void()> onAdd;
    FakeRuleEnum enumerator;

    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** items) override;
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override;
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override;

    HRESULT STDMETHODCALLTYPE Item(BSTR, INetFwRule**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Count(LONG*) override { return E_NOTIMPL; }
};

// The firewall policy: the profiles in force, each profile's state, the rules.
class FakePolicy : public ComDouble<INetFwPolicy2> {
public:
    struct ProfileState {
        HRESULT result;
        VARIANT_BOOL value;  // written to the caller even when result is a failure
    };

    explicit FakePolicy(EventLog* log) : ComDouble(kTestIidINetFwPolicy2, log) {}

    HRESULT profileTypesResult = S_OK;
    LONG profileTypes = NET_FW_PROFILE2_PUBLIC;
    ProfileState domain = {S_OK, VARIANT_FALSE};
    ProfileState privateProfile = {S_OK, VARIANT_FALSE};
    ProfileState publicProfile = {S_OK, VARIANT_TRUE};
    HRESULT rulesResult = S_OK;
    FakeRules* rules = nullptr;

    HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* profile) override;
    HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profileType,
                                                  VARIANT_BOOL* enabled) override;
    HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** result) override;

    HRESULT STDMETHODCALLTYPE put_FirewallEnabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2,
                                                         VARIANT_BOOL*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2,
                                                         VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(NET_FW_PROFILE_TYPE2,
                                                        VARIANT_BOOL*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(NET_FW_PROFILE_TYPE2,
                                                        VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(
        NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(
        NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ServiceRestriction(INetFwServiceRestriction**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2,
                                                       NET_FW_ACTION*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_DefaultInboundAction(NET_FW_PROFILE_TYPE2,
                                                       NET_FW_ACTION) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2,
                                                        NET_FW_ACTION*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2,
                                                        NET_FW_ACTION) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_LocalPolicyModifyState(NET_FW_MODIFY_STATE*) override
    {
        return E_NOTIMPL;
    }
};

// One call of the object-creation seam.
struct CreateCall {
    CLSID clsid;
    IUnknown* outer;
    DWORD context;
    IID iid;
};

// The objects a test hands out through the creation seam, with what each
// creation answers. Install() points the seam at this set.
struct FirewallDoubles {
    EventLog log;
    FakePolicy policy{&log};
    FakeRules rules{&log};
    FakeRule newRule{L"rule", &log};
    FakeRule existingRule{L"existing", &log};
    FakeRule otherRule{L"other", &log};

    HRESULT policyCreateResult = S_OK;
    HRESULT ruleCreateResult = S_OK;
    std::vector<CreateCall> creations;

    FirewallDoubles() { policy.rules = &rules; }

    // True when no double is held by anyone and none was released too often.
    bool AllReleased() const;
};

// The creation seam's replacement: serves the FirewallDoubles set last passed
// to UseFirewallDoubles (nullptr: every creation fails with REGDB_E_CLASSNOTREG).
void UseFirewallDoubles(FirewallDoubles* doubles);
HRESULT WINAPI CreateFirewallDouble(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                    LPVOID* object);

// A message box that was shown through the seam.
struct CapturedBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// The message-box seam's replacement: records the box and answers IDOK.
int WINAPI CaptureMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
std::vector<CapturedBox>& CapturedBoxes();
