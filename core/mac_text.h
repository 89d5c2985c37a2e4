// MAC address texts as the device list keys and shows them. The two discovery
// paths and the devices themselves spell one address differently ("02-ac-…",
// "02-AC-…", "02:AC:…"); the list shows and compares one spelling. Portable:
// no Windows headers.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Rewrites text, which has room for capacity units, as six upper-case hex
// pairs joined by hyphens when it is six hex pairs joined by '-' or ':' in
// any letter case; any other text stays as it is.
void CanonicaliseMacText(wchar_t* text, size_t capacity);

// Whether a and b name one MAC address: the six-pair forms whatever their
// case and separators, any other text only when exactly equal.
bool SameMacText(const wchar_t* a, const wchar_t* b);
