// The fields of a device row for the console's table, CSV and JSON.
#include "console/fields.h"

#include <windows.h>
#include <wchar.h>

#include "core/text_copy.h"
#include "core/web_address.h"
#include "net/address_class.h"
#include "rows/state_text.h"

namespace {

const wchar_t kAnsweredHeader[] = L"Answered";
const wchar_t kPageHeader[] = L"Page";
const wchar_t kHeardOnHeader[] = L"Heard On";
const wchar_t kInstanceHeader[] = L"Instance";

void CopyField(wchar_t* field, const wchar_t* text)
{
    lstrcpynW(field, text, kFieldChars);
}

const wchar_t* WaysText(uint32_t ways)
{
    bool broadcast = (ways & kAnsweredBroadcast) != 0;
    bool mdns = (ways & kAnsweredMdns) != 0;
    return broadcast && mdns ? L"both" : mdns ? L"mDNS" : broadcast ? L"broadcast" : L"";
}

// What a double-click on the row opens: the stored record's address and port.
void PageText(const DeviceRow* row, wchar_t* field)
{
    const DeviceRecord* stored = row->record != nullptr ? row->record : &row->shown;
    if (!ComposeDevicePageAddress(stored->ipText, stored->portText, field, kFieldChars)) {
        field[0] = L'\0';
    }
}

void ExtraText(const DeviceRow* row, int kind, ScanHeardOn heardOn, wchar_t* field)
{
    field[0] = L'\0';
    if (kind == kFieldAnswered) {
        CopyField(field, WaysText(row->ways));
    } else if (kind == kFieldPage) {
        PageText(row, field);
    } else if (kind == kFieldHeardOn && row->shown.heardOn != 0) {
        FormatDottedQuad(row->shown.heardOn, field, kFieldChars);
    } else if (kind == kFieldHeardOn && heardOn != nullptr) {
        heardOn(row, field, kFieldChars);
        field[kFieldChars - 1] = L'\0';
    } else if (kind == kFieldInstance) {
        CopyText(field, kFieldChars, row->shown.instanceName);
    }
}

const wchar_t* ExtraHeader(int kind)
{
    return kind == kFieldAnswered ? kAnsweredHeader
           : kind == kFieldPage   ? kPageHeader
           : kind == kFieldHeardOn ? kHeardOnHeader
                                   : kInstanceHeader;
}

void ColumnText(const DeviceRow* row, int column, wchar_t* field)
{
    if (row == nullptr) {
        CopyField(field, DeviceColumnHeader(column));
    } else if (column == kColumnStatus) {
        StateText(row->shown.state, field, kFieldChars);
    } else {
        CopyField(field, DeviceCellText(&row->shown, column));
    }
}

}  // namespace

void GatherFields(const DeviceRow* row, bool extended, ScanHeardOn heardOn, RowFields* fields)
{
    fields->count = 0;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        if (IsExportedColumn(column)) {
            ColumnText(row, column, fields->text[fields->count]);
            fields->kind[fields->count++] = column;
        }
    }
    static const int kExtras[] = {kFieldAnswered, kFieldPage, kFieldHeardOn, kFieldInstance};
    int extras = extended ? 4 : 1;
    for (int i = 0; i < extras; ++i) {
        wchar_t* field = fields->text[fields->count];
        if (row == nullptr) {
            CopyField(field, ExtraHeader(kExtras[i]));
        } else {
            ExtraText(row, kExtras[i], heardOn, field);
        }
        fields->kind[fields->count++] = kExtras[i];
    }
}

const wchar_t* FieldKey(int kind)
{
    switch (kind) {
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
    case kFieldAnswered:
        return L"answered";
    case kFieldPage:
        return L"page";
    case kFieldHeardOn:
        return L"heardOn";
    case kFieldInstance:
        return L"instance";
    default:
        return L"";
    }
}

void FlattenField(wchar_t* field)
{
    for (wchar_t* p = field; *p != L'\0'; ++p) {
        if (*p < L' ' || *p == 0x7F) {
            *p = L' ';
        }
    }
}

void ChangedKeys(uint32_t changes, wchar_t* text, int chars)
{
    struct Named {
        uint32_t bit;
        int kind;
    };
    static const Named kParts[] = {
        {kRowChangedName, kColumnName},         {kRowChangedMac, kColumnMac},
        {kRowChangedDescription, kColumnDescription}, {kRowChangedArp, kColumnArp},
        {kRowChangedState, kColumnStatus},      {kScanChangedWays, kFieldAnswered},
    };
    if (chars <= 0) {
        return;
    }
    text[0] = L'\0';
    size_t capacity = static_cast<size_t>(chars);
    for (const Named& part : kParts) {
        if ((changes & part.bit) == 0) {
            continue;
        }
        size_t used = wcslen(text);
        if (used > 0 && used + 1 < capacity) {
            text[used++] = L' ';
        }
        CopyText(text + used, capacity - used, FieldKey(part.kind));
    }
}
