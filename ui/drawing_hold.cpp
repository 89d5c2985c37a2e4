// The drawing hold of the device list. There is one device list and only the
// window thread touches it, so the hold's state is kept here once; holding
// another list starts afresh.
#include "ui/drawing_hold.h"

#include "ui/device_list_internal.h"

namespace {

struct DrawingHold {
    HWND list;
    int depth;
    bool burst;     // one of the holds belongs to a burst of answers
    DWORD drawnAt;  // when the list last drew during the burst
};
DrawingHold g_drawingHold = {};

struct BurstArm {
    HWND list;
    DWORD at;
    bool morePending;
};
BurstArm g_burstArm = {};

// Paints the list in the middle of a burst. A paint normally waits until no
// message is queued, which a burst that never stops never allows, so this
// one paints at once and then holds drawing again.
void DrawDuringBurst(HWND list)
{
    if (g_drawingHold.depth != 1) {
        return;  // another hold is in charge and redraws when it ends
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
}

}  // namespace

void HoldDrawing(HWND list)
{
    if (g_drawingHold.list != list) {
        g_drawingHold = {};
        g_drawingHold.list = list;
    }
    if (g_drawingHold.depth++ == 0) {
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    }
}

void ReleaseDrawing(HWND list)
{
    if (g_drawingHold.list != list || g_drawingHold.depth == 0) {
        return;
    }
    if (--g_drawingHold.depth == 0) {
        g_drawingHold.burst = false;
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
    }
}

void ArmBurst(HWND list, DWORD now, bool morePending)
{
    g_burstArm = {list, now, morePending};
}

void HoldForArmedBurst(HWND list)
{
    if (g_burstArm.list == list && g_burstArm.morePending && !BurstHolds(list)) {
        HoldDrawingForBurst(list, g_burstArm.at);
    }
}

void HoldDrawingForBurst(HWND list, DWORD now)
{
    HoldDrawing(list);
    g_drawingHold.burst = true;
    g_drawingHold.drawnAt = now;
}

bool BurstHolds(HWND list)
{
    return g_drawingHold.list == list && g_drawingHold.burst;
}

void DrawBurstIfDue(HWND list, DWORD now)
{
    if (!BurstHolds(list) || now - g_drawingHold.drawnAt < kBurstRedrawMs) {
        return;
    }
    DrawDuringBurst(list);
    g_drawingHold.drawnAt = now;
}
