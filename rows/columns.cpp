// The table of the device list's columns. Window-free: the console program
// reads its headers too; the control's columns are made in
// device_column_layout.cpp.
#include "rows/columns.h"

#include "core/device_table.h"

namespace {

struct DeviceColumn {
    DeviceColumnIndex index;
    const wchar_t* header;
    int share;
    bool exported;
    bool ordered;
};

constexpr DeviceColumn kColumns[] = {
    {kColumnIp, L"IP Address", 6, true, true},
    {kColumnName, L"Name", 11, true, true},
    {kColumnMac, L"MAC Address", 7, true, true},
    {kColumnDescription, L"Description", kColumnRestOfWidth, true, true},
    {kColumnArp, L"ARP", 2, true, true},
    {kColumnPort, L"", 0, false, false},
    // A row's state changes without an answer of its own (when a rival's
    // row appears or goes), so the list is not ordered by it.
    {kColumnStatus, L"Status", 5, true, false},
};

constexpr bool EveryColumnInItsPlace()
{
    for (int i = 0; i < kDeviceColumnCount; ++i) {
        if (kColumns[i].index != i) {
            return false;
        }
    }
    return true;
}

static_assert(sizeof(kColumns) / sizeof(kColumns[0]) == kDeviceColumnCount, "one entry per column");
static_assert(EveryColumnInItsPlace(), "entries in index order");

const DeviceColumn* ColumnAt(int column)
{
    return column >= 0 && column < kDeviceColumnCount ? &kColumns[column] : nullptr;
}

}  // namespace

const wchar_t* DeviceColumnHeader(int column)
{
    const DeviceColumn* found = ColumnAt(column);
    return found != nullptr ? found->header : L"";
}

bool IsExportedColumn(int column)
{
    const DeviceColumn* found = ColumnAt(column);
    return found != nullptr && found->exported;
}

bool IsOrderedColumn(int column)
{
    const DeviceColumn* found = ColumnAt(column);
    return found != nullptr && found->ordered;
}

bool IsHiddenColumn(int column)
{
    const DeviceColumn* found = ColumnAt(column);
    return found != nullptr && found->share == 0;
}

int DeviceColumnShare(int column)
{
    const DeviceColumn* found = ColumnAt(column);
    return found != nullptr ? found->share : 0;
}

const wchar_t* DeviceCellText(const DeviceRecord* shown, int column)
{
    switch (column) {
    case kColumnIp:
        return shown->ipText;
    case kColumnName:
        return shown->name;
    case kColumnMac:
        return shown->macText;
    case kColumnDescription:
        return shown->description;
    case kColumnArp:
        return ArpMarkText(shown);
    case kColumnPort:
        return shown->portText;
    default:
        return L"";
    }
}
