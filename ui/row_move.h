// Moving one row of a list view to another index. The control has no move
// of its own, so the row is taken out and put back with all it holds.
#pragma once

#include <windows.h>

// Moves the row at from so that it ends at index to, keeping its item data,
// the texts of every device column, its selection and focus. Returns its index afterwards: from when the
// control would not let it go, -1 when the control let it go but would not
// take it back, so that no row holds its item data any more.
int MoveRow(HWND list, int from, int to);
