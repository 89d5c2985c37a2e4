// The Status words of a device row's state, from the string resources of the
// running executable (rows/state_texts.rc, which both programs' resource
// scripts include). Window-free.
#pragma once

#include <stdint.h>
#include <wchar.h>

// Room for any state's text, terminator included.
constexpr int kStateTextChars = 32;

// The Status column's text for a shown state: empty for Normal and for a
// value that is no state.
void StateText(int32_t state, wchar_t* text, int chars);
