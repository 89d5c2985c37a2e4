// The console program's output: the device rows as an aligned table, as CSV
// with the columns of the window's saved list, or as JSON; the lines that
// --watch prints for each change; and the writing of text to a standard
// handle as UTF-8 (or to the console itself as UTF-16).
#pragma once

#include <windows.h>

#include "app/scan_options.h"
#include "core/device_table.h"
#include "ui/export_text.h"

// Appends the whole list: the header line (table, csv) and one line per
// row, or a JSON array with one object a line. rows[0..count) in order.
void FormatScanList(TextBuffer* buffer, const DeviceRow* const* rows, int count, ScanFormat format);

// Appends the first line of a --watch run: the column headers for table
// and csv, nothing for json.
void FormatScanEventHeader(TextBuffer* buffer, ScanFormat format);

// Appends one --watch line: event ("new", "changed", "conflict", "gone")
// and the row, as a table line, a CSV line or one JSON object.
void FormatScanEvent(TextBuffer* buffer, const wchar_t* event, const DeviceRow* row, ScanFormat format);

// Writes length units of text to handle: UTF-16 to a console, UTF-8 bytes
// to anything else (a file, a pipe). False when not all could be written.
bool WriteScanText(HANDLE handle, const wchar_t* text, size_t length);
