// Commands on the device list's rows: context menu, clipboard, CSV file,
// opening a row's page from the keyboard, ordering and the row count.
// Window thread only.
#include "ui/list_commands.h"

#include <commctrl.h>
#include <commdlg.h>
#include <stdio.h>

#include "core/platform.h"
#include "rows/columns.h"
#include "ui/device_list.h"
#include "ui/device_rows.h"
#include "ui/list_cells.h"
#include "ui/list_order.h"
#include "core/resource.h"
#include "rows/saved_list.h"
#include "ui/row_export.h"

namespace {

int FocusedRow(HWND list)
{
    int row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                            LVNI_FOCUSED | LVNI_SELECTED));
    if (row < 0) {
        row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    return row;
}

// Puts the text on the clipboard, unless building it failed, and frees it.
void CopyAndFree(HWND window, TextBuffer* text)
{
    if (!text->failed && text->text != nullptr) {
        CopyToClipboard(window, text->text);
    }
    FreeTextBuffer(text);
}

void CopyRows(HWND window, bool selectedOnly, bool withHeader)
{
    TextBuffer text;
    InitTextBuffer(&text);
    FormatRows(&text, DeviceListOf(window), selectedOnly, withHeader, kTabSeparated);
    CopyAndFree(window, &text);
}

void CopyFocusedRow(HWND window)
{
    HWND list = DeviceListOf(window);
    int row = FocusedRow(list);
    if (row < 0) {
        return;
    }
    TextBuffer text;
    InitTextBuffer(&text);
    AppendRow(&text, list, row, kTabSeparated);
    CopyAndFree(window, &text);
}

// The same address the double-click opens: the stored record's.
void OpenFocusedRowPage(HWND window)
{
    HWND list = DeviceListOf(window);
    int row = FocusedRow(list);
    if (row >= 0) {
        OpenRowPage(window, list, row);
    }
}

void SaveList(HWND window)
{
    wchar_t path[MAX_PATH] = L"devices.csv";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = window;
    dialog.lpstrFilter = L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"csv";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!g_platform.getSaveFileName(&dialog)) {
        return;  // cancelled
    }
    path[MAX_PATH - 1] = L'\0';
    TextBuffer text;
    InitTextBuffer(&text);
    FormatRows(&text, DeviceListOf(window), false, true, kCommaSeparated);
    DWORD status = text.failed ? ERROR_NOT_ENOUGH_MEMORY : WriteUtf8File(path, text.text, text.length);
    FreeTextBuffer(&text);
    if (status != NO_ERROR) {
        wchar_t message[MAX_PATH + 64];
        _snwprintf(message, MAX_PATH + 64, L"The list could not be saved to %ls (error %lu).", path,
                   static_cast<unsigned long>(status));
        message[MAX_PATH + 63] = L'\0';
        g_platform.messageBox(window, message, L"Save list as…", MB_OK | MB_ICONERROR);
    }
}

}  // namespace

void ShowRowMenu(HWND window, LPARAM point)
{
    HWND list = DeviceListOf(window);
    POINT at = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    int row = -1;
    if (point == -1) {
        // From the keyboard: below the selected row, or at the list's corner.
        row = FocusedRow(list);
        RECT rect = {LVIR_BOUNDS, 0, 0, 0};
        if (row >= 0 && SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect))) {
            at.x = rect.left + 8;
            at.y = rect.bottom;
        } else {
            at.x = 8;
            at.y = 8;
        }
        ClientToScreen(list, &at);
    } else {
        LVHITTESTINFO hit = {};
        hit.pt = at;
        ScreenToClient(list, &hit.pt);
        SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        row = hit.iItem;
        if (row >= 0 && !(SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED)) {
            // A right-click on an unselected row acts on that row alone.
            LVITEMW state = {};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        }
    }
    if (row < 0) {
        return;
    }
    HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_ROW_MENU));
    if (menu == nullptr) {
        return;
    }
    HMENU popup = GetSubMenu(menu, 0);
    if (popup != nullptr) {
        TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
    }
    DestroyMenu(menu);
}

bool RunListCommand(HWND window, int id)
{
    HWND list = DeviceListOf(window);
    switch (id) {
    case IDM_COPY_SELECTED:
        CopyRows(window, true, false);
        return true;
    case IDM_COPY_ALL:
        CopyRows(window, false, true);
        return true;
    case IDM_SAVE_LIST:
        SaveList(window);
        return true;
    case IDM_OPEN_PAGE:
        OpenFocusedRowPage(window);
        return true;
    case IDM_COPY_IP:
    case IDM_COPY_MAC: {
        int row = FocusedRow(list);
        if (row >= 0) {
            CopyCell(window, list, row, id == IDM_COPY_IP ? kColumnIp : kColumnMac);
        }
        return true;
    }
    case IDM_COPY_ROW:
        CopyFocusedRow(window);
        return true;
    }
    return false;
}

void OnColumnClick(HWND window, int column)
{
    HWND list = DeviceListOf(window);
    if (!IsOrderedColumn(column)) {
        return;  // the hidden port column does not order the list
    }
    SetListOrder(list, OrderAfterHeaderClick(GetListOrder(list), column));
}

void UpdateDeviceCount(HWND window, int matches)
{
    int rows = RowCount(DeviceListOf(window));
    const wchar_t* devices = rows == 1 ? L"device" : L"devices";
    wchar_t text[64];
    if (matches >= 0) {
        _snwprintf(text, 64, L"%d %ls, %d match", rows, devices, matches);
    } else {
        _snwprintf(text, 64, L"%d %ls", rows, devices);
    }
    text[63] = L'\0';
    wchar_t shown[64] = L"";
    GetDlgItemTextW(window, IDC_DEVICE_COUNT, shown, 64);
    if (lstrcmpW(shown, text) != 0) {
        SetDlgItemTextW(window, IDC_DEVICE_COUNT, text);
    }
}
