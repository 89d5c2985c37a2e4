// Getting the device list out of the window: selected rows or all rows as
// tab-separated text on the clipboard, single cells, and the whole list as
// CSV text for the saved file (rows/saved_list.h writes it).
#pragma once

#include <windows.h>

#include "rows/export_text.h"

// Appends the exported columns (rows/columns.h) of one row, or their
// headers when row is -1, ended by CR LF.
void AppendRow(TextBuffer* buffer, HWND list, int row, ExportFormat format);

// The selected rows (selectedOnly) or all rows, in list order; the header
// line comes first when withHeader is set.
void FormatRows(TextBuffer* buffer, HWND list, bool selectedOnly, bool withHeader, ExportFormat format);

// Puts text on the clipboard as Unicode text. Returns false when the
// clipboard could not be had or the memory not allocated.
bool CopyToClipboard(HWND owner, const wchar_t* text);

// Copies one column's text of one row to the clipboard.
bool CopyCell(HWND owner, HWND list, int row, int column);
