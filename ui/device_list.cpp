// Upkeep of the main window's device list: merges each device answer into the
// rows (vendor filter, address conflicts), removes rows that stopped
// answering, colours rows by state and opens a device's web page.
//
// Every row's item data is the DeviceRecord of the answer that created it;
// the list owns that record and whoever deletes the row frees it. Runs on
// the window thread only.
#include "ui/device_list.h"

#include <commctrl.h>
#include <wchar.h>

#include "core/device_record.h"
#include "core/globals.h"
#include "core/platform.h"
#include "ui/device_list_internal.h"
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
}

// Adds a row whose stored record is the answer itself.
void InsertRow(HWND list, DeviceRecord* answer, bool conflict)
{
    if (conflict) {
        answer->state = DeviceStateConflict;
    }
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = 0;  // the sorted control chooses the real position
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

// The first row whose stored record carries macText, or -1.
int FindRowByMac(HWND list, const wchar_t* macText)
{
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
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
        InsertRow(list, answer, false);
        return 0;
    }

    wchar_t listedMac[kMacBufferChars] = L"";
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = kColumnMac;
    item.pszText = listedMac;
    item.cchTextMax = kMacBufferChars;
    BOOL read = static_cast<BOOL>(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    listedMac[kMacBufferChars - 1] = L'\0';
    // An unreadable MAC counts as the same device.
    if (!read || lstrcmpW(listedMac, answer->macText) == 0) {
        UpdateRow(list, row, answer, false);
        return 0;
    }

    // A second MAC claims this address: mark the device that sent the answer
    // red, in its own row if it has one (possibly under another address).
    int macRow = FindRowByMac(list, answer->macText);
    if (macRow >= 0) {
        UpdateRow(list, macRow, answer, true);
    } else {
        InsertRow(list, answer, true);
    }
    return 0;
}

void ExpireStaleRowsAt(HWND list, DWORD now)
{
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int row = 0;
    while (row < count) {
        DeviceRecord* stored = StoredRecord(list, row);
        // The difference stays right across the tick counter's wrap.
        bool stale = stored != nullptr && static_cast<DWORD>(now - stored->lastSeen) > kDeviceExpiryMs;
        if (stale && SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0)) {
            FreeDeviceRecord(stored);
            --count;  // the next row moved into this index
        } else {
            ++row;
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
