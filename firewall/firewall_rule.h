// The inbound UDP allow rule for the devices' answers: the start-up step, and
// the installer's add and remove operations.
#pragma once

#include <windows.h>

// Start-up: adds the rule when the firewall is on and the rule is missing;
// missing rights earn a warning box.
void EnsureFirewallRule();
// Installer: adds the rule unless it is there, whether the firewall is on or
// not. S_OK when the rule is in place; otherwise the failure, without a box.
HRESULT AddFirewallRule();
// Uninstaller: removes our rule (our name and grouping). S_OK when it is gone
// or was never there; otherwise the failure.
HRESULT RemoveFirewallRule();
