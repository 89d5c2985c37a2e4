// Pieces of the device list upkeep that take their inputs explicitly, so the
// expiry can be exercised at chosen tick counts (including the counter's wrap).
#pragma once

#include <windows.h>

// Rows whose stored record was last seen more than this many milliseconds ago
// are removed while auto-refresh is on.
constexpr DWORD kDeviceExpiryMs = 3000;

// Removes from the list view every row older than kDeviceExpiryMs at tick
// count now, freeing each removed row's record.
void ExpireStaleRowsAt(HWND list, DWORD now);
