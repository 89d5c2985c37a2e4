// The device list's rows and the records behind them. Every row's item data
// is the record of its row in the list's device table (list_table.h), which
// owns it. Window thread only.
#pragma once

#include <windows.h>

struct DeviceRecord;

// The window's device list, or null when there is no window.
HWND DeviceListOf(HWND window);

// The record behind row, or null when there is no such row.
DeviceRecord* StoredRecord(HWND list, int row);
