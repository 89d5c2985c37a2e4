// The find box: opening and closing it, matching rows against its text,
// and moving between matches. Window thread only.
#include "ui/find_box.h"

#include <commctrl.h>
#include <wchar.h>

#include "rows/columns.h"
#include "ui/device_rows.h"
#include "ui/list_cells.h"
#include "ui/list_commands.h"
#include "core/resource.h"

namespace {

HWND FindEdit(HWND window)
{
    return GetDlgItem(window, IDC_FIND_TEXT);
}

// Open means shown, even while the window itself is not (yet) visible.
bool IsOpen(HWND window)
{
    HWND edit = FindEdit(window);
    return edit != nullptr && (GetWindowLongW(edit, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool HasFocus(HWND window)
{
    HWND edit = FindEdit(window);
    return edit != nullptr && GetFocus() == edit;
}

void Lower(wchar_t* text)
{
    CharLowerBuffW(text, static_cast<DWORD>(lstrlenW(text)));
}

// The open box's text in lower case; text has room for kCellChars units.
// False when the box is closed or empty.
bool LoweredFindText(HWND window, wchar_t* text)
{
    text[0] = L'\0';
    if (!IsOpen(window)) {
        return false;
    }
    GetWindowTextW(FindEdit(window), text, kCellChars);
    text[kCellChars - 1] = L'\0';
    Lower(text);
    return text[0] != L'\0';
}

// Whether one of the cells a person sees in row contains the lowered text.
// The columns that copies carry are those; the hidden port is not.
bool RowMatches(HWND list, int row, const wchar_t* lowered)
{
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        if (!IsExportedColumn(column)) {
            continue;
        }
        wchar_t cell[kCellChars];
        ReadCellText(list, row, column, cell);
        Lower(cell);
        if (wcsstr(cell, lowered) != nullptr) {
            return true;
        }
    }
    return false;
}

void SetRowState(HWND list, int row, UINT state, UINT mask)
{
    LVITEMW item = {};
    item.state = state;
    item.stateMask = mask;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// The focus moves to row (the selection stays), and the list scrolls to it.
void FocusRow(HWND list, int row)
{
    SetRowState(list, row, LVIS_FOCUSED, LVIS_FOCUSED);
    SendMessageW(list, LVM_SETSELECTIONMARK, 0, row);
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

// The first matching row after from (before it when step is -1), going
// round the end of the list; from -1 starts at the first or the last row.
// -1 when no row matches.
int NextMatch(HWND list, int from, int step, const wchar_t* lowered)
{
    int count = RowCount(list);
    if (from < 0 || from >= count) {
        from = step > 0 ? -1 : count;
    }
    for (int i = 1; i <= count; ++i) {
        int row = ((from + step * i) % count + count) % count;
        if (RowMatches(list, row, lowered)) {
            return row;
        }
    }
    return -1;
}

void OnTextChanged(HWND window)
{
    int matches = ApplyFindMatches(window);
    wchar_t lowered[kCellChars];
    if (matches > 0 && LoweredFindText(window, lowered)) {
        HWND list = DeviceListOf(window);
        int first = NextMatch(list, -1, 1, lowered);
        if (first >= 0) {
            FocusRow(list, first);
        }
    }
    UpdateDeviceCount(window, matches);
}

void OpenBox(HWND window)
{
    HWND edit = FindEdit(window);
    SendMessageW(edit, EM_LIMITTEXT, kCellChars - 1, 0);  // no cell holds more
    ShowWindow(GetDlgItem(window, IDC_FIND_LABEL), SW_SHOW);
    ShowWindow(edit, SW_SHOW);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    OnTextChanged(window);  // a text kept from the last find finds again
}

void CloseBox(HWND window)
{
    // The focus leaves the box before it is hidden, so it is never lost.
    SetFocus(DeviceListOf(window));
    ShowWindow(FindEdit(window), SW_HIDE);
    ShowWindow(GetDlgItem(window, IDC_FIND_LABEL), SW_HIDE);
    UpdateDeviceCount(window, -1);
}

// F3 and Shift+F3; with the box closed they open it.
void MoveToMatch(HWND window, int step)
{
    if (!IsOpen(window)) {
        OpenBox(window);
        return;
    }
    wchar_t lowered[kCellChars];
    if (!LoweredFindText(window, lowered)) {
        return;
    }
    HWND list = DeviceListOf(window);
    int focused = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    int row = NextMatch(list, focused, step, lowered);
    if (row >= 0) {
        FocusRow(list, row);
    }
}

}  // namespace

bool RunFindCommand(HWND window, int id, int code)
{
    switch (id) {
    case IDM_FIND:
        OpenBox(window);
        return true;
    case IDM_FIND_NEXT:
        MoveToMatch(window, 1);
        return true;
    case IDM_FIND_PREVIOUS:
        MoveToMatch(window, -1);
        return true;
    case IDC_FIND_TEXT:
        if (code == EN_CHANGE) {
            OnTextChanged(window);
        }
        return true;
    case IDOK:
        // Enter in the box goes to the next match rather than to Refresh.
        if (HasFocus(window)) {
            MoveToMatch(window, 1);
            return true;
        }
        return false;
    case IDCANCEL:
        if (IsOpen(window)) {
            CloseBox(window);
            return true;
        }
        return false;
    case IDM_COPY_SELECTED:
        // Ctrl+C in the box copies its text, not the selected rows.
        if (HasFocus(window)) {
            SendMessageW(FindEdit(window), WM_COPY, 0, 0);
            return true;
        }
        return false;
    }
    return false;
}

int ApplyFindMatches(HWND window)
{
    wchar_t lowered[kCellChars];
    if (!LoweredFindText(window, lowered)) {
        return -1;
    }
    HWND list = DeviceListOf(window);
    int count = RowCount(list);
    int matches = 0;
    for (int row = 0; row < count; ++row) {
        bool match = RowMatches(list, row, lowered);
        bool selected = (SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) &
                         LVIS_SELECTED) != 0;
        // Only changes are set: each one redraws its row.
        if (match != selected) {
            SetRowState(list, row, match ? LVIS_SELECTED : 0, LVIS_SELECTED);
        }
        matches += match ? 1 : 0;
    }
    return matches;
}

LRESULT HighlightFoundRow(HWND window, LPARAM lParam, LRESULT result)
{
    NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
    if (draw == nullptr || draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT || !IsOpen(window)) {
        return result;
    }
    HWND list = draw->nmcd.hdr.hwndFrom;
    if (list == GetFocus() || !(SendMessageW(list, LVM_GETITEMSTATE, draw->nmcd.dwItemSpec, LVIS_SELECTED) &
                                LVIS_SELECTED)) {
        return result;
    }
    // Without the selected state the control paints the colours given here.
    draw->nmcd.uItemState &= ~CDIS_SELECTED;
    draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    draw->clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
    return result;
}
