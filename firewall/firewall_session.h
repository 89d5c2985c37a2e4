// What every firewall task shares: a single-threaded COM apartment of its
// own, the policy object through the seam, and the profiles in force with
// the firewall's state in each. One copy, for the rule tasks and the
// read-only state alike.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <netfw.h>

// Enters an apartment for one task. S_OK: go on, then LeaveFirewallApartment
// with the same value. S_FALSE: the thread had a single-threaded apartment
// already; the task stays out of its way and does nothing (the count was
// balanced already). Any other failure: do nothing.
HRESULT EnterFirewallApartment(HRESULT* init);
void LeaveFirewallApartment(HRESULT init);

// The firewall policy object, through the seam; null on failure.
HRESULT OpenFirewallPolicy(INetFwPolicy2** policy);

// The profiles in force and, of those, the ones where the firewall is on.
// A profile whose state cannot be read counts as off. Fails only when the
// profiles in force cannot be read.
HRESULT ReadFirewallProfiles(INetFwPolicy2* policy, LONG* inForce, LONG* on);
