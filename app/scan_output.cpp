// Table, CSV and JSON text of device rows. The columns are the window's
// exported ones (ui/device_columns.h) with its header texts, the CSV fields
// are quoted and defused by the window's own rules (ui/export_text.h), and
// the Status words come from the same string resources; one column more
// tells which way the device answered.
#include "app/scan_output.h"

#include <stdio.h>

#include "ui/device_columns.h"
#include "ui/state_text.h"

namespace {

constexpr int kFieldChars = 256;
// The exported columns and the way the device answered.
constexpr int kMaxFields = kDeviceColumnCount + 1;
constexpr int kTableGap = 2;
// Widths of --watch table lines, which cannot measure rows still to come.
constexpr int kEventWidth = 8;
constexpr int kWatchWidths[kDeviceColumnCount] = {15, 20, 17, 28, 3, 0, 12};

const wchar_t kWaysHeader[] = L"Answered";
const wchar_t kWaysKey[] = L"answered";
const wchar_t kEventHeader[] = L"Event";

// The JSON key of each exported column; stable whatever the header texts.
const wchar_t* ColumnKey(int column)
{
    switch (column) {
    case kColumnIp:
        return L"ip";
    case kColumnName:
        return L"name";
    case kColumnMac:
        return L"mac";
    case kColumnDescription:
        return L"description";
    case kColumnArp:
        return L"arp";
    case kColumnPort:
        return L"port";
    case kColumnStatus:
        return L"status";
    default:
        return L"";
    }
}

const wchar_t* WaysText(uint32_t ways)
{
    bool broadcast = (ways & kAnsweredBroadcast) != 0;
    bool mdns = (ways & kAnsweredMdns) != 0;
    return broadcast && mdns ? L"both" : mdns ? L"mDNS" : broadcast ? L"broadcast" : L"";
}

// One row's texts in output order, each bounded and zero-terminated.
struct RowFields {
    int count;
    int column[kMaxFields];  // the column of each field; -1 for the way
    wchar_t text[kMaxFields][kFieldChars];
};

void CopyField(wchar_t* field, const wchar_t* text)
{
    lstrcpynW(field, text, kFieldChars);
}

// A field for a person or a CSV line: control characters (a device may put
// line breaks in its name) become spaces, so every row stays one line.
void Flatten(wchar_t* field)
{
    for (wchar_t* p = field; *p != L'\0'; ++p) {
        if (*p < L' ' || *p == 0x7F) {
            *p = L' ';
        }
    }
}

void CellText(const DeviceRecord* shown, int column, wchar_t* field)
{
    if (column == kColumnStatus) {
        StateText(shown->state, field, kFieldChars);
    } else {
        CopyField(field, DeviceCellText(shown, column));
    }
}

// The row's fields, or the headers when row is null.
void GatherFields(const DeviceRow* row, RowFields* fields)
{
    fields->count = 0;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        if (!IsExportedColumn(column)) {
            continue;
        }
        wchar_t* field = fields->text[fields->count];
        if (row == nullptr) {
            CopyField(field, DeviceColumnHeader(column));
        } else {
            CellText(&row->shown, column, field);
        }
        fields->column[fields->count++] = column;
    }
    CopyField(fields->text[fields->count], row == nullptr ? kWaysHeader : WaysText(row->ways));
    fields->column[fields->count++] = -1;
}

void AppendPadded(TextBuffer* buffer, const wchar_t* text, int width)
{
    AppendText(buffer, text);
    for (int pad = width - lstrlenW(text); pad > 0; --pad) {
        AppendChar(buffer, L' ');
    }
}

// A table line: every field but the last padded to its width and a gap.
void AppendTableLine(TextBuffer* buffer, RowFields* fields, const int* widths)
{
    for (int i = 0; i < fields->count; ++i) {
        Flatten(fields->text[i]);
        bool last = i + 1 == fields->count;
        AppendPadded(buffer, fields->text[i], last ? 0 : widths[i] + kTableGap);
    }
    AppendText(buffer, L"\r\n");
}

void AppendCsvLine(TextBuffer* buffer, RowFields* fields, const wchar_t* event)
{
    if (event != nullptr) {
        AppendExportField(buffer, event, kCommaSeparated);
    }
    for (int i = 0; i < fields->count; ++i) {
        if (i > 0 || event != nullptr) {
            AppendChar(buffer, ExportSeparator(kCommaSeparated));
        }
        Flatten(fields->text[i]);
        AppendExportField(buffer, fields->text[i], kCommaSeparated);
    }
    AppendText(buffer, L"\r\n");
}

void AppendJsonString(TextBuffer* buffer, const wchar_t* text)
{
    AppendChar(buffer, L'"');
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        switch (*p) {
        case L'"':
            AppendText(buffer, L"\\\"");
            break;
        case L'\\':
            AppendText(buffer, L"\\\\");
            break;
        case L'\n':
            AppendText(buffer, L"\\n");
            break;
        case L'\r':
            AppendText(buffer, L"\\r");
            break;
        case L'\t':
            AppendText(buffer, L"\\t");
            break;
        default:
            if (*p < L' ' || *p == 0x7F) {
                wchar_t escaped[8];
                _snwprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(*p));
                escaped[7] = L'\0';
                AppendText(buffer, escaped);
            } else {
                AppendChar(buffer, *p);
            }
            break;
        }
    }
    AppendChar(buffer, L'"');
}

void AppendJsonMember(TextBuffer* buffer, const wchar_t* key, const wchar_t* value, bool first)
{
    if (!first) {
        AppendChar(buffer, L',');
    }
    AppendJsonString(buffer, key);
    AppendChar(buffer, L':');
    AppendJsonString(buffer, value);
}

// One object on one line, without a line end; JSON escapes keep any text.
void AppendJsonObject(TextBuffer* buffer, const RowFields* fields, const wchar_t* event)
{
    AppendChar(buffer, L'{');
    if (event != nullptr) {
        AppendJsonMember(buffer, L"event", event, true);
    }
    for (int i = 0; i < fields->count; ++i) {
        int column = fields->column[i];
        const wchar_t* value = fields->text[i];
        // A row without ARP evidence shows a blank; JSON says so with "".
        if (column == kColumnArp && lstrcmpW(value, L" ") == 0) {
            value = L"";
        }
        AppendJsonMember(buffer, column < 0 ? kWaysKey : ColumnKey(column), value, i == 0 && event == nullptr);
    }
    AppendChar(buffer, L'}');
}

void FormatTable(TextBuffer* buffer, const DeviceRow* const* rows, int count)
{
    RowFields fields;
    GatherFields(nullptr, &fields);
    int widths[kMaxFields] = {};
    for (int i = 0; i < fields.count; ++i) {
        widths[i] = lstrlenW(fields.text[i]);
    }
    for (int r = 0; r < count; ++r) {
        RowFields measured;
        GatherFields(rows[r], &measured);
        for (int i = 0; i < measured.count; ++i) {
            int length = lstrlenW(measured.text[i]);
            widths[i] = length > widths[i] ? length : widths[i];
        }
    }
    AppendTableLine(buffer, &fields, widths);
    for (int r = 0; r < count; ++r) {
        GatherFields(rows[r], &fields);
        AppendTableLine(buffer, &fields, widths);
    }
}

void WatchWidths(const RowFields* fields, int* widths)
{
    for (int i = 0; i < fields->count; ++i) {
        int column = fields->column[i];
        widths[i] = column >= 0 ? kWatchWidths[column] : 0;
    }
}

}  // namespace

void FormatScanList(TextBuffer* buffer, const DeviceRow* const* rows, int count, ScanFormat format)
{
    RowFields fields;
    switch (format) {
    case kScanTable:
        FormatTable(buffer, rows, count);
        break;
    case kScanCsv:
        GatherFields(nullptr, &fields);
        AppendCsvLine(buffer, &fields, nullptr);
        for (int r = 0; r < count; ++r) {
            GatherFields(rows[r], &fields);
            AppendCsvLine(buffer, &fields, nullptr);
        }
        break;
    case kScanJson:
        AppendText(buffer, L"[");
        for (int r = 0; r < count; ++r) {
            AppendText(buffer, r == 0 ? L"\r\n" : L",\r\n");
            GatherFields(rows[r], &fields);
            AppendJsonObject(buffer, &fields, nullptr);
        }
        AppendText(buffer, L"\r\n]\r\n");
        break;
    }
}

void FormatScanEventHeader(TextBuffer* buffer, ScanFormat format)
{
    RowFields fields;
    GatherFields(nullptr, &fields);
    int widths[kMaxFields] = {};
    WatchWidths(&fields, widths);
    switch (format) {
    case kScanTable:
        AppendPadded(buffer, kEventHeader, kEventWidth + kTableGap);
        AppendTableLine(buffer, &fields, widths);
        break;
    case kScanCsv:
        AppendCsvLine(buffer, &fields, kEventHeader);
        break;
    case kScanJson:
        break;
    }
}

void FormatScanEvent(TextBuffer* buffer, const wchar_t* event, const DeviceRow* row, ScanFormat format)
{
    RowFields fields;
    GatherFields(row, &fields);
    int widths[kMaxFields] = {};
    WatchWidths(&fields, widths);
    switch (format) {
    case kScanTable:
        AppendPadded(buffer, event, kEventWidth + kTableGap);
        AppendTableLine(buffer, &fields, widths);
        break;
    case kScanCsv:
        AppendCsvLine(buffer, &fields, event);
        break;
    case kScanJson:
        AppendJsonObject(buffer, &fields, event);
        AppendText(buffer, L"\r\n");
        break;
    }
}

bool WriteScanText(HANDLE handle, const wchar_t* text, size_t length)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        // The console shows any character; a byte stream would need its code page.
        while (length > 0) {
            DWORD chunk = length > 8192 ? 8192 : static_cast<DWORD>(length);
            DWORD written = 0;
            if (!WriteConsoleW(handle, text, chunk, &written, nullptr) || written == 0) {
                return false;
            }
            text += written;
            length -= written;
        }
        return true;
    }
    if (length == 0) {
        return true;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return false;
    }
    char* utf8 = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<size_t>(bytes)));
    if (utf8 == nullptr) {
        return false;
    }
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8, bytes, nullptr, nullptr);
    bool complete = true;
    const char* next = utf8;
    DWORD left = static_cast<DWORD>(bytes);
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, next, left, &written, nullptr) || written == 0) {
            complete = false;
            break;
        }
        next += written;
        left -= written;
    }
    HeapFree(GetProcessHeap(), 0, utf8);
    return complete;
}
