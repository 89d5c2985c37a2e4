// The numeric order of address texts.
#pragma once

#include <wchar.h>

// <0, 0, >0 as address text a sorts before, with or after b. Dotted quads
// compare by value (10.0.0.9 before 10.0.0.10); a text that is not one
// sorts after every address, by its letters ignoring ASCII case.
int CompareAddressTexts(const wchar_t* a, const wchar_t* b);
