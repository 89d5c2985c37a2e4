// The device list's rows and the records they own. Every row's item data is
// the DeviceRecord of the answer that created it; the row owns that record,
// and a record is freed only when the control really deleted its row.
// Window thread only.
#pragma once

#include <windows.h>

struct DeviceRecord;

// The window's device list, or null when there is no window.
HWND DeviceListOf(HWND window);

// The record row owns, or null when there is no such row.
DeviceRecord* StoredRecord(HWND list, int row);

// Deletes row and frees its record; false, with the row and its record
// kept, when the control would not delete it.
bool DeleteRow(HWND list, int row);
