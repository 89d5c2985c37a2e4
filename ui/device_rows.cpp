// Finding the device list and the record behind a row.
#include "ui/device_rows.h"

#include <commctrl.h>

#include "core/device_record.h"
#include "core/resource.h"

namespace {

// The last list found. Every answer looks the list up; GetDlgItem walks the
// window's children, which under some systems costs a call to another
// process, while these checks read only the window's own data.
HWND g_knownWindow = nullptr;
HWND g_knownList = nullptr;

}  // namespace

HWND DeviceListOf(HWND window)
{
    if (window == nullptr) {
        return nullptr;
    }
    if (window == g_knownWindow && IsWindow(g_knownList) && GetParent(g_knownList) == window &&
        GetWindowLongPtrW(g_knownList, GWLP_ID) == IDC_DEVICE_LIST) {
        return g_knownList;
    }
    HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
    g_knownWindow = list != nullptr ? window : nullptr;
    g_knownList = list;
    return list;
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
