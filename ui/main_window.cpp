// The main window: a dialog template whose class procedure is MainWindowProc.
// It dispatches each message to one small handler; the device list's
// columns are made by rows/columns.cpp, its rows kept by the files behind
// device_list.h.
#include "ui/main_window.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>

#include "core/app_messages.h"
#include "core/globals.h"
#include "core/platform.h"
#include "net/address_class.h"
#include "net/interface_table.h"
#include "rows/columns.h"
#include "ui/arp_header_tip.h"
#include "ui/device_list.h"
#include "ui/device_rows.h"
#include "ui/diagnostics_dialog.h"
#include "ui/empty_explanation.h"
#include "ui/find_box.h"
#include "ui/list_commands.h"
#include "ui/list_order.h"
#include "ui/list_table.h"
#include "core/resource.h"
#include "ui/window_layout.h"
#include "ui/window_memory.h"

namespace {

// The count beside Refresh after rows came, changed or went; an open find
// box matches them again; the empty list's explanation goes with the first row.
void ShowCounts(HWND window)
{
    UpdateDeviceCount(window, ApplyFindMatches(window));
    UpdateEmptyExplanation(window);
}

// The parameter is the memory the window fills when it is destroyed, or null.
LRESULT OnInitDialog(HWND window, LPARAM parameter)
{
    // Set first, so that answers posted by the workers resumed below arrive.
    g_mainWindow = window;
    SendDlgItemMessageW(window, IDC_AUTO_REFRESH, BM_SETCHECK,
                        g_autoRefresh != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    FillSubnetCombo(window);
    HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
    CreateDeviceColumns(list);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    ListOrder byAddress = {kColumnIp, false};
    SetListOrder(list, byAddress);
    UpdateDeviceCount(window);
    // Before the layout remembers the controls' places.
    CreateEmptyExplanation(window);
    InitWindowLayout(window);
    CreateArpHeaderTip(window);
    AttachWindowMemory(window, reinterpret_cast<WindowMemory*>(parameter));
    ResumeInterfaceWorkers();
    return 1;
}

// The subnet filter for the combo box's current selection.
uint32_t SelectedSubnet(HWND combo)
{
    LRESULT selection = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (selection < 1) {
        return kAllInterfaces;
    }
    wchar_t text[128] = {};
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, selection, 0);
    if (length < 0 || length >= 128) {
        return kAllInterfaces;
    }
    SendMessageW(combo, CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(text));
    char narrow[32] = {};
    size_t converted = wcstombs(narrow, text, sizeof(narrow) - 1);
    if (converted == static_cast<size_t>(-1)) {
        return kAllInterfaces;
    }
    narrow[sizeof(narrow) - 1] = '\0';
    // inet_addr's failure value is the all-interfaces value.
    return inet_addr(narrow);
}

void RestartDiscovery(HWND window)
{
    // First, so that the workers ask while the list empties: what they find
    // is posted, and so handled only after this command. Also with
    // auto-refresh on: the running browse restarts at once, so the emptied
    // list fills again without waiting for its next round.
    TriggerRefresh();
    ClearDeviceList(window);
    RestartEmptyExplanationWait(window);
    ShowCounts(window);
}

LRESULT OnCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (RunFindCommand(window, LOWORD(wParam), HIWORD(wParam))) {
        return 0;
    }
    switch (LOWORD(wParam)) {
    case IDM_ABOUT:
        DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDialogProc, 0);
        return 0;
    case IDM_NETWORK_DIAGNOSTICS:
        OpenDiagnosticsDialog(window);
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    case IDC_REFRESH:
        RestartDiscovery(window);
        return 0;
    case IDC_AUTO_REFRESH:
    {
        int32_t on = SendDlgItemMessageW(window, IDC_AUTO_REFRESH, BM_GETCHECK, 0, 0) != 0 ? 1 : 0;
        bool switchedOn = on != 0 && g_autoRefresh == 0;
        if (switchedOn) {
            MarkAllRowsSeen(window, GetTickCount());
        }
        g_autoRefresh = on;
        if (switchedOn) {
            TriggerRefresh();  // the first round now, not after the workers' next wait
        }
        return 0;
    }
    case IDC_SUBNET:
        if (HIWORD(wParam) == CBN_SELCHANGE) {
            g_subnetFilter = SelectedSubnet(GetDlgItem(window, IDC_SUBNET));
            RestartDiscovery(window);
        }
        return 0;
    case IDOK:
        // Enter: on a row it opens the row's page; elsewhere it presses the
        // default button, Refresh.
        if (GetFocus() == GetDlgItem(window, IDC_DEVICE_LIST)) {
            RunListCommand(window, IDM_OPEN_PAGE);
        } else {
            RestartDiscovery(window);
        }
        return 0;
    case IDCANCEL:
        return 0;  // Escape does not close the main window
    }
    if (RunListCommand(window, LOWORD(wParam))) {
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT OnNotify(HWND window, WPARAM wParam, LPARAM lParam)
{
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr) {
        return 0;
    }
    if (header->idFrom == IDC_EMPTY_EXPLANATION && (header->code == NM_CLICK || header->code == NM_RETURN)) {
        OpenDiagnosticsDialog(window);
        return 0;
    }
    // The list passes on its header's changes of column widths.
    if (header->code == HDN_ITEMCHANGEDW || header->code == HDN_ITEMCHANGEDA) {
        PlaceArpHeaderTip(window);
        return 0;
    }
    if (header->idFrom != IDC_DEVICE_LIST) {
        return 0;
    }
    switch (header->code) {
    case NM_CUSTOMDRAW:
        return HighlightFoundRow(window, lParam, ColourDeviceRow(window, wParam, lParam));
    case NM_DBLCLK:
        return OpenDevicePage(window, wParam, lParam);
    case LVN_COLUMNCLICK:
        OnColumnClick(window, reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
        return 0;
    }
    return 0;
}

LRESULT OnAddressChange()
{
    // No owner: the window stays enabled and keeps handling answers meanwhile.
    g_platform.messageBox(nullptr,
                          L"A change in the IPv4 configuration has been detected.\r\n"
                          L"The device list will be cleared.",
                          L"IP Configuration Change", MB_OK | MB_ICONINFORMATION);
    HWND window = g_mainWindow;
    if (window != nullptr && IsWindow(window)) {
        ClearDeviceList(window);
        RestartEmptyExplanationWait(window);
        ShowCounts(window);
        FillSubnetCombo(window);
    }
    ResumeInterfaceWorkers();
    return 0;
}

// The count beside Refresh follows the rows: after a burst of answers that
// changed the list has been merged, and on every tick (expiry, or a burst
// that never ends). Most answers repeat what a row shows and change nothing.
LRESULT OnDeviceRecord(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (MergeQueuedDeviceRecord(window, wParam, lParam) && TakeListChanged(DeviceListOf(window))) {
        ShowCounts(window);
    }
    return 0;
}

LRESULT OnTick(HWND window, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = ExpireStaleRows(window, wParam, lParam);
    ShowCounts(window);
    return result;
}

// Tab and Shift+Tab: the message loop's dialog navigation asks the window to
// move the focus, which only the dialog class's own procedure would do.
LRESULT OnNextDialogControl(HWND window, WPARAM wParam, LPARAM lParam)
{
    HWND next = LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam)
                                    : GetNextDlgTabItem(window, GetFocus(), wParam != 0 ? TRUE : FALSE);
    if (next != nullptr && IsChild(window, next)) {
        SetFocus(next);
    }
    return 0;
}

LRESULT OnContextMenu(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (reinterpret_cast<HWND>(wParam) == GetDlgItem(window, IDC_DEVICE_LIST)) {
        ShowRowMenu(window, lParam);
    }
    return 0;
}

LRESULT OnDestroy(HWND window)
{
    RememberWindow(window);
    SetEvent(g_stopEvent);
    ClearDeviceList(window);
    ReleaseListTable(DeviceListOf(window));
    ReleaseWindowLayout(window);
    ReleaseEmptyExplanation(window);
    ReleaseArpHeaderTip(window);
    PostQuitMessage(0);
    return 0;
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(window, lParam);
    case WM_COMMAND:
        return OnCommand(window, message, wParam, lParam);
    case WM_NOTIFY:
        return OnNotify(window, wParam, lParam);
    case WM_DESTROY:
        return OnDestroy(window);
    case WM_APP_IPCHANGE:
        return OnAddressChange();
    case WM_APP_DEVICE:
        // Answers come in bursts; the merge holds list drawing meanwhile.
        return OnDeviceRecord(window, wParam, lParam);
    case WM_APP_TICK:
        return OnTick(window, wParam, lParam);
    case WM_CONTEXTMENU:
        return OnContextMenu(window, wParam, lParam);
    case WM_NEXTDLGCTL:
        return OnNextDialogControl(window, wParam, lParam);
    case WM_SIZE:
        LayOutControls(window);
        PlaceArpHeaderTip(window);
        return 0;
    case WM_TIMER:
        if (wParam == kEmptyExplanationTimer) {
            OnEmptyExplanationTimer(window);
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
        if (HBRUSH brush = EmptyExplanationColours(window, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam))) {
            return reinterpret_cast<LRESULT>(brush);
        }
        break;
    case WM_GETMINMAXINFO:
        LimitWindowSize(window, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_DPICHANGED:
        OnWindowDpiChanged(window, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        OnColourSchemeChange(window, message);
        break;  // and the default handling
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

ATOM RegisterMainWindowClass(HINSTANCE instance, const wchar_t* className)
{
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = className;
    return RegisterClassW(&windowClass);
}

void FillSubnetCombo(HWND window)
{
    HWND combo = GetDlgItem(window, IDC_SUBNET);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"All Interfaces"));
    SendMessageW(combo, CB_SETCURSEL, 0, 0);

    uint32_t filter = g_subnetFilter;
    bool filterSeen = false;
    LockInterfaceTable();
    for (uint32_t i = 0; i < g_interfaceTable.count && g_interfaceTable.entries != nullptr; ++i) {
        uint32_t network = g_interfaceTable.entries[i].network;
        wchar_t text[32];
        FormatDottedQuad(network, text, 32);
        LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        if (filter != kAllInterfaces && filter == network) {
            SendMessageW(combo, CB_SETCURSEL, index, 0);
            filterSeen = true;
        }
    }
    UnlockInterfaceTable();
    // A subnet that no interface has any more falls back to all interfaces.
    if (!filterSeen) {
        g_subnetFilter = kAllInterfaces;
    }

    int entries = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    EnableWindow(combo, entries >= 3 ? TRUE : FALSE);
}
