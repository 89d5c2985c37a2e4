// The Status column's words for the state a device row shows.
#include "ui/row_state.h"

#include <commctrl.h>

#include "core/device_record.h"
#include "ui/device_columns.h"
#include "ui/resource.h"

void StateText(int32_t state, wchar_t* text, int chars)
{
    if (chars <= 0) {
        return;
    }
    text[0] = L'\0';
    UINT id = 0;
    switch (state) {
    case DeviceStateLinkLocal:
        id = IDS_STATE_LINK_LOCAL;
        break;
    case DeviceStateOtherSubnet:
        id = IDS_STATE_OTHER_SUBNET;
        break;
    case DeviceStateConflict:
        id = IDS_STATE_CONFLICT;
        break;
    default:
        return;  // a device in the PC's subnet needs no words
    }
    if (LoadStringW(GetModuleHandleW(nullptr), id, text, chars) <= 0) {
        text[0] = L'\0';
    }
    text[chars - 1] = L'\0';
}

void SetStatusCell(HWND list, int row, int32_t state)
{
    wchar_t text[kStateTextChars];
    StateText(state, text, kStateTextChars);
    LVITEMW item = {};
    item.iSubItem = kColumnStatus;
    item.pszText = text;
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}
