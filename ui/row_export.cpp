// Tab-separated and CSV text of the device list, the clipboard and the
// UTF-8 file writer. Window thread only.
#include "ui/row_export.h"

#include <commctrl.h>

#include "rows/columns.h"
#include "ui/list_cells.h"
#include "rows/saved_list.h"

void AppendRow(TextBuffer* buffer, HWND list, int row, ExportFormat format)
{
    wchar_t texts[kDeviceColumnCount][kCellChars];
    const wchar_t* cells[kDeviceColumnCount];
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        if (row < 0) {
            lstrcpynW(texts[column], DeviceColumnHeader(column), kCellChars);
        } else {
            ReadCellText(list, row, column, texts[column]);
        }
        cells[column] = texts[column];
    }
    AppendExportedCells(buffer, cells, format);
}

void FormatRows(TextBuffer* buffer, HWND list, bool selectedOnly, bool withHeader, ExportFormat format)
{
    if (withHeader) {
        AppendRow(buffer, list, -1, format);
    }
    UINT flags = selectedOnly ? LVNI_SELECTED : LVNI_ALL;
    int row = -1;
    for (;;) {
        row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), flags));
        if (row < 0) {
            break;
        }
        AppendRow(buffer, list, row, format);
    }
}

bool CopyToClipboard(HWND owner, const wchar_t* text)
{
    size_t bytes = (lstrlenW(text) + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) {
        return false;
    }
    void* target = GlobalLock(memory);
    if (target == nullptr) {
        GlobalFree(memory);
        return false;
    }
    CopyMemory(target, text, bytes);
    GlobalUnlock(memory);
    if (!OpenClipboard(owner)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    // On success the clipboard owns the memory.
    bool placed = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    CloseClipboard();
    if (!placed) {
        GlobalFree(memory);
    }
    return placed;
}

bool CopyCell(HWND owner, HWND list, int row, int column)
{
    wchar_t cell[kCellChars];
    ReadCellText(list, row, column, cell);
    return CopyToClipboard(owner, cell);
}

