// The state a device row shows in words: the Status column. The device
// table decides the state (core/device_table.h); the row's colour follows
// its record's state (row_colours.cpp). Window thread only.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "rows/state_text.h"

// Writes the words for state into row's Status column.
void SetStatusCell(HWND list, int row, int32_t state);
