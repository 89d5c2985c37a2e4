// The state a device row shows in words: the Status column. The device
// table decides the state (core/device_table.h); the row's colour follows
// its record's state (row_colours.cpp). Window thread only.
#pragma once

#include <windows.h>
#include <stdint.h>

// Room for any state's text, terminator included.
constexpr int kStateTextChars = 32;

// The Status column's text for a shown state: empty for Normal and for a
// value that is no state.
void StateText(int32_t state, wchar_t* text, int chars);

// Writes the words for state into row's Status column.
void SetStatusCell(HWND list, int row, int32_t state);
