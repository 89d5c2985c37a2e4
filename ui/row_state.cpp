// The Status column's words for the state a device row shows.
#include "ui/row_state.h"

#include <commctrl.h>

#include "rows/columns.h"

void SetStatusCell(HWND list, int row, int32_t state)
{
    wchar_t text[kStateTextChars];
    StateText(state, text, kStateTextChars);
    LVITEMW item = {};
    item.iSubItem = kColumnStatus;
    item.pszText = text;
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}
