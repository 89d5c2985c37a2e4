// The ARP column's header tooltip (ui/arp_header_tip.h). The tool is the
// column's header rectangle, moved whenever the columns' widths change.
#include "ui/arp_header_tip.h"

#include <commctrl.h>

#include "core/globals.h"
#include "core/resource.h"
#include "rows/columns.h"
#include "ui/device_rows.h"

namespace {

const wchar_t kTipProperty[] = L"NdtArpHeaderTip";
constexpr UINT_PTR kArpToolId = 1;

HWND HeaderOf(HWND window)
{
    return reinterpret_cast<HWND>(SendMessageW(DeviceListOf(window), LVM_GETHEADER, 0, 0));
}

// The version 2 size: accepted by every Common Controls version.
TTTOOLINFOW ArpTool(HWND header)
{
    TTTOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = header;
    tool.uId = kArpToolId;
    SendMessageW(header, HDM_GETITEMRECT, kColumnArp, reinterpret_cast<LPARAM>(&tool.rect));
    return tool;
}

}  // namespace

void CreateArpHeaderTip(HWND window)
{
    HWND header = HeaderOf(window);
    if (header == nullptr) {
        return;
    }
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                               g_instance, nullptr);
    if (tip == nullptr) {
        return;
    }
    wchar_t text[256] = L"";
    LoadStringW(g_instance, IDS_ARP_HEADER_TIP, text, 256);
    TTTOOLINFOW tool = ArpTool(header);
    tool.lpszText = text;  // copied by the tooltip
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 360);
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SetPropW(window, kTipProperty, tip);
}

void PlaceArpHeaderTip(HWND window)
{
    HWND tip = static_cast<HWND>(GetPropW(window, kTipProperty));
    HWND header = HeaderOf(window);
    if (tip == nullptr || header == nullptr) {
        return;
    }
    TTTOOLINFOW tool = ArpTool(header);
    SendMessageW(tip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void ReleaseArpHeaderTip(HWND window)
{
    RemovePropW(window, kTipProperty);
}
