// The Security Center's list of firewall products (wscapi), the default of
// the seam's listFirewallProducts entry.
#pragma once

#include <windows.h>
#include <stddef.h>

// The products of the firewall kind whose state is on, their names joined
// by "; " into names (bounded, zero-terminated) and their count. Needs a
// COM apartment. The failure of any step is returned as it is: the caller
// reads it as "not known".
HRESULT ListSecurityCenterFirewalls(wchar_t* names, size_t capacity, int* count);
