// The console program's output: the device rows as an aligned table, as CSV
// or as JSON; the lines that --watch prints for each change; the window's
// saved list for --output.
#pragma once

#include "console/fields.h"
#include "console/options.h"
#include "core/device_table.h"
#include "rows/export_text.h"

// Appends the whole list: the header line (table, csv) and one line per
// row, or a JSON array with one object a line. rows[0..count) in order.
void FormatScanList(TextBuffer* buffer, const DeviceRow* const* rows, int count, ScanFormat format,
                    ScanHeardOn heardOn);

// Appends the list exactly as the window's "Save list as" writes it: the
// exported columns' CSV, header first (to be written with a byte-order mark).
void FormatSavedList(TextBuffer* buffer, const DeviceRow* const* rows, int count);

// Appends the first line of a --watch run: the column headers for table
// and csv, nothing for json.
void FormatScanEventHeader(TextBuffer* buffer, ScanFormat format);

// One --watch line: what happened to which row, when.
struct ScanEvent {
    const wchar_t* name;  // "new", "changed", "conflict", "gone"
    const DeviceRow* row;
    uint32_t changes;     // RowChange bits and kScanChangedWays; 0 for new and gone
    const wchar_t* time;  // ISO 8601 with offset
};

// Appends one --watch line as a table line, a CSV line or one JSON object.
void FormatScanEvent(TextBuffer* buffer, const ScanEvent& event, ScanFormat format, ScanHeardOn heardOn);
