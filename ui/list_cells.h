// Reading the device list: its row count, and one cell's text, bounded and
// zero-terminated.
#pragma once

#include <windows.h>

constexpr int kCellChars = 256;

// text has room for kCellChars units; an unreadable cell gives "".
void ReadCellText(HWND list, int row, int column, wchar_t* text);

int RowCount(HWND list);
