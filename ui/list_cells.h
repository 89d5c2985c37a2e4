// Reading one cell's text of the device list, bounded and zero-terminated.
#pragma once

#include <windows.h>

constexpr int kCellChars = 256;

// text has room for kCellChars units; an unreadable cell gives "".
void ReadCellText(HWND list, int row, int column, wchar_t* text);
