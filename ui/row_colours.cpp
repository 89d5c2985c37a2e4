// The colour of each device row's text, from its stored record's state:
// normal, link-local (green), another subnet (grey), address conflict (red).
// Under a high-contrast theme the rows keep the system's colours and the
// Status column alone tells the states apart.
#include "ui/device_list.h"

#include <commctrl.h>

#include "core/device_record.h"
#include "ui/device_list_internal.h"
#include "ui/device_rows.h"
#include "ui/high_contrast.h"

namespace {

// Whether a high-contrast theme is on, as last read; window thread only.
struct ColourScheme {
    bool read;
    bool highContrast;
};
ColourScheme g_colourScheme = {};

void ReadColourScheme()
{
    g_colourScheme.highContrast = SystemHighContrast();
    g_colourScheme.read = true;
}

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

LRESULT ColourRowForScheme(NMLVCUSTOMDRAW* draw, bool highContrast)
{
    if (draw == nullptr || highContrast) {
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

LRESULT ColourDeviceRow(HWND, WPARAM, LPARAM lParam)
{
    if (!g_colourScheme.read) {
        ReadColourScheme();
    }
    return ColourRowForScheme(reinterpret_cast<NMLVCUSTOMDRAW*>(lParam), g_colourScheme.highContrast);
}

void OnColourSchemeChange(HWND window, UINT message)
{
    ReadColourScheme();
    HWND list = DeviceListOf(window);
    if (list == nullptr) {
        return;
    }
    // Common controls learn of new system colours only from their parent.
    if (message == WM_SYSCOLORCHANGE) {
        SendMessageW(list, WM_SYSCOLORCHANGE, 0, 0);
    }
    InvalidateRect(list, nullptr, TRUE);
}
