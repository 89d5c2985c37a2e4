// What the user does with rows beyond double-clicking: the context menu,
// copying rows and cells, saving the list, Enter on a row, the header
// click that orders the list, and the device count beside Refresh.
#pragma once

#include <windows.h>

// WM_CONTEXTMENU from the device list: the row menu at the cursor, or below
// the selected row when it came from the keyboard (point -1, -1).
void ShowRowMenu(HWND window, LPARAM point);

// The copy, save and open commands of the menus and accelerators; false
// when id is none of them.
bool RunListCommand(HWND window, int id);

// LVN_COLUMNCLICK: order by that column, or reverse the order.
void OnColumnClick(HWND window, int column);

// Shows "N devices" ("1 device") beside the Refresh button, and after it
// ", M match" when matches is not -1 (the find box is open with a text).
void UpdateDeviceCount(HWND window, int matches = -1);
