// The saved list's lines: header texts and cells of the exported columns.
// Window-free: the console program writes its --output file with it.
#include "rows/saved_list.h"

#include <windows.h>

#include "rows/state_text.h"

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
