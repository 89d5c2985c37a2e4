// The two things done with the column table on the list control itself:
// creating the columns and fitting their widths.
#include "rows/columns.h"

#include <commctrl.h>

void CreateDeviceColumns(HWND list)
{
    for (int i = 0; i < kDeviceColumnCount; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.cx = 0;
        column.pszText = const_cast<wchar_t*>(DeviceColumnHeader(i));
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
    for (int i = 0; i < kDeviceColumnCount; ++i) {
        int share = DeviceColumnShare(i);
        used += share > 0 ? share : 0;
    }
    for (int i = 0; i < kDeviceColumnCount; ++i) {
        int share = DeviceColumnShare(i);
        int columnWidth = share == kColumnRestOfWidth ? width - used * width / kColumnShareUnits
                                                      : share * width / kColumnShareUnits;
        SendMessageW(list, LVM_SETCOLUMNWIDTH, i, MAKELPARAM(columnWidth, 0));
    }
}
