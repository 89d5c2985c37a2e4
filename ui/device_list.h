// Upkeep of the device list: merging answers, expiry, row colours and opening
// a device's web page. Window thread only.
#pragma once

#include <windows.h>

LRESULT MergeDeviceRecord(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT ExpireStaleRows(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT ColourDeviceRow(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT OpenDevicePage(HWND window, WPARAM wParam, LPARAM lParam);
