// Upkeep of the device list, whose rows the list's device table decides
// (list_table.h): merging answers (device_merge.cpp), expiry and clearing
// (row_expiry.cpp), row colours (row_colours.cpp), the Status words
// (row_state.cpp) and opening a device's web page (device_page.cpp).
// Window thread only.
#pragma once

#include <windows.h>

LRESULT MergeDeviceRecord(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT ExpireStaleRows(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT ColourDeviceRow(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT OpenDevicePage(HWND window, WPARAM wParam, LPARAM lParam);

// WM_SETTINGCHANGE and WM_SYSCOLORCHANGE: reads again whether a
// high-contrast theme is on, and repaints the list in the new colours.
void OnColourSchemeChange(HWND window, UINT message);

// Opens the web page of the device whose record row of list owns, if its
// address makes a valid page address.
void OpenRowPage(HWND window, HWND list, int row);

// MergeDeviceRecord for a WM_APP_DEVICE taken from the window's queue: while
// more answers wait there, list drawing is held, except for a paint at least
// every 250 ms, and it resumes with the last answer of the burst. Returns
// whether the burst is over: no other answer waited.
bool MergeQueuedDeviceRecord(HWND window, WPARAM wParam, LPARAM lParam);

// Counts every listed row as seen at `now`: when auto-refresh is switched
// on, rows that were current until then get their full 3 s to be found again.
void MarkAllRowsSeen(HWND window, DWORD now);

// Deletes every row of the window's device list and frees each deleted row's
// record.
void ClearDeviceList(HWND window);
