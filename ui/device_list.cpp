// Upkeep of the main window's device list: merges each device answer into the
// rows (vendor filter, address conflicts, row bounds), removes rows that
// stopped answering or all of them, colours rows by state and opens a
// device's web page.
//
// Every row's item data is the DeviceRecord of the answer that created it;
// the list owns that record. Rows are deleted here only, and a record is
// freed only when the control really deleted its row. Runs on the window
// thread only.
#include "ui/device_list.h"

#include <commctrl.h>
#include <wchar.h>

#include "core/app_messages.h"
#include "core/device_record.h"
#include "core/globals.h"
#include "core/platform.h"
#include "ui/device_list_internal.h"
#include "ui/list_order.h"
#include "ui/resource.h"
#include "ui/web_address.h"

namespace {

// Broadcast answers of other makers share the port; only these are listed.
const wchar_t kVendorPrefix[] = L"Orvel ";
constexpr size_t kVendorPrefixChars = (sizeof(kVendorPrefix) / sizeof(wchar_t)) - 1;

constexpr int kMacBufferChars = 128;
constexpr int kAddressBufferChars = 128;

enum DeviceColumn : int {
    kColumnIp = 0,
    kColumnName = 1,
    kColumnMac = 2,
    kColumnDescription = 3,
    kColumnArp = 4,
    kColumnPort = 5,
};

HWND DeviceListOf(HWND window)
{
    return window != nullptr ? GetDlgItem(window, IDC_DEVICE_LIST) : nullptr;
}

int RowCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

// Drawing the list after every inserted or deleted row costs milliseconds a
// row, so bulk changes hold drawing and redraw once at the end. Holds nest:
// a clear or an expiry can come while a burst of answers holds drawing, and
// the list draws again only when the outermost hold ends. There is one
// device list and only the window thread touches it, so the state is kept
// here once; holding another list starts afresh.
struct DrawingHold {
    HWND list;
    int depth;
    bool burst;     // one of the holds belongs to a burst of answers
    DWORD drawnAt;  // when the list last drew during the burst
};
DrawingHold g_drawingHold = {};

void HoldDrawing(HWND list)
{
    if (g_drawingHold.list != list) {
        g_drawingHold = {};
        g_drawingHold.list = list;
    }
    if (g_drawingHold.depth++ == 0) {
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    }
}

void ReleaseDrawing(HWND list)
{
    if (g_drawingHold.list != list || g_drawingHold.depth == 0) {
        return;
    }
    if (--g_drawingHold.depth == 0) {
        g_drawingHold.burst = false;
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
    }
}

bool BurstHolds(HWND list)
{
    return g_drawingHold.list == list && g_drawingHold.burst;
}

// Paints the list in the middle of a burst. A paint normally waits until no
// message is queued, which a burst that never stops never allows, so this
// one paints at once and then holds drawing again.
void DrawDuringBurst(HWND list)
{
    if (g_drawingHold.depth != 1) {
        return;  // another hold is in charge and redraws when it ends
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
}

// Producers terminate every field; the window does not rely on it.
void TerminateTextFields(DeviceRecord* record)
{
    record->ipText[kIpTextChars - 1] = L'\0';
    record->name[kNameChars - 1] = L'\0';
    record->macText[kMacTextChars - 1] = L'\0';
    record->description[kDescriptionChars - 1] = L'\0';
    record->portText[kPortTextChars - 1] = L'\0';
}

bool HasVendorPrefix(const DeviceRecord* record)
{
    return wcsncmp(record->description, kVendorPrefix, kVendorPrefixChars) == 0;
}

DeviceRecord* StoredRecord(HWND list, int row)
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
        return nullptr;
    }
    return reinterpret_cast<DeviceRecord*>(item.lParam);
}

void SetCellText(HWND list, int row, int column, const wchar_t* text)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// "Y": ARP agrees with the reported MAC; "*": ARP knows another MAC.
const wchar_t* ArpText(const DeviceRecord* record)
{
    if (record->arpConfirmed != 0) {
        return L"Y";
    }
    if (record->arpMismatch != 0) {
        return L"*";
    }
    return L" ";
}

// Columns 1..5 always show the latest answer; column 0 is the row's key.
void WriteAnswerColumns(HWND list, int row, const DeviceRecord* answer)
{
    SetCellText(list, row, kColumnName, answer->name);
    SetCellText(list, row, kColumnMac, answer->macText);
    SetCellText(list, row, kColumnDescription, answer->description);
    SetCellText(list, row, kColumnArp, ArpText(answer));
    SetCellText(list, row, kColumnPort, answer->portText);
}

// Deletes a row, freeing its record only when the control really deleted the
// row: a row it keeps still owns its record.
bool DeleteRow(HWND list, int row)
{
    DeviceRecord* stored = StoredRecord(list, row);
    if (!SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0)) {
        return false;
    }
    FreeDeviceRecord(stored);
    return true;
}

// Refreshes row from a later answer, which is then freed. The stored record
// keeps the creator's texts; only its lastSeen and state follow the answer.
void UpdateRow(HWND list, int row, DeviceRecord* answer, bool conflict)
{
    DeviceRecord* stored = StoredRecord(list, row);
    if (stored != nullptr) {
        stored->lastSeen = answer->lastSeen;
        stored->state = conflict ? DeviceStateConflict : answer->state;

        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        item.lParam = reinterpret_cast<LPARAM>(stored);
        SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    WriteAnswerColumns(list, row, answer);
    FreeDeviceRecord(answer);
    // Ordered by a column the answer may have changed: keep the order.
    if (GetListOrder(list).column != kColumnIp && RowOutOfOrder(list, row)) {
        SortDeviceList(list);
    }
}

// Whether the list may take another row for the answer's address, whose
// first row is addressRow (-1: none yet). The bounds are far above any real
// network; they stop answers that invent ever new MAC texts or addresses.
bool RoomForRow(HWND list, int addressRow, const wchar_t* ipText)
{
    if (RowCount(list) >= kMaxDeviceRows) {
        return false;
    }
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = ipText;
    int rows = 0;
    int row = addressRow;
    while (row >= 0 && rows < kMaxRowsPerAddress) {
        ++rows;
        // The next row with the address, searching after row without wrapping.
        row = static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(row),
                                            reinterpret_cast<LPARAM>(&find)));
    }
    return rows < kMaxRowsPerAddress;
}

// Adds a row whose stored record is the answer itself, when there is room.
void InsertRow(HWND list, int addressRow, DeviceRecord* answer, bool conflict)
{
    if (!RoomForRow(list, addressRow, answer->ipText)) {
        FreeDeviceRecord(answer);
        return;
    }
    if (conflict) {
        answer->state = DeviceStateConflict;
    }
    const wchar_t* cells[5] = {answer->ipText, answer->name, answer->macText, answer->description,
                               ArpText(answer)};
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = SortedInsertIndex(list, cells);
    item.pszText = answer->ipText;
    item.lParam = reinterpret_cast<LPARAM>(answer);
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row < 0) {
        // No row holds it, so nobody else would ever free it.
        FreeDeviceRecord(answer);
        return;
    }
    WriteAnswerColumns(list, row, answer);
}

// Whether row's MAC column shows macText; a column that cannot be read
// counts as showing it.
bool RowShowsMac(HWND list, int row, const wchar_t* macText)
{
    wchar_t listed[kMacBufferChars] = L"";
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = kColumnMac;
    item.pszText = listed;
    item.cchTextMax = kMacBufferChars;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
        return true;
    }
    // The control may answer with a pointer to its own copy of the text
    // instead of filling the buffer; the bounded copy reads at most that much.
    if (item.pszText != listed) {
        CopyText(listed, kMacBufferChars, item.pszText);
    }
    listed[kMacBufferChars - 1] = L'\0';
    return lstrcmpW(listed, macText) == 0;
}

// The first row whose stored record carries macText, or -1.
int FindRowByMac(HWND list, const wchar_t* macText)
{
    int count = RowCount(list);
    for (int row = 0; row < count; ++row) {
        const DeviceRecord* stored = StoredRecord(list, row);
        if (stored != nullptr && lstrcmpW(stored->macText, macText) == 0) {
            return row;
        }
    }
    return -1;
}

}  // namespace

LRESULT MergeDeviceRecord(HWND window, WPARAM, LPARAM lParam)
{
    DeviceRecord* answer = reinterpret_cast<DeviceRecord*>(lParam);
    if (answer == nullptr) {
        return 0;
    }
    HWND list = DeviceListOf(window);
    if (list == nullptr) {
        FreeDeviceRecord(answer);
        return 0;
    }
    TerminateTextFields(answer);

    // Multicast DNS answers were already checked for the vendor.
    if (answer->fromMdns == 0 && !HasVendorPrefix(answer)) {
        FreeDeviceRecord(answer);
        return 0;
    }

    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;
    find.psz = answer->ipText;
    int row = static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(&find)));
    if (row < 0) {
        InsertRow(list, -1, answer, false);
        return 0;
    }
    if (RowShowsMac(list, row, answer->macText)) {
        UpdateRow(list, row, answer, false);
        return 0;
    }

    // A second MAC claims this address: mark the device that sent the answer
    // red, in its own row if it has one (possibly under another address).
    int macRow = FindRowByMac(list, answer->macText);
    if (macRow >= 0) {
        UpdateRow(list, macRow, answer, true);
    } else {
        InsertRow(list, row, answer, true);
    }
    return 0;
}

LRESULT MergeBurstRecordAt(HWND window, WPARAM wParam, LPARAM lParam, bool morePending, DWORD now)
{
    HWND list = DeviceListOf(window);
    if (list != nullptr && morePending && !BurstHolds(list)) {
        HoldDrawing(list);
        g_drawingHold.burst = true;
        g_drawingHold.drawnAt = now;
    }
    LRESULT result = MergeDeviceRecord(window, wParam, lParam);
    if (list != nullptr && BurstHolds(list)) {
        if (!morePending) {
            ReleaseDrawing(list);
        } else if (now - g_drawingHold.drawnAt >= kBurstRedrawMs) {
            DrawDuringBurst(list);
            g_drawingHold.drawnAt = now;
        }
    }
    return result;
}

LRESULT MergeQueuedDeviceRecord(HWND window, WPARAM wParam, LPARAM lParam)
{
    MSG next;
    bool morePending = PeekMessageW(&next, window, WM_APP_DEVICE, WM_APP_DEVICE, PM_NOREMOVE) != FALSE;
    return MergeBurstRecordAt(window, wParam, lParam, morePending, GetTickCount());
}

void ClearDeviceList(HWND window)
{
    HWND list = DeviceListOf(window);
    if (list == nullptr) {
        return;
    }
    int count = RowCount(list);
    if (count <= 0) {
        return;
    }
    HoldDrawing(list);
    // From the last row back, so a row the control refuses to delete moves
    // no other row, and every other row still goes.
    for (int row = count - 1; row >= 0; --row) {
        DeleteRow(list, row);
    }
    ReleaseDrawing(list);
}

void ExpireStaleRowsAt(HWND list, DWORD now)
{
    bool held = false;
    int count = RowCount(list);
    int row = 0;
    while (row < count) {
        const DeviceRecord* stored = StoredRecord(list, row);
        // The difference stays right across the tick counter's wrap.
        bool stale = stored != nullptr && static_cast<DWORD>(now - stored->lastSeen) > kDeviceExpiryMs;
        // Held only once a row goes: a tick that removes nothing should not
        // repaint the whole list.
        if (stale && !held) {
            HoldDrawing(list);
            held = true;
        }
        if (stale && DeleteRow(list, row)) {
            --count;  // the next row moved into this index
        } else {
            ++row;
        }
    }
    if (held) {
        ReleaseDrawing(list);
    }
}

void MarkAllRowsSeen(HWND window, DWORD now)
{
    HWND list = DeviceListOf(window);
    int count = list != nullptr ? RowCount(list) : 0;
    for (int row = 0; row < count; ++row) {
        DeviceRecord* stored = StoredRecord(list, row);
        if (stored != nullptr) {
            stored->lastSeen = now;
        }
    }
}

LRESULT ExpireStaleRows(HWND, WPARAM, LPARAM)
{
    if (g_autoRefresh == 0) {
        return 0;
    }
    DWORD now = GetTickCount();
    HWND list = DeviceListOf(g_mainWindow);
    if (list != nullptr) {
        ExpireStaleRowsAt(list, now);
    }
    return 0;
}

LRESULT ColourDeviceRow(HWND, WPARAM, LPARAM lParam)
{
    NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
    if (draw == nullptr) {
        return CDRF_DODEFAULT;
    }
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        const DeviceRecord* stored = reinterpret_cast<const DeviceRecord*>(draw->nmcd.lItemlParam);
        if (stored != nullptr) {
            switch (stored->state) {
            case DeviceStateNormal:
                draw->clrText = GetSysColor(COLOR_WINDOWTEXT);
                break;
            case DeviceStateLinkLocal:
                draw->clrText = RGB(0, 192, 0);
                break;
            case DeviceStateOtherSubnet:
                draw->clrText = RGB(128, 128, 128);
                break;
            case DeviceStateConflict:
                draw->clrText = RGB(255, 0, 0);
                break;
            default:
                break;  // unknown state: the control's own colour
            }
        }
        return CDRF_NEWFONT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

LRESULT OpenDevicePage(HWND window, WPARAM, LPARAM lParam)
{
    const NMITEMACTIVATE* activate = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
    HWND list = DeviceListOf(window);
    if (activate == nullptr || list == nullptr) {
        return 0;
    }
    int row = activate->iItem;
    if (row == -1) {
        // A click outside the item's label: find the row under the point.
        LVHITTESTINFO hit = {};
        hit.pt = activate->ptAction;
        SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        row = hit.iItem;
        if (row == -1) {
            return 0;
        }
    }
    const DeviceRecord* stored = StoredRecord(list, row);
    if (stored == nullptr) {
        return 0;
    }
    wchar_t address[kAddressBufferChars];
    if (!ComposeDevicePageAddress(stored->ipText, stored->portText, address, kAddressBufferChars)) {
        return 0;
    }
    g_platform.shellExecute(window, nullptr, address, nullptr, nullptr, SW_SHOWNORMAL);
    return 0;
}
