// Our rules among everyone's: the firewall keeps rules of one name side by
// side (ours for each program, and maybe another product's "Announce"), so
// ours are told apart by name, grouping and application, found by walking
// the collection and removed one by one under a name of their own.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <netfw.h>

extern const wchar_t kOurRuleName[];
extern const wchar_t kOurRuleGrouping[];

// Looks for a rule of our name and grouping (exact, letter case included)
// whose application is `programPath` (letter case aside) or, with a null
// path, that has no application (what older versions added). S_OK with the
// rule in *found (a reference the caller releases), S_FALSE when there is
// none, or the failure of walking the collection. A property that cannot
// be read makes a rule not ours.
HRESULT FindOurRule(INetFwRules* rules, const wchar_t* programPath, INetFwRule** found);

// Removes exactly `rule` from `rules`: Remove takes only a name, and which
// of several rules of one name it removes is not documented, so the rule is
// first renamed to a name nobody else has. A rule that cannot be renamed is
// not removed.
HRESULT RemoveExactly(INetFwRules* rules, INetFwRule* rule);

// Removes every rule FindOurRule finds for `programPath`. S_OK when none is
// left; otherwise the first failure.
HRESULT RemoveOurRules(INetFwRules* rules, const wchar_t* programPath);
