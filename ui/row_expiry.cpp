// Rows leaving the device list: those that stopped answering while
// auto-refresh is on (a conflict they leave behind ends), and all of them
// when the list is cleared; and the fresh start that switching auto-refresh
// on gives the rows. The device table decides; the list's drawing is held
// while rows go. Window thread only.
#include "ui/device_list.h"

#include "core/device_table.h"
#include "core/globals.h"
#include "ui/device_list_internal.h"
#include "ui/device_rows.h"
#include "ui/drawing_hold.h"
#include "ui/list_table.h"

void ClearDeviceList(HWND window)
{
    HWND list = DeviceListOf(window);
    DeviceTable* table = TableOfList(list);
    if (table == nullptr || table->Count() == 0) {
        return;
    }
    HoldDrawing(list);
    table->Clear();
    ReleaseDrawing(list);
}

void ExpireStaleRowsAt(HWND list, DWORD now)
{
    DeviceTable* table = TableOfList(list);
    // Held only when a row goes: a tick that removes nothing should not
    // repaint the whole list.
    if (table == nullptr || !table->HasStaleRows(now)) {
        return;
    }
    HoldDrawing(list);
    table->Expire(now);
    ReleaseDrawing(list);
}

void MarkAllRowsSeen(HWND window, DWORD now)
{
    DeviceTable* table = TableOfList(DeviceListOf(window));
    if (table != nullptr) {
        table->MarkAllSeen(now);
    }
}

LRESULT ExpireStaleRows(HWND, WPARAM wParam, LPARAM)
{
    if (g_autoRefresh == 0) {
        return 0;
    }
    // Rows are judged as of the moment the tick was posted, not handled. A
    // window busy with a flood of answers handles the tick late, but every
    // answer read before the tick was posted before it too, and has been
    // merged by now; judged at the later moment, a device that answers every
    // half second could lose its row to the window's own backlog.
    DWORD now = wParam != 0 ? static_cast<DWORD>(wParam) : GetTickCount();
    HWND list = DeviceListOf(g_mainWindow);
    if (list != nullptr) {
        ExpireStaleRowsAt(list, now);
    }
    return 0;
}
