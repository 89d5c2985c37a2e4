// The device list's order (numeric addresses, a chosen column, the place of
// new rows) and getting rows out as text, on a real list view control.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "rows/columns.h"
#include "ui/list_commands.h"
#include "ui/list_order.h"
#include "core/resource.h"
#include "rows/saved_list.h"
#include "ui/row_export.h"

namespace {

class ListViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 600, 300, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, list);
        for (int i = 0; i < kDeviceColumnCount; ++i) {
            LVCOLUMNW column = {};
            column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            column.pszText = const_cast<wchar_t*>(DeviceColumnHeader(i));
            column.cx = 80;
            column.iSubItem = i;
            SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        }
    }
    void TearDown() override { DestroyWindow(list); }

    // Inserts a row where the list's order puts it.
    void Add(const wchar_t* ip, const wchar_t* name, const wchar_t* mac = L"00-11-22-33-44-55",
             const wchar_t* description = L"Orvel X200")
    {
        const wchar_t* cells[5] = {ip, name, mac, description, L"Y"};
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = SortedInsertIndex(list, cells);
        item.pszText = const_cast<wchar_t*>(ip);
        item.lParam = ++added;  // unique, as the stored records are
        int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        ASSERT_GE(row, 0);
        for (int column = 1; column < 5; ++column) {
            LVITEMW cell = {};
            cell.iSubItem = column;
            cell.pszText = const_cast<wchar_t*>(cells[column]);
            SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
        }
    }

    std::vector<std::wstring> Column(int column) const
    {
        std::vector<std::wstring> texts;
        int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            wchar_t text[256] = {};
            LVITEMW item = {};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = 256;
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
            texts.push_back(text);
        }
        return texts;
    }

    std::wstring Format(bool selectedOnly, bool header, ExportFormat format)
    {
        TextBuffer text;
        InitTextBuffer(&text);
        FormatRows(&text, list, selectedOnly, header, format);
        std::wstring result = text.text != nullptr ? text.text : L"";
        EXPECT_FALSE(text.failed);
        FreeTextBuffer(&text);
        return result;
    }

    HWND list = nullptr;
    LPARAM added = 0;
};

// Counts the cell texts the list hands out.
WNDPROC g_listProc = nullptr;
int g_cellReads = 0;

LRESULT CALLBACK CountCellReads(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_cellReads += message == LVM_GETITEMTEXTW ? 1 : 0;
    return CallWindowProcW(g_listProc, window, message, wParam, lParam);
}

TEST(AddressOrder, DottedQuadsCompareByValueAndOtherTextsComeLast)
{
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        int sign;
    } cases[] = {
        {L"10.0.0.9", L"10.0.0.10", -1},       {L"10.0.0.10", L"10.0.0.9", 1},
        {L"192.168.1.20", L"192.168.1.20", 0}, {L"9.255.255.255", L"10.0.0.0", -1},
        {L"255.255.255.255", L"1.0.0.0", 1},   {L"10.0.0.256", L"10.0.0.1", 1},
        {L"abc", L"10.0.0.1", 1},              {L"", L"0.0.0.0", 1},
    };
    for (const Case& c : cases) {
        int result = CompareAddressTexts(c.a, c.b);
        EXPECT_EQ(c.sign, (result > 0) - (result < 0)) << c.a << L" vs " << c.b;
    }
}

TEST_F(ListViewTest, NewRowsTakeTheirNumericPlaceAndRowsOfOneAddressStayTogether)
{
    Add(L"10.0.0.10", L"b");
    Add(L"10.0.0.9", L"c");
    Add(L"192.168.1.2", L"a");
    Add(L"10.0.0.9", L"d", L"AA-AA-AA-AA-AA-AA");  // a conflict row
    Add(L"10.0.0.100", L"e");
    EXPECT_EQ((std::vector<std::wstring>{L"10.0.0.9", L"10.0.0.9", L"10.0.0.10", L"10.0.0.100", L"192.168.1.2"}),
              Column(0));
}

TEST_F(ListViewTest, HeaderClicksOrderByThatColumnThenReverseAndNewRowsFollow)
{
    Add(L"10.0.0.1", L"bravo");
    Add(L"10.0.0.2", L"alpha");
    Add(L"10.0.0.3", L"charlie");
    ListOrder byName = OrderAfterHeaderClick(GetListOrder(list), 1);
    SetListOrder(list, byName);
    EXPECT_EQ((std::vector<std::wstring>{L"alpha", L"bravo", L"charlie"}), Column(1));
    SetListOrder(list, OrderAfterHeaderClick(GetListOrder(list), 1));
    EXPECT_EQ((std::vector<std::wstring>{L"charlie", L"bravo", L"alpha"}), Column(1));
    Add(L"10.0.0.4", L"beta");
    EXPECT_EQ((std::vector<std::wstring>{L"charlie", L"bravo", L"beta", L"alpha"}), Column(1));

    // Back to the address column: by number again.
    SetListOrder(list, OrderAfterHeaderClick(GetListOrder(list), 0));
    EXPECT_EQ((std::vector<std::wstring>{L"10.0.0.1", L"10.0.0.2", L"10.0.0.3", L"10.0.0.4"}), Column(0));
    EXPECT_EQ(OrderedPlaceOf(list, 2), 2);
}

TEST_F(ListViewTest, RowsAsTabSeparatedTextKeepTheirColumnsWhateverTheDeviceSaid)
{
    Add(L"10.0.0.1", L"name\twith tab", L"00-11-22-33-44-55", L"line\r\nbreak");
    Add(L"10.0.0.2", L"second");
    LVITEMW state = {};
    state.state = LVIS_SELECTED;
    state.stateMask = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));

    EXPECT_EQ(L"10.0.0.2\tsecond\t00-11-22-33-44-55\tOrvel X200\tY\t\r\n", Format(true, false, kTabSeparated));
    EXPECT_EQ(L"IP Address\tName\tMAC Address\tDescription\tARP\tStatus\r\n"
              L"10.0.0.1\tname with tab\t00-11-22-33-44-55\tline  break\tY\t\r\n"
              L"10.0.0.2\tsecond\t00-11-22-33-44-55\tOrvel X200\tY\t\r\n",
              Format(false, true, kTabSeparated));
}

TEST_F(ListViewTest, CsvQuotesEveryFieldAndDefusesFormulas)
{
    Add(L"10.0.0.1", L"say \"hi\", then", L"00-11-22-33-44-55", L"=HYPERLINK(\"x\")");
    EXPECT_EQ(L"\"IP Address\",\"Name\",\"MAC Address\",\"Description\",\"ARP\",\"Status\"\r\n"
              L"\"10.0.0.1\",\"say \"\"hi\"\", then\",\"00-11-22-33-44-55\",\"'=HYPERLINK(\"\"x\"\")\",\"Y\",\"\"\r\n",
              Format(false, true, kCommaSeparated));
}

TEST_F(ListViewTest, CsvDefusesEveryLeadingCharacterThatWouldRunTheField)
{
    const struct {
        const wchar_t* description;
        const wchar_t* field;
    } cases[] = {
        {L"=1+2", L"\"'=1+2\""},         {L"+1", L"\"'+1\""},
        {L"-1", L"\"'-1\""},             {L"@SUM(A1)", L"\"'@SUM(A1)\""},
        {L"\t=1+2", L"\"'\t=1+2\""},     {L"\r=1+2", L"\"'\r=1+2\""},
        {L"Orvel -1", L"\"Orvel -1\""},
    };
    for (const auto& c : cases) {
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        Add(L"10.0.0.1", L"n", L"00-11-22-33-44-55", c.description);
        EXPECT_EQ(std::wstring(L"\"10.0.0.1\",\"n\",\"00-11-22-33-44-55\",") + c.field + L",\"Y\",\"\"\r\n",
                  Format(false, false, kCommaSeparated))
            << testing::PrintToString(std::wstring(c.description));
    }
}

TEST_F(ListViewTest, ARenamedRowMovesToItsPlaceWithItsDataReadingFewCells)
{
    constexpr int kRows = 256;
    for (int i = 0; i < kRows; ++i) {
        wchar_t ip[32], name[32];
        _snwprintf(ip, 32, L"10.0.%d.%d", i / 256, i % 256);
        _snwprintf(name, 32, L"m%03d", i);
        Add(ip, name);
    }
    const struct {
        bool descending;
        const wchar_t* from;
        const wchar_t* to;
    } cases[] = {
        {false, L"m150", L"a"},      {false, L"a", L"z"},     {false, L"m010", L"m200x"},
        {false, L"m201", L"m201"},   {true, L"m100", L"m0"},  {true, L"m0", L"n"},
    };
    g_listProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountCellReads)));
    for (const auto& c : cases) {
        ListOrder byName = {kColumnName, c.descending};
        SetListOrder(list, byName);
        std::vector<std::wstring> names = Column(kColumnName);
        int row = static_cast<int>(std::find(names.begin(), names.end(), c.from) - names.begin());
        ASSERT_LT(row, kRows) << c.from;
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        LPARAM param = item.lParam;
        item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        item.iSubItem = kColumnName;
        item.pszText = const_cast<wchar_t*>(c.to);
        SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));

        g_cellReads = 0;
        int moved = MoveRowIntoOrder(list, row);
        // Sorting again would read two cells of every row.
        EXPECT_LE(g_cellReads, 40) << c.to;
        names = Column(kColumnName);
        auto before = [&](const std::wstring& a, const std::wstring& b) {
            int result = lstrcmpiW(a.c_str(), b.c_str());
            return c.descending ? result > 0 : result < 0;
        };
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), before)) << c.to;
        ASSERT_GE(moved, 0) << c.to;
        EXPECT_EQ(c.to, names[moved]);
        item.mask = LVIF_PARAM | LVIF_STATE;
        item.iItem = moved;
        item.iSubItem = 0;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(param, item.lParam) << c.to;
        EXPECT_EQ(static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED), item.state) << c.to;
        item.state = 0;
        SendMessageW(list, LVM_SETITEMSTATE, moved, reinterpret_cast<LPARAM>(&item));
    }
    SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_listProc));
}

wchar_t g_savePath[MAX_PATH];

BOOL WINAPI ChooseSavePath(LPOPENFILENAMEW dialog)
{
    lstrcpynW(dialog->lpstrFile, g_savePath, static_cast<int>(dialog->nMaxFile));
    return TRUE;
}

TEST_F(ListViewTest, SaveListWritesEveryRowAsCsvToTheChosenFile)
{
    // The command finds the list by its id in the window it is given.
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    SetParent(list, window);
    SetWindowLongPtrW(list, GWLP_ID, IDC_DEVICE_LIST);
    Add(L"10.0.0.1", L"one");
    wchar_t directory[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"ndt", 0, g_savePath);
    PlatformServices saved = g_platform;
    g_platform.getSaveFileName = ChooseSavePath;
    EXPECT_TRUE(RunListCommand(window, IDM_SAVE_LIST));
    g_platform = saved;

    HANDLE file = CreateFileW(g_savePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    char bytes[256] = {};
    DWORD read = 0;
    ReadFile(file, bytes, sizeof(bytes) - 1, &read, nullptr);
    CloseHandle(file);
    DeleteFileW(g_savePath);
    EXPECT_STREQ("\xEF\xBB\xBF\"IP Address\",\"Name\",\"MAC Address\",\"Description\",\"ARP\",\"Status\"\r\n"
                 "\"10.0.0.1\",\"one\",\"00-11-22-33-44-55\",\"Orvel X200\",\"Y\",\"\"\r\n",
                 bytes);
    SetParent(list, nullptr);
    DestroyWindow(window);
}

TEST(RowExport, FileIsUtf8WithByteOrderMarkAndClipboardHoldsTheText)
{
    wchar_t directory[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"ndt", 0, path);
    const wchar_t text[] = L"Ger\u00E4t \u2026\r\n";
    ASSERT_EQ(static_cast<DWORD>(NO_ERROR), WriteUtf8File(path, text, lstrlenW(text)));
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    unsigned char bytes[64] = {};
    DWORD read = 0;
    ReadFile(file, bytes, sizeof(bytes), &read, nullptr);
    CloseHandle(file);
    DeleteFileW(path);
    const unsigned char expected[] = {0xEF, 0xBB, 0xBF, 'G', 'e', 'r', 0xC3, 0xA4, 't', ' ', 0xE2, 0x80, 0xA6, '\r', '\n'};
    ASSERT_EQ(sizeof(expected), read);
    EXPECT_EQ(0, memcmp(expected, bytes, read));

    ASSERT_TRUE(CopyToClipboard(nullptr, text));
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(std::wstring(text), static_cast<const wchar_t*>(GlobalLock(data)));
    GlobalUnlock(data);
    CloseClipboard();
}

}  // namespace
