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
        // The difference stays right across the tick counter's wrap.
        bool stale = stored != nullptr && static_cast<DWORD>(now - stored->lastSeen) > kDeviceExpiryMs;
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
