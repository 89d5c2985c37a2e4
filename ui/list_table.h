// The device table behind a device list control, and the view that shows
// the table's rows in the control: a row that comes is inserted in the
// list's order, a change rewrites only the cells it touched (and moves the
// row when the list is ordered by one of them), a row that goes is deleted.
// Each row's item data is its record, which the table owns. Selection,
// focus, scroll position and find stay with the control. Window thread only.
#pragma once

#include <windows.h>

class DeviceTable;

// The table whose rows list shows, made on first use; null when it cannot
// be made.
DeviceTable* TableOfList(HWND list);

// Frees the table of list with every record it holds, leaving the control's
// rows as they are: for a list that is going away.
void ReleaseListTable(HWND list);

// Whether the view changed the control since the last call: a row came,
// changed or went.
bool TakeListChanged(HWND list);
