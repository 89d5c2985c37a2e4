// Tab-separated and CSV text of the device list, the clipboard and the
// UTF-8 file writer. Window thread only.
#include "ui/row_export.h"

#include <commctrl.h>

#include "ui/device_columns.h"
#include "ui/list_cells.h"

namespace {

bool Reserve(TextBuffer* buffer, size_t extra)
{
    if (buffer->failed) {
        return false;
    }
    size_t needed = buffer->length + extra + 1;
    if (needed <= buffer->capacity) {
        return true;
    }
    size_t capacity = buffer->capacity < 256 ? 256 : buffer->capacity;
    while (capacity < needed) {
        capacity *= 2;
    }
    HANDLE heap = GetProcessHeap();
    void* grown = buffer->text == nullptr
                      ? HeapAlloc(heap, 0, capacity * sizeof(wchar_t))
                      : HeapReAlloc(heap, 0, buffer->text, capacity * sizeof(wchar_t));
    if (grown == nullptr) {
        buffer->failed = true;
        return false;
    }
    buffer->text = static_cast<wchar_t*>(grown);
    buffer->capacity = capacity;
    return true;
}

void AppendChar(TextBuffer* buffer, wchar_t c)
{
    if (Reserve(buffer, 1)) {
        buffer->text[buffer->length++] = c;
        buffer->text[buffer->length] = L'\0';
    }
}

// Device texts are untrusted: a tab or line break inside one would shift the
// columns of a tab-separated paste.
void AppendTabField(TextBuffer* buffer, const wchar_t* text)
{
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        AppendChar(buffer, (*p == L'\t' || *p == L'\r' || *p == L'\n') ? L' ' : *p);
    }
}

// A spreadsheet runs a cell that starts with one of these as a formula, or
// drops a leading tab or carriage return and runs what follows; a device
// could name itself so.
bool StartsLikeFormula(const wchar_t* text)
{
    switch (text[0]) {
    case L'=':
    case L'+':
    case L'-':
    case L'@':
    case L'\t':
    case L'\r':
        return true;
    default:
        return false;
    }
}

void AppendCsvField(TextBuffer* buffer, const wchar_t* text)
{
    AppendChar(buffer, L'"');
    // The apostrophe keeps the cell text.
    if (StartsLikeFormula(text)) {
        AppendChar(buffer, L'\'');
    }
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p == L'"') {
            AppendChar(buffer, L'"');
        }
        AppendChar(buffer, *p);
    }
    AppendChar(buffer, L'"');
}

}  // namespace

void InitTextBuffer(TextBuffer* buffer)
{
    buffer->text = nullptr;
    buffer->length = 0;
    buffer->capacity = 0;
    buffer->failed = false;
}

void FreeTextBuffer(TextBuffer* buffer)
{
    if (buffer->text != nullptr) {
        HeapFree(GetProcessHeap(), 0, buffer->text);
    }
    InitTextBuffer(buffer);
}

void AppendText(TextBuffer* buffer, const wchar_t* text)
{
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        AppendChar(buffer, *p);
    }
}

void AppendRow(TextBuffer* buffer, HWND list, int row, ExportFormat format)
{
    bool first = true;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        if (!IsExportedColumn(column)) {
            continue;
        }
        wchar_t cell[kCellChars];
        if (row < 0) {
            lstrcpynW(cell, DeviceColumnHeader(column), kCellChars);
        } else {
            ReadCellText(list, row, column, cell);
        }
        if (!first) {
            AppendChar(buffer, format == kTabSeparated ? L'\t' : L',');
        }
        first = false;
        if (format == kTabSeparated) {
            AppendTabField(buffer, cell);
        } else {
            AppendCsvField(buffer, cell);
        }
    }
    AppendText(buffer, L"\r\n");
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
