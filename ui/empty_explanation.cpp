// The empty list's explanation (ui/empty_explanation.h): a SysLink control
// over the list's top, below its header. Its text ends in a link to the
// whole report; Tab reaches it just before the list, and screen readers
// read it as a link. Window thread only.
#include "ui/empty_explanation.h"

#include <commctrl.h>

#include "core/globals.h"
#include "core/resource.h"
#include "ui/device_rows.h"
#include "ui/diagnosis_text.h"
#include "ui/empty_list_rule.h"
#include "ui/list_cells.h"

namespace {

// GetTickCount() of the last Refresh or the start.
const wchar_t kRefreshTickProperty[] = L"NdtRefreshTick";

// The summary and the link that follows it.
constexpr int kSummaryChars = 512;
constexpr int kLinkChars = 128;

HWND ExplanationOf(HWND window)
{
    return GetDlgItem(window, IDC_EMPTY_EXPLANATION);
}

DWORD MsSinceRefresh(HWND window)
{
    DWORD refreshed = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(GetPropW(window, kRefreshTickProperty)));
    return GetTickCount() - refreshed;  // unsigned: right across the 49-day wrap
}

// What was tried and the likeliest cause, then the link to the report.
void FillExplanation(HWND window, HWND link)
{
    wchar_t summary[kSummaryChars] = L"";
    if (!DescribeDiagnosis(RowCount(DeviceListOf(window)), nullptr, summary, kSummaryChars) ||
        summary[0] == L'\0') {
        LoadStringW(g_instance, IDS_EMPTY_NO_REPORT, summary, kSummaryChars);
    }
    wchar_t linkText[kLinkChars] = L"";
    LoadStringW(g_instance, IDS_EMPTY_REPORT_LINK, linkText, kLinkChars);
    wchar_t text[kSummaryChars + kLinkChars + 1] = L"";
    lstrcpynW(text, summary, kSummaryChars);
    int length = lstrlenW(text);
    text[length] = L' ';
    lstrcpynW(text + length + 1, linkText, kLinkChars);
    SetWindowTextW(link, text);
}

}  // namespace

void CreateEmptyExplanation(HWND window)
{
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LINK_CLASS};
    InitCommonControlsEx(&classes);
    HWND list = DeviceListOf(window);
    RECT place;
    GetWindowRect(list, &place);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
    RECT header = {};
    GetWindowRect(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), &header);
    // Margins and height in dialog units, so they follow the font.
    RECT units = {6, 4, 0, 28};
    MapDialogRect(window, &units);
    int top = place.top + (header.bottom - header.top) + units.top;
    HWND link = CreateWindowExW(0, WC_LINK, L"", WS_CHILD | WS_TABSTOP, place.left + units.left, top,
                                place.right - place.left - 2 * units.left, units.bottom, window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_EMPTY_EXPLANATION)),
                                g_instance, nullptr);
    if (link == nullptr) {
        return;  // the list stays as it was: empty, without words
    }
    // The list's font: the window's class procedure keeps none of its own.
    SendMessageW(link, WM_SETFONT, SendMessageW(list, WM_GETFONT, 0, 0), FALSE);
    // Above the list, so that it is drawn and clicked there, and just before
    // it in the tab order.
    HWND before = GetWindow(list, GW_HWNDPREV);
    SetWindowPos(link, before != nullptr ? before : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RestartEmptyExplanationWait(window);
}

void RestartEmptyExplanationWait(HWND window)
{
    SetPropW(window, kRefreshTickProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(GetTickCount())));
    ShowWindow(ExplanationOf(window), SW_HIDE);
    SetTimer(window, kEmptyExplanationTimer, kEmptyListExplanationDelayMs, nullptr);
}

void UpdateEmptyExplanation(HWND window)
{
    HWND link = ExplanationOf(window);
    if (link == nullptr) {
        return;
    }
    bool wanted = EmptyListExplanationWanted(RowCount(DeviceListOf(window)), MsSinceRefresh(window));
    // Its own style, not IsWindowVisible: while the window itself is hidden,
    // that answers false, and every tick would gather the facts again.
    bool shown = (GetWindowLongW(link, GWL_STYLE) & WS_VISIBLE) != 0;
    if (wanted && !shown) {
        FillExplanation(window, link);
        ShowWindow(link, SW_SHOWNA);
    } else if (!wanted && shown) {
        // The focus must not stay on a hidden control.
        if (GetFocus() == link) {
            SetFocus(DeviceListOf(window));
        }
        ShowWindow(link, SW_HIDE);
    }
}

void OnEmptyExplanationTimer(HWND window)
{
    KillTimer(window, kEmptyExplanationTimer);
    UpdateEmptyExplanation(window);
}

HBRUSH EmptyExplanationColours(HWND window, HDC dc, HWND control)
{
    if (control == nullptr || control != ExplanationOf(window)) {
        return nullptr;
    }
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return GetSysColorBrush(COLOR_WINDOW);
}

void ReleaseEmptyExplanation(HWND window)
{
    KillTimer(window, kEmptyExplanationTimer);
    RemovePropW(window, kRefreshTickProperty);
}
