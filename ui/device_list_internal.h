// Pieces of the device list upkeep that take their inputs explicitly, so the
// expiry and the drawing during a burst can be exercised at chosen tick
// counts (including the counter's wrap), the colours under either colour
// scheme, and the list's bounds.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Expiry span and row bounds: the device table's (core/device_table.h).
#include "core/device_table.h"

// During a burst of answers the list draws at least this often.
constexpr DWORD kBurstRedrawMs = 250;

// Removes from the list view every row older than kDeviceExpiryMs at tick
// count now, freeing each removed row's record.
void ExpireStaleRowsAt(HWND list, DWORD now);

// MergeQueuedDeviceRecord with the queue's state and the tick count given.
LRESULT MergeBurstRecordAt(HWND window, WPARAM wParam, LPARAM lParam, bool morePending, DWORD now);

// ColourDeviceRow's answer to one custom-draw notification, with or without
// a high-contrast theme (then no colour of our own: the system's).
LRESULT ColourRowForScheme(NMLVCUSTOMDRAW* draw, bool highContrast);
