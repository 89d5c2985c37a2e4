// The table of the device list's columns and the two things done with it on
// the control itself: creating the columns and fitting their widths.
#include "ui/device_columns.h"

#include <commctrl.h>

namespace {

// Widths are shares of the list's width in fortieths; one column takes
// whatever the others leave.
constexpr int kShareUnits = 40;
constexpr int kRestOfWidth = -1;

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
    {kColumnDescription, L"Description", kRestOfWidth, true, true},
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

void CreateDeviceColumns(HWND list)
{
    for (int i = 0; i < kDeviceColumnCount; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.cx = 0;
        column.pszText = const_cast<wchar_t*>(kColumns[i].header);
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    FitDeviceColumns(list);
}

void FitDeviceColumns(HWND list)
{
    RECT client = {};
    GetClientRect(list, &client);
    int width = client.right - client.left;
    int used = 0;
    for (const DeviceColumn& column : kColumns) {
        used += column.share > 0 ? column.share : 0;
    }
    for (int i = 0; i < kDeviceColumnCount; ++i) {
        int share = kColumns[i].share;
        int columnWidth = share == kRestOfWidth ? width - used * width / kShareUnits : share * width / kShareUnits;
        SendMessageW(list, LVM_SETCOLUMNWIDTH, i, MAKELPARAM(columnWidth, 0));
    }
}
