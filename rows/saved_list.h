// The lines of the window's saved list and copied rows, apart from any
// window: the exported columns (rows/columns.h) of one row, or their
// headers, joined in one export format. The window reads the cells from its
// list; the console program makes them from its table's rows by the same
// rules the list shows them by. Both save the list as UTF-8 with a
// byte-order mark, so spreadsheets read it right.
#pragma once

#include <windows.h>

#include "core/device_record.h"
#include "rows/columns.h"
#include "rows/export_text.h"

// Room for one cell's text, terminator included (the list's own bound).
constexpr int kSavedCellChars = 256;

// Appends the exported columns of cells (one text per column index, all
// kDeviceColumnCount of them), separated as format says, ended by CR LF.
void AppendExportedCells(TextBuffer* buffer, const wchar_t* const* cells, ExportFormat format);

// The text the list shows in column for a row whose shown record is shown
// (the Status words for the state), bounded by kSavedCellChars.
void ShownCellText(const DeviceRecord* shown, int column, wchar_t* cell);

// The saved list's header line, and one row's line (CSV).
void AppendSavedListHeader(TextBuffer* buffer);
void AppendSavedListRow(TextBuffer* buffer, const DeviceRecord* shown);

// Writes text as UTF-8 with a byte-order mark to path, replacing the file.
// Returns a Win32 status.
DWORD WriteUtf8File(const wchar_t* path, const wchar_t* text, size_t length);
