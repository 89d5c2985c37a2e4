// The inbound UDP allow rules for the devices' answers, one per program and
// scoped to its executable: the window program's start-up step, the
// console's read-only check, and the installer's add and remove operations.
#pragma once

#include <windows.h>

// Start-up of the window program: adds the rule for `programPath` when the
// firewall is on and that rule is missing; missing rights earn a warning box.
void EnsureFirewallRule(const wchar_t* programPath);

// The console: true only when the firewall is on and our rule for
// `programPath` is known to be missing. Changes nothing; whatever cannot be
// read counts as "not missing", so nothing is said on a guess.
bool IsFirewallRuleMissing(const wchar_t* programPath);

// Installer: replaces an older rule of ours without an application, then
// adds the rule of each program that has none, whether the firewall is on or
// not. S_OK when every rule is in place; otherwise the first failure, without
// a box.
HRESULT AddFirewallRules(const wchar_t* const* programPaths, int count);

// Uninstaller: removes our rules for these programs, and an older one of ours
// without an application; never a rule of another name, grouping or program.
// S_OK when none is left; otherwise the first failure.
HRESULT RemoveFirewallRules(const wchar_t* const* programPaths, int count);
