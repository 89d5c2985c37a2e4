// The saved list's lines: header texts and cells of the exported columns.
// Window-free: the console program writes its --output file with it.
#include "ui/saved_list.h"

#include <windows.h>

#include "ui/state_text.h"

void AppendExportedCells(TextBuffer* buffer, const wchar_t* const* cells, ExportFormat format)
{
    bool first = true;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        if (!IsExportedColumn(column)) {
            continue;
        }
        if (!first) {
            AppendChar(buffer, ExportSeparator(format));
        }
        first = false;
        AppendExportField(buffer, cells[column], format);
    }
    AppendText(buffer, L"\r\n");
}

void ShownCellText(const DeviceRecord* shown, int column, wchar_t* cell)
{
    if (column == kColumnStatus) {
        StateText(shown->state, cell, kSavedCellChars);
    } else {
        lstrcpynW(cell, DeviceCellText(shown, column), kSavedCellChars);
    }
}

void AppendSavedListHeader(TextBuffer* buffer)
{
    const wchar_t* cells[kDeviceColumnCount];
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        cells[column] = DeviceColumnHeader(column);
    }
    AppendExportedCells(buffer, cells, kCommaSeparated);
}

void AppendSavedListRow(TextBuffer* buffer, const DeviceRecord* shown)
{
    wchar_t texts[kDeviceColumnCount][kSavedCellChars];
    const wchar_t* cells[kDeviceColumnCount];
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        ShownCellText(shown, column, texts[column]);
        cells[column] = texts[column];
    }
    AppendExportedCells(buffer, cells, kCommaSeparated);
}
