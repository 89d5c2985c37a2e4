// Merging each device answer into the device list: the answer goes to the
// list's device table, whose view updates the control; the list's drawing is
// held during a burst of answers. Window thread only.
#include "ui/device_list.h"

#include "core/app_messages.h"
#include "core/device_table.h"
#include "ui/device_list_internal.h"
#include "ui/device_rows.h"
#include "ui/drawing_hold.h"
#include "ui/list_table.h"

LRESULT MergeDeviceRecord(HWND window, WPARAM, LPARAM lParam)
{
    DeviceRecord* answer = reinterpret_cast<DeviceRecord*>(lParam);
    if (answer == nullptr) {
        return 0;
    }
    DeviceTable* table = TableOfList(DeviceListOf(window));
    if (table == nullptr) {
        FreeDeviceRecord(answer);
        return 0;
    }
    table->Merge(answer);
    return 0;
}

LRESULT MergeBurstRecordAt(HWND window, WPARAM wParam, LPARAM lParam, bool morePending, DWORD now)
{
    HWND list = DeviceListOf(window);
    ArmBurst(list, now, morePending);
    LRESULT result = MergeDeviceRecord(window, wParam, lParam);
    ArmBurst(list, now, false);
    if (list != nullptr && BurstHolds(list)) {
        if (!morePending) {
            ReleaseDrawing(list);
        } else {
            DrawBurstIfDue(list, now);
        }
    }
    return result;
}

bool MergeQueuedDeviceRecord(HWND window, WPARAM wParam, LPARAM lParam)
{
    // One look at the queue per answer: each costs a call to the system.
    MSG next;
    bool morePending = PeekMessageW(&next, window, WM_APP_DEVICE, WM_APP_DEVICE, PM_NOREMOVE) != FALSE;
    MergeBurstRecordAt(window, wParam, lParam, morePending, GetTickCount());
    return !morePending;
}
