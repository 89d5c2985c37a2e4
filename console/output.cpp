// Table, CSV and JSON text of device rows (fields from scan_fields), CSV
// fields quoted and defused by the window's own rules (rows/export_text.h).
#include "console/output.h"

#include <stdio.h>

#include "rows/saved_list.h"

namespace {

constexpr int kTableGap = 2;
// Widths of --watch table lines, which cannot measure rows still to come.
constexpr int kEventWidth = 8;
constexpr int kTimeWidth = 29;
constexpr int kChangesWidth = 40;
constexpr int kWatchWidths[kDeviceColumnCount] = {15, 20, 17, 28, 3, 0, 12};

const wchar_t kEventHeader[] = L"Event";
const wchar_t kChangesHeader[] = L"Changes";
const wchar_t kTimeHeader[] = L"Time";

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
        FlattenField(fields->text[i]);
        bool last = i + 1 == fields->count;
        AppendPadded(buffer, fields->text[i], last ? 0 : widths[i] + kTableGap);
    }
    // An empty last field leaves the padding of the one before.
    while (!buffer->failed && buffer->length > 0 && buffer->text[buffer->length - 1] == L' ') {
        buffer->text[--buffer->length] = L'\0';
    }
    AppendText(buffer, L"\r\n");
}

void AppendCsvField(TextBuffer* buffer, const wchar_t* text, bool first)
{
    if (!first) {
        AppendChar(buffer, ExportSeparator(kCommaSeparated));
    }
    AppendExportField(buffer, text, kCommaSeparated);
}

// The event first (so that a line starts "new","A.B.C.D"), then the
// fields, then what changed and when.
void AppendCsvLine(TextBuffer* buffer, RowFields* fields, const wchar_t* const* event)
{
    if (event != nullptr) {
        AppendCsvField(buffer, event[0], true);
    }
    for (int i = 0; i < fields->count; ++i) {
        FlattenField(fields->text[i]);
        AppendCsvField(buffer, fields->text[i], i == 0 && event == nullptr);
    }
    if (event != nullptr) {
        AppendCsvField(buffer, event[1], false);
        AppendCsvField(buffer, event[2], false);
    }
    AppendText(buffer, L"\r\n");
}

void AppendJsonKey(TextBuffer* buffer, const wchar_t* key, bool first)
{
    if (!first) {
        AppendChar(buffer, L',');
    }
    AppendJsonString(buffer, key);
    AppendChar(buffer, L':');
}

// "changes":["name","status"]
void AppendJsonChanges(TextBuffer* buffer, uint32_t changes)
{
    wchar_t keys[kFieldChars];
    ChangedKeys(changes, keys, kFieldChars);
    AppendJsonKey(buffer, L"changes", false);
    AppendChar(buffer, L'[');
    bool first = true;
    for (wchar_t* key = keys; *key != L'\0';) {
        wchar_t* end = key;
        while (*end != L'\0' && *end != L' ') {
            ++end;
        }
        wchar_t ended = *end;
        *end = L'\0';
        if (!first) {
            AppendChar(buffer, L',');
        }
        AppendJsonString(buffer, key);
        first = false;
        key = ended != L'\0' ? end + 1 : end;
    }
    AppendChar(buffer, L']');
}

// One object on one line, without a line end; JSON escapes keep any text.
void AppendJsonObject(TextBuffer* buffer, const RowFields* fields, const ScanEvent* event)
{
    AppendChar(buffer, L'{');
    if (event != nullptr) {
        AppendJsonKey(buffer, L"time", true);
        AppendJsonString(buffer, event->time);
        AppendJsonKey(buffer, L"event", false);
        AppendJsonString(buffer, event->name);
        AppendJsonChanges(buffer, event->changes);
    }
    for (int i = 0; i < fields->count; ++i) {
        int kind = fields->kind[i];
        const wchar_t* value = fields->text[i];
        // A row without ARP evidence shows a blank; JSON says so with "".
        if (kind == kColumnArp && lstrcmpW(value, L" ") == 0) {
            value = L"";
        }
        AppendJsonKey(buffer, FieldKey(kind), i == 0 && event == nullptr);
        AppendJsonString(buffer, value);
    }
    AppendChar(buffer, L'}');
}

void FormatTable(TextBuffer* buffer, const DeviceRow* const* rows, int count)
{
    RowFields fields;
    GatherFields(nullptr, false, nullptr, &fields);
    int widths[kMaxFields] = {};
    for (int i = 0; i < fields.count; ++i) {
        widths[i] = lstrlenW(fields.text[i]);
    }
    for (int r = 0; r < count; ++r) {
        RowFields measured;
        GatherFields(rows[r], false, nullptr, &measured);
        for (int i = 0; i < measured.count; ++i) {
            int length = lstrlenW(measured.text[i]);
            widths[i] = length > widths[i] ? length : widths[i];
        }
    }
    AppendTableLine(buffer, &fields, widths);
    for (int r = 0; r < count; ++r) {
        GatherFields(rows[r], false, nullptr, &fields);
        AppendTableLine(buffer, &fields, widths);
    }
}

void WatchWidths(const RowFields* fields, int* widths)
{
    for (int i = 0; i < fields->count; ++i) {
        int kind = fields->kind[i];
        widths[i] = kind >= 0 ? kWatchWidths[kind] : 0;
    }
}

// A --watch table line: time, event, the row's fields, what changed.
void AppendWatchTableLine(TextBuffer* buffer, RowFields* fields, const wchar_t* const* event)
{
    int widths[kMaxFields] = {};
    WatchWidths(fields, widths);
    widths[fields->count - 1] = 10;  // the way it answered, before the changes
    AppendPadded(buffer, event[2], kTimeWidth + kTableGap);
    AppendPadded(buffer, event[0], kEventWidth + kTableGap);
    lstrcpynW(fields->text[fields->count], event[1], kFieldChars);
    fields->kind[fields->count++] = kFieldAnswered;
    AppendTableLine(buffer, fields, widths);
}

}  // namespace

void FormatScanList(TextBuffer* buffer, const DeviceRow* const* rows, int count, ScanFormat format,
                    ScanHeardOn heardOn)
{
    RowFields fields;
    switch (format) {
    case kScanTable:
        FormatTable(buffer, rows, count);
        break;
    case kScanCsv:
        GatherFields(nullptr, true, heardOn, &fields);
        AppendCsvLine(buffer, &fields, nullptr);
        for (int r = 0; r < count; ++r) {
            GatherFields(rows[r], true, heardOn, &fields);
            AppendCsvLine(buffer, &fields, nullptr);
        }
        break;
    case kScanJson:
        AppendText(buffer, L"[");
        for (int r = 0; r < count; ++r) {
            AppendText(buffer, r == 0 ? L"\r\n" : L",\r\n");
            GatherFields(rows[r], true, heardOn, &fields);
            AppendJsonObject(buffer, &fields, nullptr);
        }
        AppendText(buffer, L"\r\n]\r\n");
        break;
    }
}

void FormatSavedList(TextBuffer* buffer, const DeviceRow* const* rows, int count)
{
    AppendSavedListHeader(buffer);
    for (int r = 0; r < count; ++r) {
        AppendSavedListRow(buffer, &rows[r]->shown);
    }
}

void FormatScanEventHeader(TextBuffer* buffer, ScanFormat format)
{
    RowFields fields;
    const wchar_t* headers[] = {kEventHeader, kChangesHeader, kTimeHeader};
    switch (format) {
    case kScanTable:
        GatherFields(nullptr, false, nullptr, &fields);
        AppendWatchTableLine(buffer, &fields, headers);
        break;
    case kScanCsv:
        GatherFields(nullptr, true, nullptr, &fields);
        AppendCsvLine(buffer, &fields, headers);
        break;
    case kScanJson:
        break;
    }
}

void FormatScanEvent(TextBuffer* buffer, const ScanEvent& event, ScanFormat format, ScanHeardOn heardOn)
{
    RowFields fields;
    wchar_t changes[kFieldChars];
    ChangedKeys(event.changes, changes, kFieldChars);
    const wchar_t* texts[] = {event.name, changes, event.time};
    GatherFields(event.row, format != kScanTable, heardOn, &fields);
    switch (format) {
    case kScanTable:
        AppendWatchTableLine(buffer, &fields, texts);
        break;
    case kScanCsv:
        AppendCsvLine(buffer, &fields, texts);
        break;
    case kScanJson:
        AppendJsonObject(buffer, &fields, &event);
        AppendText(buffer, L"\r\n");
        break;
    }
}
