// The state a device row shows, its own state kept beside it, the Status
// column's words, and the conflict mark of the rows that share an address.
#include "ui/row_state.h"

#include <commctrl.h>

#include "core/device_record.h"
#include "ui/device_columns.h"
#include "ui/device_rows.h"
#include "ui/resource.h"

namespace {

// The own state rides in the item's state-image bits, plus one so that 0
// means none kept. The list has no state image list, so the bits draw
// nothing; the control keeps them with the item when it sorts, and a moved
// row takes them along (row_move.cpp).
constexpr int kOwnStateShift = 12;
constexpr int32_t kMaxKeptState = (LVIS_STATEIMAGEMASK >> kOwnStateShift) - 1;

void KeepOwnState(HWND list, int row, int32_t own)
{
    bool keepable = own >= 0 && own <= kMaxKeptState;
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = keepable ? static_cast<UINT>(own + 1) << kOwnStateShift : 0;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void SetStatusCell(HWND list, int row, int32_t state)
{
    wchar_t text[kStateTextChars];
    StateText(state, text, kStateTextChars);
    LVITEMW item = {};
    item.iSubItem = kColumnStatus;
    item.pszText = text;
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void ShowRowState(HWND list, int row, DeviceRecord* stored, int32_t own, bool conflict)
{
    int32_t shown = conflict ? static_cast<int32_t>(DeviceStateConflict) : own;
    if (stored != nullptr) {
        stored->state = shown;
    }
    KeepOwnState(list, row, own);
    SetStatusCell(list, row, shown);
}

int32_t RowOwnState(HWND list, int row)
{
    UINT kept = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                                               LVIS_STATEIMAGEMASK)) & LVIS_STATEIMAGEMASK;
    if (kept != 0) {
        return static_cast<int32_t>(kept >> kOwnStateShift) - 1;
    }
    const DeviceRecord* stored = StoredRecord(list, row);
    if (stored == nullptr || stored->state == DeviceStateConflict) {
        return DeviceStateNormal;
    }
    return stored->state;
}

int NextRowWithAddress(HWND list, int after, const wchar_t* ip)
{
    LVFINDINFOW find = {};
    find.flags = LVFI_STRING;  // whole text; no wrap past the last row
    find.psz = ip;
    return static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(after),
                                         reinterpret_cast<LPARAM>(&find)));
}

bool AddressShared(HWND list, const wchar_t* ip)
{
    int first = NextRowWithAddress(list, -1, ip);
    return first >= 0 && NextRowWithAddress(list, first, ip) >= 0;
}

void MarkAddressConflict(HWND list, const wchar_t* ip)
{
    for (int row = NextRowWithAddress(list, -1, ip); row >= 0; row = NextRowWithAddress(list, row, ip)) {
        DeviceRecord* stored = StoredRecord(list, row);
        if (stored != nullptr && stored->state != DeviceStateConflict) {
            ShowRowState(list, row, stored, RowOwnState(list, row), true);
        }
    }
}

void SettleAddress(HWND list, const wchar_t* ip)
{
    int only = NextRowWithAddress(list, -1, ip);
    if (only < 0 || NextRowWithAddress(list, only, ip) >= 0) {
        return;  // none left, or still shared
    }
    DeviceRecord* stored = StoredRecord(list, only);
    if (stored != nullptr && stored->state == DeviceStateConflict) {
        ShowRowState(list, only, stored, RowOwnState(list, only), false);
    }
}
