// The order of the device list's rows. By default rows follow the numeric
// value of their IPv4 address (10.0.0.9 before 10.0.0.10), so rows of one
// address stay together; a click on a column header orders by that column
// and a second click reverses it. The chosen order is kept on the list
// window itself, and new or updated rows take their place in it.
#pragma once

#include <windows.h>

#include "core/device_table.h"  // CompareAddressTexts

struct ListOrder {
    int column;       // an ordered column (rows/columns.h); the address compares by number
    bool descending;
};

ListOrder GetListOrder(HWND list);

// Stores the order, shows it in the header (sort arrow) and sorts the rows.
void SetListOrder(HWND list, ListOrder order);

// The order a click on the header of column gives: that column ascending,
// or the current one reversed when it is already the column in use.
ListOrder OrderAfterHeaderClick(ListOrder current, int column);

// The row index at which a new row with these texts (indexed by column;
// only the ordered columns are read) keeps the list in order; the new row
// goes after the rows it ties with.
int SortedInsertIndex(HWND list, const wchar_t* const* cells);

// The index row should have, once moved, after one of its texts changed;
// its own index while it is in its place among its neighbours. The other
// rows are still in order, so this reads O(log rows) cells.
int OrderedPlaceOf(HWND list, int row);

// Moves row to its OrderedPlaceOf, as MoveRow (row_move.h) does: returns its
// index afterwards, or -1 when the row is gone and its item data is the
// caller's to release.
int MoveRowIntoOrder(HWND list, int row);

// Sorts every row by the list's order.
void SortDeviceList(HWND list);
