// The firewall as it stands, read and never changed: the profiles in force
// and where it is on, whether our rule for a program is there and enabled,
// and the other firewall products registered with Windows. Whatever cannot
// be read stays unknown; nothing is guessed.
#pragma once

#include <windows.h>
#include <stdint.h>

enum class FirewallAnswer : int32_t { kUnknown = 0, kNo = 1, kYes = 2 };

struct FirewallState {
    FirewallAnswer enabled;  // on in at least one profile in force
    long profilesInForce;    // NET_FW_PROFILE2_* bits, 0 when unknown
    long profilesOn;         // of those, the ones where it is on
    FirewallAnswer ourRule;
    FirewallAnswer ourRuleEnabled;
    FirewallAnswer otherProduct;  // another firewall product, on, registered with Windows
    wchar_t otherProductNames[256];
};

// Reads the state for programPath in a COM apartment of its own.
void ReadFirewallState(const wchar_t* programPath, FirewallState* state);
