// The colour of each device row's text, from its stored record's state:
// normal, link-local (green), another subnet (grey), address conflict (red).
#include "ui/device_list.h"

#include <commctrl.h>

#include "core/device_record.h"

namespace {

void ColourByState(const DeviceRecord* stored, NMLVCUSTOMDRAW* draw)
{
    switch (stored->state) {
    case DeviceStateNormal:
        draw->clrText = GetSysColor(COLOR_WINDOWTEXT);
        break;
    case DeviceStateLinkLocal:
        draw->clrText = RGB(0, 192, 0);
        break;
    case DeviceStateOtherSubnet:
        draw->clrText = RGB(128, 128, 128);
        break;
    case DeviceStateConflict:
        draw->clrText = RGB(255, 0, 0);
        break;
    default:
        break;  // unknown state: the control's own colour
    }
}

}  // namespace

LRESULT ColourDeviceRow(HWND, WPARAM, LPARAM lParam)
{
    NMLVCUSTOMDRAW* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
    if (draw == nullptr) {
        return CDRF_DODEFAULT;
    }
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        const DeviceRecord* stored = reinterpret_cast<const DeviceRecord*>(draw->nmcd.lItemlParam);
        if (stored != nullptr) {
            ColourByState(stored, draw);
        }
        return CDRF_NEWFONT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}
