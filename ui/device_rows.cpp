// Finding the device list, the record a row owns, and deleting a row with
// its record.
#include "ui/device_rows.h"

#include <commctrl.h>

#include "core/device_record.h"
#include "ui/resource.h"
#include "ui/row_notes.h"

HWND DeviceListOf(HWND window)
{
    return window != nullptr ? GetDlgItem(window, IDC_DEVICE_LIST) : nullptr;
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

bool DeleteRow(HWND list, int row)
{
    DeviceRecord* stored = StoredRecord(list, row);
    if (!SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0)) {
        return false;
    }
    ForgetRowNotes(stored);
    FreeDeviceRecord(stored);
    return true;
}
