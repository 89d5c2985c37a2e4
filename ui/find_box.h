// Finding rows by their text. Ctrl+F opens a box above the device list; as
// the user types, every row with a cell that contains the text (ignoring
// case) is selected and the first is scrolled into view; F3 and Shift+F3
// move the focus to the next and previous match (with the box closed they
// open it); Escape closes the box.
// Finding never hides or reorders rows. While the box is open the selection
// is the find's result: rows that come, change or go are matched again.
// The box's controls hold all of its state. Window thread only.
#pragma once

#include <windows.h>

// The find commands (menu, accelerators, the box's own notifications, and
// Enter, Escape and Ctrl+C while the box has the focus); false when id is
// none of them here.
bool RunFindCommand(HWND window, int id, int code);

// Selects the rows that match the open box's text and deselects the others;
// returns how many match, or -1 when the box is closed or empty.
int ApplyFindMatches(HWND window);

// NM_CUSTOMDRAW of the device list, after the row's own colours (result is
// theirs): while the box is open, its matches are drawn in the colours of a
// selection that has the focus, where the list would draw them pale grey.
LRESULT HighlightFoundRow(HWND window, LPARAM lParam, LRESULT result);
