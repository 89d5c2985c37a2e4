// The COM set-up shared by the firewall tasks.
#include "core/platform.h"

#include "firewall/firewall_session.h"

#include "firewall/identifiers.h"

#include <objbase.h>

HRESULT EnterFirewallApartment(HRESULT* init)
{
    *init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (*init == S_FALSE) {
        CoUninitialize();
        return S_FALSE;
    }
    // RPC_E_CHANGED_MODE: the thread is in another apartment already, which
    // serves as well; that initialisation is not ours to undo.
    if (*init != S_OK && *init != RPC_E_CHANGED_MODE) {
        return *init;
    }
    return S_OK;
}

void LeaveFirewallApartment(HRESULT init)
{
    if (init == S_OK) {
        CoUninitialize();
    }
}

HRESULT OpenFirewallPolicy(INetFwPolicy2** policy)
{
    HRESULT result = g_platform.createInstance(kClsidNetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                               kIidINetFwPolicy2, reinterpret_cast<void**>(policy));
    if (FAILED(result)) {
        *policy = nullptr;
    }
    return result;
}

HRESULT ReadFirewallProfiles(INetFwPolicy2* policy, LONG* inForce, LONG* on)
{
    *inForce = 0;
    *on = 0;
    HRESULT result = policy->get_CurrentProfileTypes(inForce);
    if (FAILED(result)) {
        *inForce = 0;
        return result;
    }
    static const NET_FW_PROFILE_TYPE2 kProfiles[] = {
        NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC};
    for (NET_FW_PROFILE_TYPE2 profile : kProfiles) {
        if ((*inForce & profile) == 0) {
            continue;
        }
        VARIANT_BOOL profileEnabled = VARIANT_FALSE;
        if (SUCCEEDED(policy->get_FirewallEnabled(profile, &profileEnabled)) &&
            profileEnabled != VARIANT_FALSE) {
            *on |= profile;
        }
    }
    return S_OK;
}
