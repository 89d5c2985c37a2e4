// Reads the firewall's state for the diagnosis. Only gets: no put, no Add,
// no Remove. Each fact is read on its own, so one that fails leaves the
// others standing.
#include "core/platform.h"

#include "firewall/firewall_state.h"

#include "firewall/firewall_session.h"
#include "firewall/our_rules.h"

namespace {

FirewallAnswer AnswerOf(bool value)
{
    return value ? FirewallAnswer::kYes : FirewallAnswer::kNo;
}

void ReadOurRule(INetFwPolicy2* policy, const wchar_t* programPath, FirewallState* state)
{
    INetFwRules* rules = nullptr;
    if (FAILED(policy->get_Rules(&rules)) || rules == nullptr) {
        return;
    }
    INetFwRule* found = nullptr;
    HRESULT result = FindOurRule(rules, programPath, &found);
    if (result == S_FALSE) {
        state->ourRule = FirewallAnswer::kNo;
        state->ourRuleEnabled = FirewallAnswer::kNo;
    } else if (result == S_OK && found != nullptr) {
        state->ourRule = FirewallAnswer::kYes;
        VARIANT_BOOL enabled = VARIANT_FALSE;
        if (SUCCEEDED(found->get_Enabled(&enabled))) {
            state->ourRuleEnabled = AnswerOf(enabled != VARIANT_FALSE);
        }
    }
    if (found != nullptr) {
        found->Release();
    }
    rules->Release();
}

void ReadPolicy(const wchar_t* programPath, FirewallState* state)
{
    INetFwPolicy2* policy = nullptr;
    if (FAILED(OpenFirewallPolicy(&policy))) {
        return;
    }
    LONG inForce = 0;
    LONG on = 0;
    if (SUCCEEDED(ReadFirewallProfiles(policy, &inForce, &on))) {
        state->profilesInForce = inForce;
        state->profilesOn = on;
        state->enabled = AnswerOf(on != 0);
    }
    if (programPath != nullptr) {
        ReadOurRule(policy, programPath, state);
    }
    policy->Release();
}

void ReadOtherProducts(FirewallState* state)
{
    int count = 0;
    HRESULT result = g_platform.listFirewallProducts(
        state->otherProductNames, sizeof(state->otherProductNames) / sizeof(wchar_t), &count);
    if (FAILED(result)) {
        state->otherProductNames[0] = L'\0';
        return;
    }
    state->otherProduct = AnswerOf(count > 0);
}

}  // namespace

void ReadFirewallState(const wchar_t* programPath, FirewallState* state)
{
    *state = FirewallState{};
    // Without a path FindOurRule looks for a rule without a program, which
    // is not the question asked here.
    if (programPath == nullptr || programPath[0] == L'\0') {
        programPath = nullptr;
    }
    HRESULT init = S_OK;
    if (EnterFirewallApartment(&init) != S_OK) {
        return;
    }
    ReadPolicy(programPath, state);
    ReadOtherProducts(state);
    state->otherProductNames[sizeof(state->otherProductNames) / sizeof(wchar_t) - 1] = L'\0';
    LeaveFirewallApartment(init);
}
