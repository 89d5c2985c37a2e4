// Opening a device's web page, from a double-click on its row or a command:
// always the address and port of the row's stored record.
#include "ui/device_list.h"

#include <commctrl.h>

#include "core/device_record.h"
#include "core/platform.h"
#include "ui/device_rows.h"
#include "core/web_address.h"

namespace {

constexpr int kAddressBufferChars = 128;

}  // namespace

void OpenRowPage(HWND window, HWND list, int row)
{
    const DeviceRecord* stored = StoredRecord(list, row);
    if (stored == nullptr) {
        return;
    }
    wchar_t address[kAddressBufferChars];
    if (!ComposeDevicePageAddress(stored->ipText, stored->portText, address, kAddressBufferChars)) {
        return;
    }
    g_platform.shellExecute(window, nullptr, address, nullptr, nullptr, SW_SHOWNORMAL);
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
    OpenRowPage(window, list, row);
    return 0;
}
