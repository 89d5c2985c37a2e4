// Moving a row of the device list: its item data, every column's text and
// its selection and focus are read, the row is deleted and a row made of
// them is inserted at its new index. Window thread only.
#include "ui/row_move.h"

#include <commctrl.h>

#include "rows/columns.h"
#include "ui/list_cells.h"

namespace {

// What the user set on the row: selection and focus.
constexpr UINT kKeptStates = LVIS_SELECTED | LVIS_FOCUSED;

struct RowCopy {
    LPARAM param;
    UINT state;
    wchar_t texts[kDeviceColumnCount][kCellChars];
};

bool CopyRow(HWND list, int row, RowCopy* copy)
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM | LVIF_STATE;
    item.iItem = row;
    item.stateMask = kKeptStates;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
        return false;
    }
    copy->param = item.lParam;
    copy->state = item.state & kKeptStates;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        ReadCellText(list, row, column, copy->texts[column]);
    }
    return true;
}

// Inserts the copy as row, or answers -1.
int InsertCopy(HWND list, int row, RowCopy* copy)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
    item.iItem = row;
    item.pszText = copy->texts[0];
    item.lParam = copy->param;
    item.state = copy->state;
    item.stateMask = kKeptStates;
    int inserted = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    for (int column = 1; inserted >= 0 && column < kDeviceColumnCount; ++column) {
        LVITEMW cell = {};
        cell.iSubItem = column;
        cell.pszText = copy->texts[column];
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(inserted), reinterpret_cast<LPARAM>(&cell));
    }
    return inserted;
}

}  // namespace

int MoveRow(HWND list, int from, int to)
{
    int count = RowCount(list);
    if (from == to || from < 0 || from >= count || to < 0 || to >= count) {
        return from;
    }
    RowCopy copy;
    if (!CopyRow(list, from, &copy)) {
        return from;
    }
    int mark = static_cast<int>(SendMessageW(list, LVM_GETSELECTIONMARK, 0, 0));
    if (!SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(from), 0)) {
        return from;
    }
    int moved = InsertCopy(list, to, &copy);
    if (moved >= 0 && mark == from) {
        SendMessageW(list, LVM_SETSELECTIONMARK, 0, moved);
    }
    return moved;
}
