// Pieces of the device list upkeep that take their inputs explicitly, so the
// expiry and the drawing during a burst can be exercised at chosen tick
// counts (including the counter's wrap), the colours under either colour
// scheme, and the list's bounds.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Rows whose stored record was last seen more than this many milliseconds ago
// are removed while auto-refresh is on.
constexpr DWORD kDeviceExpiryMs = 3000;

// During a burst of answers the list draws at least this often.
constexpr DWORD kBurstRedrawMs = 250;

// No network of real devices comes near these: further rows are dropped
// (updates of listed rows always go through).
constexpr int kMaxRowsPerAddress = 16;
constexpr int kMaxDeviceRows = 4096;

// Removes from the list view every row older than kDeviceExpiryMs at tick
// count now, freeing each removed row's record.
void ExpireStaleRowsAt(HWND list, DWORD now);

// MergeQueuedDeviceRecord with the queue's state and the tick count given.
LRESULT MergeBurstRecordAt(HWND window, WPARAM wParam, LPARAM lParam, bool morePending, DWORD now);

// ColourDeviceRow's answer to one custom-draw notification, with or without
// a high-contrast theme (then no colour of our own: the system's).
LRESULT ColourRowForScheme(NMLVCUSTOMDRAW* draw, bool highContrast);
