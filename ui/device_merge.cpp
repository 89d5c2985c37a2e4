// Merging each device answer into the device list: the vendor filter, one
// spelling of MAC addresses, address conflicts, which answer's texts a row
// shows, the bounds on rows, the row's place in the list's order, and the
// drawing held during a burst of answers. Window thread only.
#include "ui/device_list.h"

#include <commctrl.h>
#include <wchar.h>

#include "core/app_messages.h"
#include "core/device_record.h"
#include "core/maker.h"
#include "ui/device_columns.h"
#include "ui/device_list_internal.h"
#include "ui/device_rows.h"
#include "ui/drawing_hold.h"
#include "ui/list_cells.h"
#include "ui/list_order.h"
#include "core/mac_text.h"
#include "ui/row_notes.h"
#include "ui/row_state.h"

namespace {

// Broadcast answers of other makers share the port; only these are listed.
constexpr size_t kVendorPrefixChars = (sizeof(kMakerDescriptionPrefix) / sizeof(wchar_t)) - 1;

constexpr int kMacBufferChars = 128;

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
    return wcsncmp(record->description, kMakerDescriptionPrefix, kVendorPrefixChars) == 0;
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

// The texts of every column as the answer shows them.
void AnswerCells(const DeviceRecord* answer, const wchar_t* cells[kDeviceColumnCount])
{
    cells[kColumnIp] = answer->ipText;
    cells[kColumnName] = answer->name;
    cells[kColumnMac] = answer->macText;
    cells[kColumnDescription] = answer->description;
    cells[kColumnArp] = ArpText(answer);
    cells[kColumnPort] = answer->portText;
    cells[kColumnStatus] = L"";  // the row's, not the answer's (row_state.h)
}

// Every column but the address, the row's key, and the status shows the
// latest answer; the name and description only when keepTexts is not set.
void WriteAnswerColumns(HWND list, int row, const DeviceRecord* answer, bool keepTexts)
{
    const wchar_t* cells[kDeviceColumnCount];
    AnswerCells(answer, cells);
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        bool kept = keepTexts && (column == kColumnName || column == kColumnDescription);
        if (column != kColumnIp && column != kColumnStatus && !kept) {
            SetCellText(list, row, column, cells[column]);
        }
    }
}

// A device that answers both ways names and describes itself in its
// broadcast reply; the multicast DNS host name and texts stand in for them
// only while no broadcast answer is current, so the row does not alternate.
// Notes a broadcast answer for the row of stored.
void NoteBroadcast(const DeviceRecord* stored, const DeviceRecord* answer)
{
    if (answer->fromMdns == 0) {
        NoteBroadcastAnswer(stored, answer->lastSeen);
    }
}

// Refreshes row from a later answer, which is then freed. The stored record
// keeps the creator's texts; only its lastSeen and state follow the answer,
// the state shown as a conflict when conflict is set.
void UpdateRow(HWND list, int row, DeviceRecord* answer, bool conflict)
{
    DeviceRecord* stored = StoredRecord(list, row);
    bool keepTexts = false;
    if (stored != nullptr) {
        stored->lastSeen = answer->lastSeen;
        keepTexts = answer->fromMdns != 0 && BroadcastAnswerCurrent(stored, answer->lastSeen);
        NoteBroadcast(stored, answer);
        NoteReach(stored, answer->state, answer->lastSeen);
        int reach = BestCurrentReach(stored, answer->lastSeen, answer->state);

        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        item.lParam = reinterpret_cast<LPARAM>(stored);
        SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        ShowRowState(list, row, stored, reach, conflict);
    }
    WriteAnswerColumns(list, row, answer, keepTexts);
    FreeDeviceRecord(answer);
    // Ordered by a column the answer may have changed: the row moves to its
    // place, and only when the control would not take it back is it gone.
    if (GetListOrder(list).column != kColumnIp && MoveRowIntoOrder(list, row) < 0 && stored != nullptr) {
        wchar_t ip[kIpTextChars];
        CopyText(ip, kIpTextChars, stored->ipText);
        ForgetRowNotes(stored);
        FreeDeviceRecord(stored);
        SettleAddress(list, ip);
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
    int rows = 0;
    for (int row = addressRow; row >= 0 && rows < kMaxRowsPerAddress; row = NextRowWithAddress(list, row, ipText)) {
        ++rows;
    }
    return rows < kMaxRowsPerAddress;
}

// Adds a row whose stored record is the answer itself, when there is room.
// A conflict marks the new row and every row already under its address.
void InsertRow(HWND list, int addressRow, DeviceRecord* answer, bool conflict)
{
    if (!RoomForRow(list, addressRow, answer->ipText)) {
        FreeDeviceRecord(answer);
        return;
    }
    const wchar_t* cells[kDeviceColumnCount];
    AnswerCells(answer, cells);
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
    ForgetRowNotes(answer);
    NoteBroadcast(answer, answer);
    NoteReach(answer, answer->state, answer->lastSeen);
    WriteAnswerColumns(list, row, answer, false);
    ShowRowState(list, row, answer, answer->state, conflict);
    if (conflict) {
        MarkAddressConflict(list, answer->ipText);
    }
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
    return SameMacText(listed, macText);
}

// The first row whose stored record carries macText, or -1.
int FindRowByMac(HWND list, const wchar_t* macText)
{
    int count = RowCount(list);
    for (int row = 0; row < count; ++row) {
        const DeviceRecord* stored = StoredRecord(list, row);
        if (stored != nullptr && SameMacText(stored->macText, macText)) {
            return row;
        }
    }
    return -1;
}

// A device listed under another address now claims ip: every row
// under ip is a conflict, and stays one while the claim goes on (their own
// answers would otherwise find them alone under ip and clear the mark).
void ClaimAddress(HWND list, const wchar_t* ip, DWORD at)
{
    for (int row = NextRowWithAddress(list, -1, ip); row >= 0; row = NextRowWithAddress(list, row, ip)) {
        NoteAddressClaimed(StoredRecord(list, row), at);
    }
    MarkAddressConflict(list, ip);
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
    CanonicaliseMacText(answer->macText, kMacTextChars);

    // Multicast DNS answers were already checked for the vendor.
    if (answer->fromMdns == 0 && !HasVendorPrefix(answer)) {
        FreeDeviceRecord(answer);
        return 0;
    }

    int row = NextRowWithAddress(list, -1, answer->ipText);
    if (row < 0) {
        InsertRow(list, -1, answer, false);
        return 0;
    }
    if (RowShowsMac(list, row, answer->macText)) {
        // Its own answer: the row stays red while another row shares its
        // address or another device claims it, so both sides of a conflict
        // stay marked.
        bool conflict = NextRowWithAddress(list, row, answer->ipText) >= 0 ||
                        AddressClaimCurrent(StoredRecord(list, row), answer->lastSeen);
        UpdateRow(list, row, answer, conflict);
        return 0;
    }

    // A second MAC claims this address: mark the device that sent the answer
    // red, in its own row if it has one, and every row under the address;
    // a new row also marks the rows it shares the address with.
    int macRow = FindRowByMac(list, answer->macText);
    if (macRow < 0) {
        InsertRow(list, row, answer, true);
        return 0;
    }
    const DeviceRecord* macStored = StoredRecord(list, macRow);
    bool elsewhere = macStored != nullptr && lstrcmpiW(macStored->ipText, answer->ipText) != 0;
    wchar_t ip[kIpTextChars];
    CopyText(ip, kIpTextChars, answer->ipText);
    DWORD at = answer->lastSeen;
    UpdateRow(list, macRow, answer, true);  // frees the answer
    if (elsewhere) {
        ClaimAddress(list, ip, at);
    }
    return 0;
}

LRESULT MergeBurstRecordAt(HWND window, WPARAM wParam, LPARAM lParam, bool morePending, DWORD now)
{
    HWND list = DeviceListOf(window);
    if (list != nullptr && morePending && !BurstHolds(list)) {
        HoldDrawingForBurst(list, now);
    }
    LRESULT result = MergeDeviceRecord(window, wParam, lParam);
    if (list != nullptr && BurstHolds(list)) {
        if (!morePending) {
            ReleaseDrawing(list);
        } else {
            DrawBurstIfDue(list, now);
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
