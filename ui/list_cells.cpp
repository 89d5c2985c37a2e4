// Row count and cell texts of the device list, for ordering, moving and
// export.
#include "ui/list_cells.h"

#include <commctrl.h>

void ReadCellText(HWND list, int row, int column, wchar_t* text)
{
    text[0] = L'\0';
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = kCellChars;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    text[kCellChars - 1] = L'\0';
}

int RowCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}
