// Bounded copy of UTF-16 text into fixed-capacity fields. Portable: no
// Windows headers, so the parsers that use it build and fuzz anywhere.
#pragma once

#include <stddef.h>
#include <wchar.h>

// Copies at most capacity - 1 characters of src (null counts as empty) and
// always leaves dest zero-terminated; capacity 0 writes nothing.
void CopyText(wchar_t* dest, size_t capacity, const wchar_t* src);
