// Tab-separated and CSV text of the device list, the clipboard and the
// UTF-8 file writer. Window thread only.
#include "ui/row_export.h"

#include <commctrl.h>

#include "ui/device_columns.h"
#include "ui/list_cells.h"
#include "ui/saved_list.h"

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

DWORD WriteUtf8File(const wchar_t* path, const wchar_t* text, size_t length)
{
    DWORD status = NO_ERROR;
    char* utf8 = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    int bytes = 0;
    DWORD written = 0;
    static const unsigned char kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

    if (length > 0) {
        bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) {
            return GetLastError();
        }
        utf8 = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<size_t>(bytes)));
        if (utf8 == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8, bytes, nullptr, nullptr);
    }
    file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        status = GetLastError();
    } else if (!WriteFile(file, kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr) ||
               (bytes > 0 && !WriteFile(file, utf8, static_cast<DWORD>(bytes), &written, nullptr))) {
        status = GetLastError();
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    if (utf8 != nullptr) {
        HeapFree(GetProcessHeap(), 0, utf8);
    }
    return status;
}
