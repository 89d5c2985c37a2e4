// The device list upkeep against a real list view control, set up like the
// main window's: merging answers, conflicts, row bounds, expiry, clearing,
// drawing during bulk changes, row colours and states in words, and the
// double-click that opens a device's page (captured at the shell seam).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "broadcast/heap_bytes.h"
#include "core/device_record.h"
#include "core/globals.h"
#include "core/platform.h"
#include "rows/columns.h"
#include "ui/device_list.h"
#include "ui/device_list_internal.h"
#include "ui/list_table.h"
#include "core/resource.h"
#include "ui/row_export.h"

namespace {

const wchar_t kParentClass[] = L"DeviceListTestParent";

// What reached the shell seam.
struct ShellCall {
    HWND owner;
    bool hasVerb;
    std::wstring file;
    bool hasParameters;
    bool hasDirectory;
    int show;
};
std::vector<ShellCall> g_shellCalls;

HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                    LPCWSTR directory, INT show)
{
    g_shellCalls.push_back({owner, verb != nullptr, file != nullptr ? file : L"<null>",
                            parameters != nullptr, directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

// Custom-draw notifications the control sent while painting, after
// ColourDeviceRow handled them.
struct DrawSeen {
    DWORD stage;
    LPARAM itemData;
    COLORREF textColour;
    LRESULT result;
};
std::vector<DrawSeen> g_drawsSeen;

// Routes the list's notifications the way the main window does.
LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_DEVICE_LIST && header->code == NM_CUSTOMDRAW) {
            LRESULT result = ColourDeviceRow(window, wParam, lParam);
            const NMLVCUSTOMDRAW* draw = reinterpret_cast<const NMLVCUSTOMDRAW*>(lParam);
            g_drawsSeen.push_back({draw->nmcd.dwDrawStage, draw->nmcd.lItemlParam, draw->clrText, result});
            return result;
        }
        if (header->idFrom == IDC_DEVICE_LIST && header->code == NM_DBLCLK) {
            return OpenDevicePage(window, wParam, lParam);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A list view that refuses every insertion, as a control out of memory would.
WNDPROC g_listProc = nullptr;
LRESULT CALLBACK RefuseInsertProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == LVM_INSERTITEMW) {
        return -1;
    }
    return CallWindowProcW(g_listProc, window, message, wParam, lParam);
}

// What the list saw of drawing and deleting; it refuses to delete the row
// with index refuseRow, as a control may.
struct ListWatch {
    bool drawing = true;
    int drawingResumed = 0;
    int deletesWhileDrawing = 0;
    WPARAM refuseRow = static_cast<WPARAM>(-1);
};
ListWatch g_watch;

LRESULT CALLBACK WatchListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETREDRAW) {
        g_watch.drawing = wParam != FALSE;
        g_watch.drawingResumed += g_watch.drawing ? 1 : 0;
    }
    if (message == LVM_DELETEITEM) {
        if (wParam == g_watch.refuseRow) {
            return FALSE;
        }
        g_watch.deletesWhileDrawing += g_watch.drawing ? 1 : 0;
    }
    return CallWindowProcW(g_listProc, window, message, wParam, lParam);
}

// A list view that answers a text read with a pointer to a copy of its own
// and leaves the caller's buffer alone, as the control may.
LRESULT CALLBACK OwnTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LVITEMW* item = reinterpret_cast<LVITEMW*>(lParam);
    if (message == LVM_GETITEMW && (item->mask & LVIF_TEXT) != 0) {
        static wchar_t own[300];
        item->pszText = own;
        item->cchTextMax = 300;
    }
    return CallWindowProcW(g_listProc, window, message, wParam, lParam);
}

// Device records still allocated: blocks of the record's size in the process
// heap, where GlobalAlloc takes fixed memory from.
int LiveRecordBlocks()
{
    HANDLE heap = GetProcessHeap();
    int count = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
        if (HeapEntryInUse(entry) && entry.cbData == sizeof(DeviceRecord)) {
            ++count;
        }
    }
    HeapUnlock(heap);
    return count;
}

// One device answer; the defaults describe a broadcast answer of our maker.
struct Answer {
    const wchar_t* ip = L"192.168.77.20";
    const wchar_t* mac = L"00-11-22-AA-BB-01";
    const wchar_t* name = L"speaker";
    const wchar_t* description = L"Orvel Speaker 2";
    const wchar_t* port = L"80";
    DeviceState state = DeviceStateNormal;
    DWORD lastSeen = 1000;
    int fromMdns = 0;
    int arpConfirmed = 0;
    int arpMismatch = 0;
};

DeviceRecord* MakeRecord(const Answer& answer)
{
    DeviceRecord* record = AllocateDeviceRecord();
    if (record == nullptr) {
        return nullptr;
    }
    CopyText(record->ipText, kIpTextChars, answer.ip);
    CopyText(record->macText, kMacTextChars, answer.mac);
    CopyText(record->name, kNameChars, answer.name);
    CopyText(record->description, kDescriptionChars, answer.description);
    CopyText(record->portText, kPortTextChars, answer.port);
    record->state = answer.state;
    record->lastSeen = answer.lastSeen;
    record->fromMdns = answer.fromMdns;
    record->arpConfirmed = answer.arpConfirmed;
    record->arpMismatch = answer.arpMismatch;
    return record;
}

class DeviceListTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitCommonControls();
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kParentClass;
        RegisterClassExW(&windowClass);
    }

    void SetUp() override
    {
        savedMainWindow_ = g_mainWindow;
        savedAutoRefresh_ = g_autoRefresh;
        savedPlatform_ = g_platform;
        g_platform.shellExecute = RecordShellExecute;
        g_shellCalls.clear();
        g_drawsSeen.clear();
        g_watch = ListWatch();

        HINSTANCE instance = GetModuleHandleW(nullptr);
        parent_ = CreateWindowExW(0, kParentClass, L"Device list test", WS_OVERLAPPEDWINDOW, 0, 0, 820, 420,
                                  nullptr, nullptr, instance, nullptr);
        ASSERT_NE(nullptr, parent_);
        list_ = CreateWindowExW(0, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                                    LVS_SORTASCENDING | LVS_NOSORTHEADER | LVS_ALIGNLEFT,
                                10, 10, 780, 340, parent_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_DEVICE_LIST)), instance, nullptr);
        ASSERT_NE(nullptr, list_);

        CreateDeviceColumns(list_);
        SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);

        g_mainWindow = parent_;
        g_autoRefresh = 1;
        blocksBefore_ = LiveRecordBlocks();
    }

    void TearDown() override
    {
        if (list_ != nullptr) {
            if (g_listProc != nullptr) {
                SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_listProc));
                g_listProc = nullptr;
            }
            // The list's device table owns the rows' records.
            ReleaseListTable(list_);
        }
        if (parent_ != nullptr) {
            DestroyWindow(parent_);
        }
        g_mainWindow = savedMainWindow_;
        g_autoRefresh = savedAutoRefresh_;
        g_platform = savedPlatform_;
    }

    // Hands a record to the list as the window does on WM_APP_DEVICE.
    DeviceRecord* Merge(const Answer& answer)
    {
        DeviceRecord* record = MakeRecord(answer);
        EXPECT_NE(nullptr, record);
        EXPECT_EQ(0, MergeDeviceRecord(parent_, sizeof(DeviceRecord), reinterpret_cast<LPARAM>(record)));
        return record;
    }

    void Subclass(WNDPROC proc)
    {
        g_listProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
        ASSERT_NE(nullptr, g_listProc);
    }

    // Adds count rows through the list's device table, each with a MAC of its
    // own: all under the address ip, or under addresses of their own when ip
    // is null.
    void Fill(int count, const wchar_t* ip, DWORD lastSeen)
    {
        DeviceTable* table = TableOfList(list_);
        ASSERT_NE(nullptr, table);
        for (int i = 0; i < count; ++i) {
            wchar_t address[32];
            wchar_t mac[32];
            _snwprintf(address, 32, L"10.%d.%d.%d", i / 65536, i / 256 % 256, i % 256);
            _snwprintf(mac, 32, L"02-00-00-00-%02X-%02X", i / 256, i % 256);
            Answer answer;
            answer.ip = ip != nullptr ? ip : address;
            answer.mac = mac;
            answer.lastSeen = lastSeen;
            DeviceRecord* record = MakeRecord(answer);
            ASSERT_NE(nullptr, record);
            table->Merge(record);
        }
        ASSERT_EQ(count, RowCount());
    }

    // Custom-draw passes over the whole list since the last look.
    int PaintsSeen()
    {
        int paints = 0;
        for (const DrawSeen& seen : g_drawsSeen) {
            paints += seen.stage == CDDS_PREPAINT ? 1 : 0;
        }
        g_drawsSeen.clear();
        return paints;
    }

    int RowCount() const
    {
        return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
    }

    std::wstring Cell(int row, int column) const
    {
        wchar_t text[300] = L"";
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 300;
        SendMessageW(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return text;
    }

    DeviceRecord* Stored(int row) const
    {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        if (!SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
            return nullptr;
        }
        return reinterpret_cast<DeviceRecord*>(item.lParam);
    }

    // The row whose item data is record, or -1.
    int RowOf(const DeviceRecord* record) const
    {
        LVFINDINFOW find = {};
        find.flags = LVFI_PARAM;
        find.lParam = reinterpret_cast<LPARAM>(record);
        return static_cast<int>(SendMessageW(list_, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(&find)));
    }

    // One row (-1: the header line) as a copy or the saved list has it.
    std::wstring Exported(int row, ExportFormat format) const
    {
        TextBuffer text;
        InitTextBuffer(&text);
        AppendRow(&text, list_, row, format);
        std::wstring result = text.text != nullptr && !text.failed ? text.text : L"<failed>";
        FreeTextBuffer(&text);
        return result;
    }

    // Record blocks allocated since the test's set-up.
    int NewLiveRecords() const
    {
        return LiveRecordBlocks() - blocksBefore_;
    }

    // A double-click notification as the control sends it.
    LRESULT DoubleClick(int item, POINT point)
    {
        NMITEMACTIVATE activate = {};
        activate.hdr.hwndFrom = list_;
        activate.hdr.idFrom = IDC_DEVICE_LIST;
        activate.hdr.code = NM_DBLCLK;
        activate.iItem = item;
        activate.iSubItem = 0;
        activate.ptAction = point;
        return OpenDevicePage(parent_, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&activate));
    }

    POINT CentreOfCell(int row, int column) const
    {
        RECT cell = {};
        cell.top = column;
        cell.left = LVIR_BOUNDS;
        SendMessageW(list_, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
        return {(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    }

    HWND parent_ = nullptr;
    HWND list_ = nullptr;
    int blocksBefore_ = 0;

private:
    HWND savedMainWindow_ = nullptr;
    int32_t savedAutoRefresh_ = 0;
    PlatformServices savedPlatform_ = {};
};

using DeviceListMerge = DeviceListTest;
using DeviceListBounds = DeviceListTest;
using DeviceListExpiry = DeviceListTest;
using DeviceListBulk = DeviceListTest;
using DeviceListColour = DeviceListTest;
using DeviceListPage = DeviceListTest;

// The leak checks below rely on the heap walk seeing records at all.
TEST_F(DeviceListMerge, HeapWalkCountsDeviceRecords)
{
    DeviceRecord* record = AllocateDeviceRecord();
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(1, NewLiveRecords());
    FreeDeviceRecord(record);
    EXPECT_EQ(0, NewLiveRecords());
}

TEST_F(DeviceListMerge, DropsBroadcastAnswersWithoutVendorPrefix)
{
    const wchar_t* descriptions[] = {
        L"Orvel", L"orvel Speaker", L"ORVEL Speaker", L" Orvel Speaker", L"Orvel\tSpeaker",
        L"OrvelSpeaker", L"Acme Orvel Speaker", L"",
    };
    for (const wchar_t* description : descriptions) {
        Answer answer;
        answer.description = description;
        Merge(answer);
        EXPECT_EQ(0, RowCount()) << testing::PrintToString(std::wstring(description));
    }
    EXPECT_EQ(0, NewLiveRecords());
}

TEST_F(DeviceListMerge, FirstAnswerBecomesTheRowsStoredRecord)
{
    Answer answer;
    answer.description = L"Orvel ";
    answer.port = L"8080";
    answer.state = DeviceStateOtherSubnet;
    DeviceRecord* record = Merge(answer);

    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(record, Stored(0));
    EXPECT_EQ(L"192.168.77.20", Cell(0, 0));
    EXPECT_EQ(L"speaker", Cell(0, 1));
    EXPECT_EQ(L"00-11-22-AA-BB-01", Cell(0, 2));
    EXPECT_EQ(L"Orvel ", Cell(0, 3));
    EXPECT_EQ(L" ", Cell(0, 4));
    EXPECT_EQ(L"8080", Cell(0, 5));
    EXPECT_EQ(DeviceStateOtherSubnet, record->state);
    EXPECT_EQ(1, NewLiveRecords());
}

TEST_F(DeviceListMerge, ListsMulticastDnsAnswersWhateverTheirDescription)
{
    const wchar_t* descriptions[] = {L"", L"orvel Speaker", L"Orvel", L"Acme Amplifier"};
    const wchar_t* addresses[] = {L"10.0.0.1", L"10.0.0.2", L"10.0.0.3", L"10.0.0.4"};
    for (int i = 0; i < 4; ++i) {
        Answer answer;
        answer.fromMdns = 1;
        answer.ip = addresses[i];
        answer.description = descriptions[i];
        answer.mac = addresses[i];
        Merge(answer);
    }
    ASSERT_EQ(4, RowCount());
    // Sorted by address text; each row shows its own description.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(addresses[i], Cell(i, 0));
        EXPECT_EQ(descriptions[i], Cell(i, 3));
    }
}

TEST_F(DeviceListMerge, LaterAnswerOfSameDeviceChangesOnlyColumnsTimeAndState)
{
    Answer first;
    first.port = L"8080";
    first.lastSeen = 1000;
    DeviceRecord* stored = Merge(first);

    Answer second;
    second.name = L"kitchen";
    second.description = L"Orvel Speaker 3";
    second.port = L"9090";
    second.arpConfirmed = 1;
    second.state = DeviceStateLinkLocal;  // a reach of its own, the first's no longer current
    second.lastSeen = 1000 + kDeviceExpiryMs + 1;
    Merge(second);

    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(stored, Stored(0));
    EXPECT_EQ(L"192.168.77.20", Cell(0, 0));
    EXPECT_EQ(L"kitchen", Cell(0, 1));
    EXPECT_EQ(L"00-11-22-AA-BB-01", Cell(0, 2));
    EXPECT_EQ(L"Orvel Speaker 3", Cell(0, 3));
    EXPECT_EQ(L"Y", Cell(0, 4));
    EXPECT_EQ(L"9090", Cell(0, 5));
    // The stored record keeps the creator's texts.
    EXPECT_EQ(std::wstring(L"speaker"), stored->name);
    EXPECT_EQ(std::wstring(L"Orvel Speaker 2"), stored->description);
    EXPECT_EQ(std::wstring(L"8080"), stored->portText);
    EXPECT_EQ(0, stored->arpConfirmed);
    EXPECT_EQ(1000 + kDeviceExpiryMs + 1, stored->lastSeen);
    EXPECT_EQ(DeviceStateLinkLocal, stored->state);
    // The second answer was freed, the first is the row's.
    EXPECT_EQ(1, NewLiveRecords());
}

TEST_F(DeviceListMerge, SecondMacForListedAddressAddsRedRowAndTurnsTheFirstRed)
{
    Answer first;
    first.state = DeviceStateLinkLocal;
    DeviceRecord* firstRecord = Merge(first);

    Answer intruder;
    intruder.mac = L"00-11-22-AA-BB-02";
    intruder.name = L"intruder";
    DeviceRecord* intruderRecord = Merge(intruder);

    ASSERT_EQ(2, RowCount());
    int firstRow = RowOf(firstRecord);
    int intruderRow = RowOf(intruderRecord);
    ASSERT_NE(-1, firstRow);
    ASSERT_NE(-1, intruderRow);
    EXPECT_EQ(L"192.168.77.20", Cell(intruderRow, 0));
    EXPECT_EQ(L"intruder", Cell(intruderRow, 1));
    EXPECT_EQ(L"00-11-22-AA-BB-02", Cell(intruderRow, 2));
    EXPECT_EQ(DeviceStateConflict, intruderRecord->state);
    EXPECT_EQ(DeviceStateConflict, firstRecord->state);
    EXPECT_EQ(L"speaker", Cell(firstRow, 1));
    EXPECT_EQ(2, NewLiveRecords());
}

TEST_F(DeviceListMerge, MacListedElsewhereGetsARedRowUnderTheAddressItAnswersFrom)
{
    Answer a;
    a.ip = L"10.0.0.5";
    a.mac = L"00-11-22-AA-BB-0A";
    DeviceRecord* recordA = Merge(a);
    Answer b;
    b.ip = L"10.0.0.6";
    b.mac = L"00-11-22-AA-BB-0B";
    b.lastSeen = 1200;
    DeviceRecord* recordB = Merge(b);

    // Device B now answers from A's address too.
    Answer moved;
    moved.ip = L"10.0.0.5";
    moved.mac = L"00-11-22-AA-BB-0B";
    moved.name = L"moved";
    moved.port = L"8081";
    moved.lastSeen = 5000;
    DeviceRecord* recordMoved = Merge(moved);

    ASSERT_EQ(3, RowCount());
    EXPECT_EQ(L"speaker", Cell(RowOf(recordA), 1));
    EXPECT_EQ(DeviceStateConflict, recordA->state);
    EXPECT_EQ(1000u, recordA->lastSeen);
    int rowMoved = RowOf(recordMoved);
    EXPECT_EQ(L"10.0.0.5", Cell(rowMoved, 0));
    EXPECT_EQ(L"moved", Cell(rowMoved, 1));
    EXPECT_EQ(L"8081", Cell(rowMoved, 5));
    EXPECT_EQ(DeviceStateConflict, recordMoved->state);

    // B's row under its other address says what that address answered.
    int rowB = RowOf(recordB);
    EXPECT_EQ(L"10.0.0.6", Cell(rowB, 0));
    EXPECT_EQ(L"speaker", Cell(rowB, 1));
    EXPECT_EQ(DeviceStateNormal, recordB->state);
    EXPECT_EQ(1200u, recordB->lastSeen);
    EXPECT_EQ(3, NewLiveRecords());
}

// Sequences of answers from devices that answer both ways or move, and the
// rows they leave, each as "address|name|MAC|description|status".
TEST_F(DeviceListMerge, AnswerSequencesLeaveOneTruthfulRowPerDevice)
{
    const wchar_t* kA = L"02-ac-00-00-00-0a";
    const wchar_t* kB = L"02-AC-00-00-00-0B";
    struct Step {
        const wchar_t* ip;
        const wchar_t* mac;
        bool mdns;
        DWORD at;
        DeviceState state = DeviceStateNormal;  // the reach the hearing interface gave
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::wstring> rows;  // in any order
    } cases[] = {
        {"one MAC however spelt, shown in one spelling",
         {{L"10.0.0.5", kA, false, 1000}, {L"10.0.0.5", L"02-AC-00-00-00-0A", true, 1100},
          {L"10.0.0.5", L"02:AC:00:00:00:0A", false, 1200}},
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|"}},
        {"texts that are no six pairs compared exactly",
         {{L"10.0.0.5", L"ac", false, 1000}, {L"10.0.0.5", L"AC", false, 1100}},
         {L"10.0.0.5|bcast|ac|Orvel bcast|Conflict", L"10.0.0.5|bcast|AC|Orvel bcast|Conflict"}},
        {"multicast DNS texts wait while a broadcast answer is current",
         {{L"10.0.0.5", kA, true, 1000}, {L"10.0.0.5", kA, false, 1100}, {L"10.0.0.5", kA, true, 4100}},
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|"}},
        {"multicast DNS texts once the broadcast answer is old",
         {{L"10.0.0.5", kA, false, 1000}, {L"10.0.0.5", kA, true, 4001}},
         {L"10.0.0.5|mdns|02-AC-00-00-00-0A|Orvel mdns|"}},
        {"a MAC listed elsewhere answers from a listed address: both rows there are red",
         {{L"10.0.0.5", kA, false, 1000}, {L"10.0.0.6", kB, false, 1000}, {L"10.0.0.5", kB, false, 1100},
          {L"10.0.0.5", kA, false, 1200}},
         {L"10.0.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|Conflict",
          L"10.0.0.5|bcast|02-AC-00-00-00-0B|Orvel bcast|Conflict", L"10.0.0.6|bcast|02-AC-00-00-00-0B|Orvel bcast|"}},
        {"heard on two interfaces by turns: the better reach stays",
         {{L"169.254.0.5", kA, false, 1000, DeviceStateLinkLocal},
          {L"169.254.0.5", kA, true, 1100, DeviceStateOtherSubnet},
          {L"169.254.0.5", kA, false, 1200, DeviceStateOtherSubnet}},
         {L"169.254.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|Link-local"}},
        {"a reach no longer heard gives way",
         {{L"169.254.0.5", kA, false, 1000, DeviceStateLinkLocal},
          {L"169.254.0.5", kA, false, 4101, DeviceStateOtherSubnet}},
         {L"169.254.0.5|bcast|02-AC-00-00-00-0A|Orvel bcast|Other subnet"}},
    };
    for (const auto& c : cases) {
        for (const Step& step : c.steps) {
            Answer answer;
            answer.ip = step.ip;
            answer.mac = step.mac;
            answer.fromMdns = step.mdns ? 1 : 0;
            answer.name = step.mdns ? L"mdns" : L"bcast";
            answer.description = step.mdns ? L"Orvel mdns" : L"Orvel bcast";
            answer.lastSeen = step.at;
            answer.state = step.state;
            Merge(answer);
        }
        std::vector<std::wstring> rows;
        for (int row = 0; row < RowCount(); ++row) {
            rows.push_back(Cell(row, kColumnIp) + L"|" + Cell(row, kColumnName) + L"|" + Cell(row, kColumnMac) +
                           L"|" + Cell(row, kColumnDescription) + L"|" + Cell(row, kColumnStatus));
        }
        std::vector<std::wstring> expected = c.rows;
        std::sort(rows.begin(), rows.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, rows) << c.what;
        ClearDeviceList(parent_);
    }
}

TEST_F(DeviceListMerge, BothSidesStayRedUntilOneIsLeftWhichTakesItsOwnStateBack)
{
    DWORD now = GetTickCount();
    Answer first;
    first.state = DeviceStateLinkLocal;
    first.lastSeen = now - 10000;
    DeviceRecord* firstRecord = Merge(first);
    Answer second;
    second.mac = L"00-11-22-AA-BB-02";
    second.state = DeviceStateOtherSubnet;
    second.lastSeen = now - 10000;
    DeviceRecord* secondRecord = Merge(second);

    // Both devices answer again, each answer finding its own row: with
    // auto-refresh off the old rows stay, with it on the answers are fresh.
    for (int32_t autoRefresh : {0, 1}) {
        g_autoRefresh = autoRefresh;
        first.lastSeen = second.lastSeen = autoRefresh != 0 ? now : now - 10000;
        Merge(first);
        Merge(second);
        ExpireStaleRows(parent_, 0, 0);
        ASSERT_EQ(2, RowCount()) << "auto-refresh " << autoRefresh;
        for (const DeviceRecord* record : {firstRecord, secondRecord}) {
            EXPECT_EQ(DeviceStateConflict, record->state) << "auto-refresh " << autoRefresh;
            EXPECT_EQ(L"Conflict", Cell(RowOf(record), kColumnStatus)) << "auto-refresh " << autoRefresh;
        }
    }

    // The first device stops answering. Once its row has expired, the
    // second's row shows the state its own latest answer gave it, before it
    // answers again.
    second.lastSeen = now + 2000;
    Merge(second);
    ExpireStaleRowsAt(list_, now + 3500);
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(secondRecord, Stored(0));
    EXPECT_EQ(DeviceStateOtherSubnet, secondRecord->state);
    EXPECT_EQ(L"Other subnet", Cell(0, kColumnStatus));

    second.state = DeviceStateNormal;
    Merge(second);
    EXPECT_EQ(DeviceStateNormal, secondRecord->state);
    EXPECT_EQ(L"", Cell(0, kColumnStatus));
}

TEST_F(DeviceListMerge, StatusColumnNamesTheStateInCopiesAndTheSavedList)
{
    const struct {
        const wchar_t* ip;
        DeviceState state;
        bool rival;  // a second MAC claims the address
        const wchar_t* status;
    } cases[] = {
        {L"10.0.0.1", DeviceStateNormal, false, L""},
        {L"10.0.0.2", DeviceStateLinkLocal, false, L"Link-local"},
        {L"10.0.0.3", DeviceStateOtherSubnet, false, L"Other subnet"},
        {L"10.0.0.4", DeviceStateOtherSubnet, true, L"Conflict"},
    };
    for (const auto& c : cases) {
        Answer answer;
        answer.ip = c.ip;
        answer.mac = c.ip;
        answer.state = c.state;
        DeviceRecord* records[2] = {Merge(answer), nullptr};
        if (c.rival) {
            answer.mac = L"rival";
            records[1] = Merge(answer);
        }
        for (const DeviceRecord* record : records) {
            if (record == nullptr) {
                continue;
            }
            int row = RowOf(record);
            ASSERT_NE(-1, row) << c.ip;
            EXPECT_EQ(c.status, Cell(row, kColumnStatus)) << c.ip;
            const std::wstring mac = Cell(row, kColumnMac);
            const std::wstring tab =
                std::wstring(c.ip) + L"\tspeaker\t" + mac + L"\tOrvel Speaker 2\t \t" + c.status + L"\r\n";
            const std::wstring csv = L"\"" + std::wstring(c.ip) + L"\",\"speaker\",\"" + mac +
                                     L"\",\"Orvel Speaker 2\",\" \",\"" + c.status + L"\"\r\n";
            EXPECT_EQ(tab, Exported(row, kTabSeparated)) << c.ip;
            EXPECT_EQ(csv, Exported(row, kCommaSeparated)) << c.ip;
        }
    }
    EXPECT_EQ(L"IP Address\tName\tMAC Address\tDescription\tARP\tStatus\r\n", Exported(-1, kTabSeparated));
}

TEST_F(DeviceListMerge, ArpColumnShowsConfirmedMismatchOrNothing)
{
    const struct {
        int confirmed;
        int mismatch;
        const wchar_t* text;
    } cases[] = {
        {1, 1, L"Y"},
        {1, 0, L"Y"},
        {0, 1, L"*"},
        {0, 0, L" "},
    };
    for (const auto& c : cases) {
        Answer answer;
        answer.arpConfirmed = c.confirmed;
        answer.arpMismatch = c.mismatch;
        Merge(answer);
        ASSERT_EQ(1, RowCount());
        EXPECT_EQ(c.text, Cell(0, 4)) << "confirmed " << c.confirmed << ", mismatch " << c.mismatch;
    }
}

TEST_F(DeviceListMerge, RecordTheControlRefusesIsFreed)
{
    Answer listed;
    DeviceRecord* listedRecord = Merge(listed);
    ASSERT_EQ(1, RowCount());

    // Stand-in for a control that cannot take another row.
    Subclass(RefuseInsertProc);

    Answer newAddress;
    newAddress.ip = L"192.168.77.21";
    newAddress.mac = L"00-11-22-AA-BB-02";
    Merge(newAddress);
    Answer conflicting;
    conflicting.mac = L"00-11-22-AA-BB-03";
    Merge(conflicting);

    // The rival the control could not list still marks the listed row.
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(listedRecord, Stored(0));
    EXPECT_EQ(DeviceStateConflict, listedRecord->state);
    EXPECT_EQ(L"Conflict", Cell(0, kColumnStatus));
    EXPECT_EQ(1, NewLiveRecords());
}

TEST_F(DeviceListMerge, MacIsComparedWhereTheControlPointsTheText)
{
    Answer answer;
    DeviceRecord* stored = Merge(answer);
    Subclass(OwnTextProc);
    Merge(answer);
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(DeviceStateNormal, stored->state);
    EXPECT_EQ(1, NewLiveRecords());
}

TEST_F(DeviceListMerge, UnterminatedTextFieldsStayWithinTheirCapacity)
{
    DeviceRecord* record = MakeRecord(Answer());
    ASSERT_NE(nullptr, record);
    for (int i = 0; i < kNameChars; ++i) {
        record->name[i] = L'N';
    }
    for (int i = 0; i < kPortTextChars; ++i) {
        record->portText[i] = L'9';
    }
    MergeDeviceRecord(parent_, sizeof(DeviceRecord), reinterpret_cast<LPARAM>(record));

    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(std::wstring(kNameChars - 1, L'N'), Cell(0, 1));
    EXPECT_EQ(std::wstring(kPortTextChars - 1, L'9'), Cell(0, 5));
    // Such a port is no port: the page opens on the default one.
    DoubleClick(0, {0, 0});
    ASSERT_EQ(1u, g_shellCalls.size());
    EXPECT_EQ(L"http://192.168.77.20:80/", g_shellCalls[0].file);
}

TEST_F(DeviceListBounds, NewRowsBeyondTheBoundsAreDroppedUpdatesGoThrough)
{
    // Filled one short of a bound, then in turn: a new row, one more (dropped)
    // and an update of a listed device (its MAC from Fill).
    const wchar_t* shared = L"192.168.77.20";
    const struct {
        int rows;
        const wchar_t* fillIp;  // null: an address per row
        const wchar_t* ips[3];
    } cases[] = {
        {kMaxRowsPerAddress - 1, shared, {shared, shared, shared}},
        {kMaxDeviceRows - 1, nullptr, {L"192.168.77.20", L"192.168.77.21", L"10.0.0.7"}},
    };
    const wchar_t* macs[3] = {L"00-11-22-AA-BB-98", L"00-11-22-AA-BB-99", L"02-00-00-00-00-07"};
    const bool merged[3] = {true, false, true};
    for (const auto& c : cases) {
        Fill(c.rows, c.fillIp, 1000);
        for (int i = 0; i < 3; ++i) {
            Answer answer;
            answer.ip = c.ips[i];
            answer.mac = macs[i];
            answer.name = macs[i];
            Merge(answer);
            ASSERT_EQ(c.rows + 1, RowCount()) << "filled " << c.rows << ", answer " << i;
            int showing = 0;
            for (int row = 0; row < RowCount(); ++row) {
                showing += Cell(row, 1) == macs[i] ? 1 : 0;
            }
            EXPECT_EQ(merged[i] ? 1 : 0, showing) << "filled " << c.rows << ", answer " << i;
            EXPECT_EQ(c.rows + 1, NewLiveRecords()) << "filled " << c.rows << ", answer " << i;
        }
        ClearDeviceList(parent_);
    }
}

TEST_F(DeviceListExpiry, AutoRefreshOffKeepsEveryRow)
{
    g_autoRefresh = 0;
    Answer answer;
    answer.lastSeen = GetTickCount() - 600000;
    Merge(answer);
    ExpireStaleRows(parent_, 0, 0);
    EXPECT_EQ(1, RowCount());
}

TEST_F(DeviceListExpiry, AutoRefreshOnRemovesRowsOfTheMainWindowList)
{
    DWORD now = GetTickCount();
    Answer old;
    old.ip = L"10.0.0.1";
    old.lastSeen = now - 10000;
    Merge(old);
    Answer fresh;
    fresh.ip = L"10.0.0.2";
    fresh.lastSeen = now;
    DeviceRecord* freshRecord = Merge(fresh);

    // The list is found through g_mainWindow, not through the argument.
    ExpireStaleRows(nullptr, 0, 0);
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(freshRecord, Stored(0));
    EXPECT_EQ(1, NewLiveRecords());
}

// Switching auto-refresh on: rows that were current until then count as
// seen at that moment and expire only 3 s after it, as any other row.
TEST_F(DeviceListExpiry, RowsMarkedSeenWhenAutoRefreshIsSwitchedOnGetTheirFullTime)
{
    Answer old;
    old.lastSeen = 1000;
    DeviceRecord* record = Merge(old);
    MarkAllRowsSeen(parent_, 60000);
    EXPECT_EQ(60000u, record->lastSeen);
    ExpireStaleRowsAt(list_, 60000 + kDeviceExpiryMs);
    EXPECT_EQ(1, RowCount());
    ExpireStaleRowsAt(list_, 60000 + kDeviceExpiryMs + 1);
    EXPECT_EQ(0, RowCount());
}

TEST_F(DeviceListExpiry, WithoutMainWindowNothingHappens)
{
    Answer old;
    old.lastSeen = GetTickCount() - 10000;
    Merge(old);
    g_mainWindow = nullptr;
    ExpireStaleRows(parent_, 0, 0);
    EXPECT_EQ(1, RowCount());
}

TEST_F(DeviceListExpiry, ExactlyTheExpiryAgeStaysOneMillisecondMoreGoes)
{
    Answer atLimit;
    atLimit.ip = L"10.0.0.1";
    atLimit.lastSeen = 7000;
    DeviceRecord* kept = Merge(atLimit);
    Answer beyond;
    beyond.ip = L"10.0.0.2";
    beyond.lastSeen = 6999;
    Merge(beyond);

    ExpireStaleRowsAt(list_, 10000);
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(kept, Stored(0));
    EXPECT_EQ(1, NewLiveRecords());
}

TEST_F(DeviceListExpiry, DeletingDuringTheScanSkipsNoRow)
{
    // Sorted order: .1 .2 .3 .4 .5; the stale ones sit next to each other.
    const struct {
        const wchar_t* ip;
        DWORD lastSeen;
    } rows[] = {
        {L"10.0.0.1", 100}, {L"10.0.0.2", 200}, {L"10.0.0.3", 9000}, {L"10.0.0.4", 300}, {L"10.0.0.5", 400},
    };
    for (const auto& row : rows) {
        Answer answer;
        answer.ip = row.ip;
        answer.mac = row.ip;
        answer.lastSeen = row.lastSeen;
        Merge(answer);
    }
    ASSERT_EQ(5, RowCount());
    ExpireStaleRowsAt(list_, 10000);
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(L"10.0.0.3", Cell(0, 0));
    EXPECT_EQ(1, NewLiveRecords());
}

TEST_F(DeviceListExpiry, AgeIsJudgedTrulyAcrossTheCounterWrap)
{
    const struct {
        DWORD lastSeen;
        DWORD now;
        bool kept;
    } cases[] = {
        // Seen just before the wrap, tick also before it.
        {0xFFFFFF00u, 0xFFFFFF80u, true},
        {0xFFFFF000u, 0xFFFFFBB8u, true},
        {0xFFFFF000u, 0xFFFFFBB9u, false},
        // Seen before the wrap, tick after it.
        {0xFFFFFF00u, 0x00000100u, true},
        {0xFFFFFF00u, 0x00000AB8u, true},
        {0xFFFFFF00u, 0x00000AB9u, false},
        // Long gone before the wrap, still listed after it.
        {0xFFFF0000u, 0x00000010u, false},
        // Seen after the wrap.
        {0x00000010u, 0x00000BC8u, true},
        {0x00000010u, 0x00000BC9u, false},
    };
    for (const auto& c : cases) {
        Answer answer;
        answer.lastSeen = c.lastSeen;
        DeviceRecord* record = Merge(answer);
        ExpireStaleRowsAt(list_, c.now);
        EXPECT_EQ(c.kept ? 1 : 0, RowCount()) << std::hex << "lastSeen 0x" << c.lastSeen << ", now 0x" << c.now;
        if (RowCount() == 1) {
            EXPECT_EQ(record, Stored(0));
            ClearDeviceList(parent_);
        }
    }
    EXPECT_EQ(0, NewLiveRecords());
}

TEST_F(DeviceListBulk, RemovingManyRowsHoldsDrawingAndResumesItOnce)
{
    Subclass(WatchListProc);
    for (bool expire : {false, true}) {
        Fill(300, nullptr, 100);
        Answer fresh;
        fresh.lastSeen = 9000;
        Merge(fresh);
        g_watch = ListWatch();
        if (expire) {
            ExpireStaleRowsAt(list_, 10000);
        } else {
            ClearDeviceList(parent_);
        }
        EXPECT_EQ(expire ? 1 : 0, RowCount()) << "expire " << expire;
        EXPECT_EQ(RowCount(), NewLiveRecords()) << "expire " << expire;
        EXPECT_EQ(0, g_watch.deletesWhileDrawing) << "expire " << expire;
        EXPECT_TRUE(g_watch.drawing) << "expire " << expire;
        EXPECT_EQ(1, g_watch.drawingResumed) << "expire " << expire;
        ClearDeviceList(parent_);
    }
}

TEST_F(DeviceListBulk, ClearingKeepsTheRowAndRecordTheControlWouldNotDelete)
{
    Fill(5, nullptr, 1000);
    // The first row: clearing once took row 0 again and again.
    DeviceRecord* kept = Stored(0);
    Subclass(WatchListProc);
    g_watch.refuseRow = 0;
    ClearDeviceList(parent_);
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(kept, Stored(0));
    EXPECT_EQ(1, NewLiveRecords());
}

TEST_F(DeviceListBulk, ANeverEndingBurstStillDrawsAndAnInnerHoldLeavesDrawingOff)
{
    ShowWindow(parent_, SW_SHOWNORMAL);
    UpdateWindow(parent_);
    Subclass(WatchListProc);
    PaintsSeen();
    int next = 1;
    auto mergeAt = [&](DWORD now, bool morePending) {
        wchar_t ip[32];
        _snwprintf(ip, 32, L"10.1.0.%d", next++);
        Answer answer;
        answer.ip = ip;
        answer.mac = ip;
        MergeBurstRecordAt(parent_, 0, reinterpret_cast<LPARAM>(MakeRecord(answer)), morePending, now);
    };

    mergeAt(1000, true);
    mergeAt(1000 + kBurstRedrawMs - 1, true);
    EXPECT_FALSE(g_watch.drawing);
    EXPECT_EQ(0, PaintsSeen());
    mergeAt(1000 + kBurstRedrawMs, true);
    EXPECT_GT(PaintsSeen(), 0);
    EXPECT_FALSE(g_watch.drawing);

    // A clear during the burst leaves drawing to the burst, whose end resumes it.
    ClearDeviceList(parent_);
    EXPECT_FALSE(g_watch.drawing);
    mergeAt(1300, false);
    EXPECT_TRUE(g_watch.drawing);
    EXPECT_EQ(1, RowCount());
    EXPECT_EQ(1, NewLiveRecords());
}

// A device that answers again and again changes nothing: a burst of such
// repeats must not stop the list drawing and repaint it whole at its end.
TEST_F(DeviceListBulk, RepeatsThatChangeNothingNeitherHoldNorRedraw)
{
    Answer answer;
    Merge(answer);
    Subclass(WatchListProc);
    for (bool morePending : {true, true, false}) {
        answer.lastSeen += 500;
        MergeBurstRecordAt(parent_, 0, reinterpret_cast<LPARAM>(MakeRecord(answer)), morePending, answer.lastSeen);
    }
    EXPECT_TRUE(g_watch.drawing);
    EXPECT_EQ(0, g_watch.drawingResumed);
    EXPECT_EQ(1, RowCount());
    EXPECT_EQ(1, NewLiveRecords());
}

NMLVCUSTOMDRAW DrawNotification(DWORD stage, const DeviceRecord* record)
{
    NMLVCUSTOMDRAW draw = {};
    draw.nmcd.hdr.idFrom = IDC_DEVICE_LIST;
    draw.nmcd.hdr.code = NM_CUSTOMDRAW;
    draw.nmcd.dwDrawStage = stage;
    draw.nmcd.lItemlParam = reinterpret_cast<LPARAM>(record);
    draw.clrText = RGB(1, 2, 3);
    draw.clrTextBk = RGB(4, 5, 6);
    return draw;
}

TEST_F(DeviceListColour, ResultDependsOnDrawStage)
{
    DeviceRecord* record = MakeRecord(Answer());
    ASSERT_NE(nullptr, record);
    const struct {
        DWORD stage;
        LRESULT result;
    } cases[] = {
        {CDDS_PREPAINT, CDRF_NOTIFYITEMDRAW},
        {CDDS_ITEMPREPAINT, CDRF_NEWFONT},
        {CDDS_POSTPAINT, CDRF_DODEFAULT},
        {CDDS_PREERASE, CDRF_DODEFAULT},
        {CDDS_ITEMPOSTPAINT, CDRF_DODEFAULT},
        {CDDS_ITEMPREPAINT | CDDS_SUBITEM, CDRF_DODEFAULT},
    };
    EXPECT_EQ(0x20, CDRF_NOTIFYITEMDRAW);
    EXPECT_EQ(2, CDRF_NEWFONT);
    for (const auto& c : cases) {
        NMLVCUSTOMDRAW draw = DrawNotification(c.stage, record);
        EXPECT_EQ(c.result, ColourDeviceRow(parent_, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&draw)))
            << std::hex << "stage 0x" << c.stage;
        if (c.stage != CDDS_ITEMPREPAINT) {
            EXPECT_EQ(RGB(1, 2, 3), draw.clrText) << std::hex << "stage 0x" << c.stage;
        }
        EXPECT_EQ(RGB(4, 5, 6), draw.clrTextBk);
    }
    FreeDeviceRecord(record);
}

TEST_F(DeviceListColour, ItemTextColourFollowsStoredStateOutsideHighContrast)
{
    const struct {
        int32_t state;
        bool highContrast;
        COLORREF colour;
    } cases[] = {
        {DeviceStateNormal, false, GetSysColor(COLOR_WINDOWTEXT)},
        {DeviceStateLinkLocal, false, RGB(0, 192, 0)},
        {DeviceStateOtherSubnet, false, RGB(128, 128, 128)},
        {DeviceStateConflict, false, RGB(255, 0, 0)},
        {4, false, RGB(1, 2, 3)},
        {-1, false, RGB(1, 2, 3)},
        {0x7FFFFFFF, false, RGB(1, 2, 3)},
        // The system's colours: the control's own, left as they are.
        {DeviceStateLinkLocal, true, RGB(1, 2, 3)},
        {DeviceStateConflict, true, RGB(1, 2, 3)},
    };
    DeviceRecord* record = MakeRecord(Answer());
    ASSERT_NE(nullptr, record);
    for (const auto& c : cases) {
        record->state = c.state;
        NMLVCUSTOMDRAW draw = DrawNotification(CDDS_ITEMPREPAINT, record);
        EXPECT_EQ(c.highContrast ? CDRF_DODEFAULT : CDRF_NEWFONT, ColourRowForScheme(&draw, c.highContrast));
        EXPECT_EQ(c.colour, draw.clrText) << "state " << c.state << ", high contrast " << c.highContrast;
        EXPECT_EQ(RGB(4, 5, 6), draw.clrTextBk) << "state " << c.state;
    }
    // Nor are the rows' notifications asked for.
    NMLVCUSTOMDRAW draw = DrawNotification(CDDS_PREPAINT, record);
    EXPECT_EQ(CDRF_DODEFAULT, ColourRowForScheme(&draw, true));
    FreeDeviceRecord(record);
}

TEST_F(DeviceListColour, PaintingTheControlColoursEachRowByItsRecord)
{
    Answer normal;
    normal.ip = L"10.0.0.1";
    DeviceRecord* normalRecord = Merge(normal);
    Answer grey;
    grey.ip = L"10.0.0.2";
    grey.mac = L"00-11-22-AA-BB-02";
    grey.state = DeviceStateOtherSubnet;
    DeviceRecord* greyRecord = Merge(grey);
    Answer rival;
    rival.ip = L"10.0.0.3";
    rival.mac = L"00-11-22-AA-BB-04";
    Merge(rival);
    Answer red;
    red.ip = L"10.0.0.3";
    red.mac = L"00-11-22-AA-BB-03";
    DeviceRecord* redRecord = Merge(red);
    ASSERT_EQ(4, RowCount());

    ShowWindow(parent_, SW_SHOWNORMAL);
    RedrawWindow(list_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);

    bool prePaintSeen = false;
    COLORREF colours[3] = {CLR_INVALID, CLR_INVALID, CLR_INVALID};
    const DeviceRecord* records[3] = {normalRecord, greyRecord, redRecord};
    for (const DrawSeen& seen : g_drawsSeen) {
        if (seen.stage == CDDS_PREPAINT) {
            prePaintSeen = true;
            EXPECT_EQ(CDRF_NOTIFYITEMDRAW, seen.result);
        }
        if (seen.stage == CDDS_ITEMPREPAINT) {
            EXPECT_EQ(CDRF_NEWFONT, seen.result);
            for (int i = 0; i < 3; ++i) {
                if (seen.itemData == reinterpret_cast<LPARAM>(records[i])) {
                    colours[i] = seen.textColour;
                }
            }
        }
    }
    EXPECT_TRUE(prePaintSeen);
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), colours[0]);
    EXPECT_EQ(RGB(128, 128, 128), colours[1]);
    EXPECT_EQ(RGB(255, 0, 0), colours[2]);
}

TEST_F(DeviceListPage, OpensDevicePageThroughTheShell)
{
    Answer answer;
    answer.port = L"8080";
    Merge(answer);
    EXPECT_EQ(0, DoubleClick(0, {0, 0}));

    ASSERT_EQ(1u, g_shellCalls.size());
    const ShellCall& call = g_shellCalls[0];
    EXPECT_EQ(parent_, call.owner);
    EXPECT_FALSE(call.hasVerb);
    EXPECT_EQ(L"http://192.168.77.20:8080/", call.file);
    EXPECT_FALSE(call.hasParameters);
    EXPECT_FALSE(call.hasDirectory);
    EXPECT_EQ(SW_SHOWNORMAL, call.show);
}

TEST_F(DeviceListPage, PortTextThatIsNoPortOpensPort80)
{
    const struct {
        const wchar_t* port;
        const wchar_t* address;
    } cases[] = {
        {L"80", L"http://192.168.77.20:80/"},
        {L"65535", L"http://192.168.77.20:65535/"},
        {L"", L"http://192.168.77.20:80/"},
        {L"80@evil.example", L"http://192.168.77.20:80/"},
        {L"8080/../x", L"http://192.168.77.20:80/"},
        {L"0", L"http://192.168.77.20:80/"},
        {L"65536", L"http://192.168.77.20:80/"},
        {L" 80", L"http://192.168.77.20:80/"},
        {L"+80", L"http://192.168.77.20:80/"},
        {L"99999999999999999999999", L"http://192.168.77.20:80/"},
    };
    for (const auto& c : cases) {
        Answer answer;
        answer.port = c.port;
        Merge(answer);
        ASSERT_EQ(1, RowCount());
        g_shellCalls.clear();
        DoubleClick(0, {0, 0});
        ASSERT_EQ(1u, g_shellCalls.size()) << testing::PrintToString(std::wstring(c.port));
        EXPECT_EQ(c.address, g_shellCalls[0].file) << testing::PrintToString(std::wstring(c.port));
        ClearDeviceList(parent_);
    }
}

TEST_F(DeviceListPage, KeepsOpeningTheCreatorsPortAfterAnUpdate)
{
    Answer first;
    first.port = L"8080";
    Merge(first);
    Answer later;
    later.port = L"9090";
    Merge(later);
    ASSERT_EQ(1, RowCount());
    EXPECT_EQ(L"9090", Cell(0, 5));

    DoubleClick(0, {0, 0});
    ASSERT_EQ(1u, g_shellCalls.size());
    EXPECT_EQ(L"http://192.168.77.20:8080/", g_shellCalls[0].file);
}

TEST_F(DeviceListPage, NoItemIndexFindsTheRowUnderThePointInAnyColumn)
{
    const wchar_t* addresses[] = {L"10.0.0.1", L"10.0.0.2", L"10.0.0.3"};
    for (const wchar_t* ip : addresses) {
        Answer answer;
        answer.ip = ip;
        answer.mac = ip;
        Merge(answer);
    }
    for (int column = 0; column < 5; ++column) {
        g_shellCalls.clear();
        DoubleClick(-1, CentreOfCell(1, column));
        ASSERT_EQ(1u, g_shellCalls.size()) << "column " << column;
        EXPECT_EQ(L"http://10.0.0.2:80/", g_shellCalls[0].file) << "column " << column;
    }
}

TEST_F(DeviceListPage, EmptySpaceBelowTheRowsOpensNothing)
{
    Answer answer;
    Merge(answer);
    RECT row = {};
    row.left = LVIR_BOUNDS;
    SendMessageW(list_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    RECT client = {};
    GetClientRect(list_, &client);
    ASSERT_LT(row.bottom + 40, client.bottom);

    DoubleClick(-1, {row.left + 20, row.bottom + 30});
    EXPECT_TRUE(g_shellCalls.empty());
}

TEST_F(DeviceListPage, RowIndexWithoutRowOpensNothing)
{
    Answer answer;
    Merge(answer);
    DoubleClick(5, {0, 0});
    EXPECT_TRUE(g_shellCalls.empty());
}

TEST_F(DeviceListPage, AddressThatIsNoDottedQuadOpensNothing)
{
    const wchar_t* addresses[] = {L"speaker1.local", L"10.0.0.256", L"10.0.0.1@evil.example", L"fe80::1"};
    for (const wchar_t* ip : addresses) {
        Answer answer;
        answer.fromMdns = 1;
        answer.ip = ip;
        Merge(answer);
        ASSERT_EQ(1, RowCount());
        DoubleClick(0, {0, 0});
        EXPECT_TRUE(g_shellCalls.empty()) << testing::PrintToString(std::wstring(ip));
        ClearDeviceList(parent_);
    }
}

TEST_F(DeviceListPage, DoubleClickOnTheControlOpensThatRow)
{
    const wchar_t* addresses[] = {L"10.0.0.1", L"10.0.0.2"};
    for (const wchar_t* ip : addresses) {
        Answer answer;
        answer.ip = ip;
        answer.mac = ip;
        Merge(answer);
    }
    ShowWindow(parent_, SW_SHOWNORMAL);
    UpdateWindow(parent_);
    POINT point = CentreOfCell(1, 3);
    LPARAM where = MAKELPARAM(point.x, point.y);
    // The control's own notification: its NMITEMACTIVATE reaches OpenDevicePage.
    SendMessageW(list_, WM_LBUTTONDBLCLK, MK_LBUTTON, where);

    ASSERT_EQ(1u, g_shellCalls.size());
    EXPECT_EQ(L"http://10.0.0.2:80/", g_shellCalls[0].file);
}

}  // namespace
