// Rows leaving the device list: those that stopped answering while
// auto-refresh is on (a conflict they leave behind ends), and all of them
// when the list is cleared; and the fresh start that switching auto-refresh
// on gives the rows. Window thread only.
#include "ui/device_list.h"

#include "core/device_record.h"
#include "core/globals.h"
#include "ui/device_list_internal.h"
#include "ui/device_rows.h"
#include "ui/drawing_hold.h"
#include "ui/list_cells.h"
#include "ui/row_state.h"

namespace {

// Deletes the row; a rival it leaves alone under its address returns to its
// own state. Settling moves no row, so the scan's indices stay right.
bool DeleteStaleRow(HWND list, int row, const DeviceRecord* stored)
{
    bool inConflict = stored->state == DeviceStateConflict;
    wchar_t ip[kIpTextChars];
    CopyText(ip, kIpTextChars, stored->ipText);
    if (!DeleteRow(list, row)) {
        return false;
    }
    if (inConflict) {
        SettleAddress(list, ip);
    }
    return true;
}

}  // namespace

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
        // The difference stays right across the tick counter's wrap. Signed:
        // a tick judged as of its posting may come after a row was seen (the
        // rows were marked seen while it waited), which keeps the row.
        bool stale = stored != nullptr &&
                     static_cast<int32_t>(now - stored->lastSeen) > static_cast<int32_t>(kDeviceExpiryMs);
        // Held only once a row goes: a tick that removes nothing should not
        // repaint the whole list.
        if (stale && !held) {
            HoldDrawing(list);
            held = true;
        }
        if (stale && DeleteStaleRow(list, row, stored)) {
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
