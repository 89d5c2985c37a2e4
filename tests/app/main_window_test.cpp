// The main window made from its real dialog template, over an injected
// interface table whose workers are held suspended so triggers stay visible.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <string>

#include <gtest/gtest.h>

#include "core/app_messages.h"
#include "core/device_record.h"
#include "app/fake_platform.h"
#include "core/globals.h"
#include "net/interface_table.h"
#include "ui/main_window.h"
#include "core/resource.h"

namespace {

std::wstring TextOf(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitCommonControls();
        g_instance = GetModuleHandleW(nullptr);
        RegisterMainWindowClass(g_instance, L"KVRWIN32");
    }

    void SetUp() override
    {
        g_subnetFilter = kAllInterfaces;
        g_autoRefresh = 0;
        g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        fake.addresses = {{"192.168.77.10", "255.255.255.0", 5}, {"10.77.0.10", "255.255.0.0", 6}};
    }

    void TearDown() override
    {
        if (window != nullptr && IsWindow(window)) {
            DestroyWindow(window);
        }
        DrainMessages();
        TeardownInterfaceTable();
        CloseHandle(g_stopEvent);
        g_stopEvent = INVALID_HANDLE_VALUE;
        g_mainWindow = nullptr;
        g_subnetFilter = kAllInterfaces;
        g_autoRefresh = 0;
    }

    // Builds the table with its workers held suspended once more than the
    // window's resume can release, then creates the window.
    void Open()
    {
        ASSERT_EQ(1, BuildInterfaceTable());
        HoldWorkers();
        window = CreateDialogParamW(g_instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                    reinterpret_cast<DLGPROC>(MainWindowProc), 0);
        ASSERT_NE(nullptr, window);
        list = GetDlgItem(window, IDC_DEVICE_LIST);
        combo = GetDlgItem(window, IDC_SUBNET);
        ConsumeTriggers();
    }

    static void HoldWorkers()
    {
        for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
            SuspendThread(g_interfaceTable.entries[i].transmitThread);
            SuspendThread(g_interfaceTable.entries[i].receiveThread);
            SuspendThread(g_interfaceTable.entries[i].mdnsThread);
        }
    }

    static void ConsumeTriggers()
    {
        for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
            WaitForSingleObject(g_interfaceTable.entries[i].transmitTrigger, 0);
            WaitForSingleObject(g_interfaceTable.entries[i].mdnsTrigger, 0);
        }
    }

    // Number of interfaces whose both triggers were signalled (consumes them).
    static int TriggeredInterfaces()
    {
        int triggered = 0;
        for (uint32_t i = 0; i < g_interfaceTable.count; ++i) {
            bool transmit = WaitForSingleObject(g_interfaceTable.entries[i].transmitTrigger, 0) == WAIT_OBJECT_0;
            bool mdns = WaitForSingleObject(g_interfaceTable.entries[i].mdnsTrigger, 0) == WAIT_OBJECT_0;
            EXPECT_EQ(transmit, mdns);
            triggered += transmit && mdns ? 1 : 0;
        }
        return triggered;
    }

    static void DrainMessages()
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                DispatchMessageW(&message);
            }
        }
    }

    void AddRow(const wchar_t* ip)
    {
        // As the workers hand an answer over; the list's table owns it then.
        DeviceRecord* record = AllocateDeviceRecord();
        ASSERT_NE(nullptr, record);
        CopyText(record->ipText, kIpTextChars, ip);
        record->fromMdns = 1;
        record->lastSeen = GetTickCount();
        int rows = Rows();
        SendMessageW(window, WM_APP_DEVICE, sizeof(DeviceRecord), reinterpret_cast<LPARAM>(record));
        ASSERT_EQ(rows + 1, Rows());
    }

    int Rows() const { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

    std::wstring ComboText(int index) const
    {
        wchar_t text[128] = {};
        SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }

    void SelectSubnet(int index)
    {
        SendMessageW(combo, CB_SETCURSEL, index, 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_SUBNET, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    }

    FakePlatform fake;
    HWND window = nullptr;
    HWND list = nullptr;
    HWND combo = nullptr;
};

TEST_F(MainWindowTest, ControlsExistWithTheirIdsClassesAndTexts)
{
    Open();
    EXPECT_EQ(window, static_cast<HWND>(g_mainWindow));  // set during initialisation
    EXPECT_EQ(L"Orvel Network Discovery Tool", TextOf(window));
    EXPECT_EQ(L"KVRWIN32", ClassOf(window));
    EXPECT_EQ(L"Refresh", TextOf(GetDlgItem(window, IDC_REFRESH)));
    EXPECT_EQ(L"Auto-refresh", TextOf(GetDlgItem(window, IDC_AUTO_REFRESH)));
    EXPECT_EQ(L"SysListView32", ClassOf(list));
    EXPECT_EQ(L"ComboBox", ClassOf(combo));
    LONG style = GetWindowLongW(list, GWL_STYLE);
    EXPECT_EQ(LVS_REPORT, style & LVS_TYPEMASK);
    // Several rows can be selected (and copied); the program keeps the
    // order itself, and the headers can be clicked.
    EXPECT_FALSE(style & (LVS_SINGLESEL | LVS_SORTASCENDING | LVS_NOSORTHEADER));
    LONG frame = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_THICKFRAME | WS_MAXIMIZEBOX), frame & (WS_THICKFRAME | WS_MAXIMIZEBOX));
    EXPECT_EQ(L"0 devices", TextOf(GetDlgItem(window, IDC_DEVICE_COUNT)));
    EXPECT_TRUE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
    EXPECT_NE(nullptr, GetMenu(window));

    int statics = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == L"Static") {
            ++statics;
        }
    }
    EXPECT_EQ(8, statics);  // five texts, the subnet and find labels, and the count
}

TEST_F(MainWindowTest, ColumnHeadersAndWidthsFollowTheClientWidth)
{
    Open();
    RECT client = {};
    GetClientRect(list, &client);
    int w = client.right - client.left;
    ASSERT_GT(w, 0);
    const wchar_t* headers[] = {L"IP Address", L"Name", L"MAC Address", L"Description", L"ARP", L"", L"Status"};
    const int widths[] = {6 * w / 40, 11 * w / 40, 7 * w / 40, w - 31 * w / 40, 2 * w / 40, 0, 5 * w / 40};
    for (int i = 0; i < 7; ++i) {
        wchar_t text[64] = {L'?'};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column))) << i;
        EXPECT_EQ(std::wstring(headers[i]), text) << i;
        EXPECT_EQ(widths[i], column.cx) << i;
    }
    LVCOLUMNW eighth = {};
    eighth.mask = LVCF_WIDTH;
    EXPECT_FALSE(SendMessageW(list, LVM_GETCOLUMNW, 7, reinterpret_cast<LPARAM>(&eighth)));
}

TEST_F(MainWindowTest, SubnetChoiceListsEveryNetworkAndIsEnabledWithTwoInterfaces)
{
    Open();
    ASSERT_EQ(3, SendMessageW(combo, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(L"All Interfaces", ComboText(0));
    EXPECT_EQ(L"192.168.77.0", ComboText(1));
    EXPECT_EQ(L"10.77.0.0", ComboText(2));
    EXPECT_EQ(0, SendMessageW(combo, CB_GETCURSEL, 0, 0));
    EXPECT_TRUE(IsWindowEnabled(combo));
    EXPECT_EQ(BST_UNCHECKED, SendDlgItemMessageW(window, IDC_AUTO_REFRESH, BM_GETCHECK, 0, 0));
}

TEST_F(MainWindowTest, SubnetChoiceIsDisabledWithOneInterface)
{
    fake.addresses.pop_back();
    Open();
    EXPECT_EQ(2, SendMessageW(combo, CB_GETCOUNT, 0, 0));
    EXPECT_FALSE(IsWindowEnabled(combo));
}

TEST_F(MainWindowTest, SavedSubnetAndAutoRefreshAreShownWithoutRunningTheirCommands)
{
    g_subnetFilter = Ipv4("10.77.0.0");
    g_autoRefresh = 1;
    Open();
    EXPECT_EQ(2, SendMessageW(combo, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(BST_CHECKED, SendDlgItemMessageW(window, IDC_AUTO_REFRESH, BM_GETCHECK, 0, 0));
    EXPECT_EQ(Ipv4("10.77.0.0"), g_subnetFilter);
}

TEST_F(MainWindowTest, RefreshClearsTheListAndTriggers)
{
    Open();
    AddRow(L"192.168.77.20");
    AddRow(L"192.168.77.21");
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED), 0);
    EXPECT_EQ(0, Rows());
    EXPECT_EQ(2, TriggeredInterfaces());

    g_autoRefresh = 1;
    AddRow(L"192.168.77.20");
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED), 0);
    EXPECT_EQ(0, Rows());
    EXPECT_EQ(2, TriggeredInterfaces());
}

// The explanation waits for its delay on an empty list (pumping the timer's
// message, bounded), says why with a link, and goes with the first row and
// with a Refresh.
TEST_F(MainWindowTest, EmptyListExplainsItselfAfterTheWaitUntilARowComes)
{
    Open();
    HWND explanation = GetDlgItem(window, IDC_EMPTY_EXPLANATION);
    ASSERT_NE(nullptr, explanation);
    // Its own style: the test's window itself is never shown.
    auto shown = [explanation] { return (GetWindowLongW(explanation, GWL_STYLE) & WS_VISIBLE) != 0; };
    EXPECT_FALSE(shown());
    DWORD start = GetTickCount();
    while (!shown() && GetTickCount() - start < 15000) {
        DrainMessages();
        Sleep(50);
    }
    ASSERT_TRUE(shown());
    EXPECT_NE(std::wstring::npos, TextOf(explanation).find(L"<a>"));
    AddRow(L"192.168.77.20");
    EXPECT_FALSE(shown());

    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_REFRESH, BN_CLICKED), 0);
    EXPECT_FALSE(shown());  // the wait starts again
}

TEST_F(MainWindowTest, SubnetChoiceSetsTheFilterClearsAndTriggers)
{
    Open();
    AddRow(L"10.77.0.20");
    SelectSubnet(2);
    EXPECT_EQ(Ipv4("10.77.0.0"), g_subnetFilter);
    EXPECT_EQ(0, Rows());
    EXPECT_EQ(2, TriggeredInterfaces());

    g_autoRefresh = 1;
    AddRow(L"10.77.0.20");
    SelectSubnet(0);
    EXPECT_EQ(kAllInterfaces, g_subnetFilter);
    EXPECT_EQ(0, Rows());
    EXPECT_EQ(2, TriggeredInterfaces());

    // Other notifications from the box do nothing.
    AddRow(L"10.77.0.20");
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_SUBNET, CBN_DROPDOWN), reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(1, Rows());
}

// Switching on starts the first round at once; switching off triggers nothing.
TEST_F(MainWindowTest, AutoRefreshBoxSetsTheFlagWithoutClearing)
{
    Open();
    AddRow(L"192.168.77.20");
    HWND box = GetDlgItem(window, IDC_AUTO_REFRESH);
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_AUTO_REFRESH, BN_CLICKED), reinterpret_cast<LPARAM>(box));
    EXPECT_EQ(1, g_autoRefresh);
    EXPECT_EQ(2, TriggeredInterfaces());
    SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_AUTO_REFRESH, BN_CLICKED), reinterpret_cast<LPARAM>(box));
    EXPECT_EQ(0, g_autoRefresh);
    EXPECT_EQ(1, Rows());
    EXPECT_EQ(0, TriggeredInterfaces());
}

int g_prePaints = 0;
WNDPROC g_originalProc = nullptr;

LRESULT CALLBACK CountPrePaints(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_DEVICE_LIST && header->code == NM_CUSTOMDRAW &&
            reinterpret_cast<const NMCUSTOMDRAW*>(lParam)->dwDrawStage == CDDS_PREPAINT) {
            ++g_prePaints;
        }
    }
    return CallWindowProcW(g_originalProc, window, message, wParam, lParam);
}

struct AboutWatch {
    std::wstring caption;
    std::wstring version;
    bool seen = false;
};

BOOL CALLBACK FindVersionText(HWND child, LPARAM context)
{
    AboutWatch* watch = reinterpret_cast<AboutWatch*>(context);
    if (TextOf(child) == L"Version 1.7") {
        watch->version = L"Version 1.7";
    }
    return TRUE;
}

DWORD WINAPI CloseAboutBox(void* context)
{
    AboutWatch* watch = static_cast<AboutWatch*>(context);
    for (int i = 0; i < 200; ++i) {
        HWND about = FindWindowW(nullptr, L"About Network Discovery Tool");
        if (about != nullptr && IsWindowVisible(about)) {
            watch->seen = true;
            watch->caption = TextOf(about);
            EnumChildWindows(about, FindVersionText, reinterpret_cast<LPARAM>(watch));
            PostMessageW(about, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(25);
    }
    return 1;
}

TEST_F(MainWindowTest, AboutOpensModallyAndClosesWithOk)
{
    Open();
    AboutWatch watch;
    HANDLE closer = CreateThread(nullptr, 0, CloseAboutBox, &watch, 0, nullptr);
    ASSERT_NE(nullptr, closer);
    EXPECT_EQ(0, SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0));
    WaitForSingleObject(closer, 10000);
    CloseHandle(closer);
    EXPECT_TRUE(watch.seen);
    EXPECT_EQ(L"Version 1.7", watch.version);
    EXPECT_TRUE(IsWindowEnabled(window));
}

TEST_F(MainWindowTest, AddressChangeTellsTheUserThenClearsAndRefillsFromTheNewTable)
{
    Open();
    AddRow(L"192.168.77.20");
    fake.addresses = {{"172.20.0.5", "255.255.0.0", 9}};
    ASSERT_EQ(1, RebuildInterfaceTable());
    HoldWorkers();
    SendMessageW(window, WM_APP_IPCHANGE, 0, 0);
    ASSERT_EQ(1u, fake.boxes.size());
    EXPECT_EQ(L"A change in the IPv4 configuration has been detected.\r\nThe device list will be cleared.",
              fake.boxes[0].text);
    EXPECT_EQ(L"IP Configuration Change", fake.boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), fake.boxes[0].type);
    EXPECT_EQ(nullptr, fake.boxes[0].owner);
    EXPECT_EQ(0, Rows());
    ASSERT_EQ(2, SendMessageW(combo, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(L"172.20.0.0", ComboText(1));
    EXPECT_FALSE(IsWindowEnabled(combo));
}

struct SlowRebuild {
    HANDLE tornDown;
    FakePlatform* fake;
};

// Holds the table lock across a teardown, a pause and a build, as the
// address watcher does.
unsigned __stdcall RebuildSlowly(void* parameter)
{
    SlowRebuild* rebuild = static_cast<SlowRebuild*>(parameter);
    LockInterfaceTable();
    TeardownInterfaceTable();
    SetEvent(rebuild->tornDown);
    Sleep(300);
    rebuild->fake->addresses = {{"172.20.0.5", "255.255.0.0", 9}, {"172.21.0.5", "255.255.0.0", 10}};
    BuildInterfaceTable();
    UnlockInterfaceTable();
    return 0;
}

TEST_F(MainWindowTest, SubnetChoiceWaitsForARebuildInProgressAndDropsAVanishedSubnet)
{
    g_subnetFilter = Ipv4("10.77.0.0");
    Open();
    SlowRebuild rebuild = {CreateEventW(nullptr, TRUE, FALSE, nullptr), &fake};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RebuildSlowly, &rebuild, 0, nullptr));
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(rebuild.tornDown, 5000));
    FillSubnetCombo(window);  // must not read the half-rebuilt table
    ASSERT_EQ(3, SendMessageW(combo, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(L"172.21.0.0", ComboText(2));
    EXPECT_EQ(kAllInterfaces, g_subnetFilter);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(rebuild.tornDown);
}

TEST_F(MainWindowTest, MovingToAMonitorOfHigherDpiScalesFontAndPlaces)
{
    Open();
    auto fontHeight = [](HWND control) {
        LOGFONTW font = {};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
        return font.lfHeight;
    };
    auto placeOf = [this](HWND control) {
        RECT rect = {};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    HWND refresh = GetDlgItem(window, IDC_REFRESH);
    LONG height96 = fontHeight(list);
    RECT refresh96 = placeOf(refresh);
    RECT frame96 = {};
    GetWindowRect(window, &frame96);

    RECT suggested = {0, 0, (frame96.right - frame96.left) * 3 / 2, (frame96.bottom - frame96.top) * 3 / 2};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));

    RECT frame144 = {};
    GetWindowRect(window, &frame144);
    EXPECT_NEAR(suggested.right, frame144.right - frame144.left, 1);  // the minimum size rounds up
    EXPECT_NEAR(height96 * 1.5, fontHeight(list), 1.0);
    EXPECT_EQ(fontHeight(list), fontHeight(refresh));
    RECT refresh144 = placeOf(refresh);
    EXPECT_NEAR((refresh96.right - refresh96.left) * 1.5, refresh144.right - refresh144.left, 2.0);
    RECT client = {};
    GetClientRect(window, &client);
    EXPECT_LE(refresh144.bottom, client.bottom);
}

TEST_F(MainWindowTest, DestructionSignalsStopFreesRowsAndQuits)
{
    Open();
    AddRow(L"192.168.77.20");
    DrainMessages();
    DestroyWindow(window);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(g_stopEvent, 0));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, message.wParam);
}

TEST_F(MainWindowTest, ABurstOfAnswersIsMergedWholeAndLeavesTheListDrawing)
{
    Open();
    ShowWindow(window, SW_SHOW);
    for (int i = 0; i < 40; ++i) {
        DeviceRecord* record = AllocateDeviceRecord();
        _snwprintf(record->ipText, kIpTextChars, L"192.168.77.%d", 20 + i);
        _snwprintf(record->macText, kMacTextChars, L"02-00-00-00-00-%02X", i);
        CopyText(record->description, kDescriptionChars, L"Orvel IO-8");
        CopyText(record->portText, kPortTextChars, L"80");
        ASSERT_TRUE(PostMessageW(window, WM_APP_DEVICE, sizeof(DeviceRecord), reinterpret_cast<LPARAM>(record)));
    }
    DrainMessages();
    EXPECT_EQ(40, Rows());

    // Drawing was held off during the burst and must be on again afterwards:
    // a repaint of the list reaches the window's custom-draw handler.
    g_prePaints = 0;
    WNDPROC original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountPrePaints)));
    g_originalProc = original;
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    EXPECT_GT(g_prePaints, 0);
}

TEST_F(MainWindowTest, UnknownCommandsGoToTheDefaultProcedure)
{
    Open();
    AddRow(L"192.168.77.20");
    EXPECT_EQ(0, SendMessageW(window, WM_COMMAND, MAKEWPARAM(4242, 0), 0));
    EXPECT_EQ(1, Rows());
    EXPECT_TRUE(IsWindow(window));
}

}  // namespace
