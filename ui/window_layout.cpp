// Anchored layout of the main window's controls, its minimum size and its
// reaction to a change of DPI. Window thread only.
#include "ui/window_layout.h"

#include <commctrl.h>

#include "ui/column_shares.h"
#include "core/resource.h"

namespace {

const wchar_t kLayoutProperty[] = L"NdtLayout";
constexpr int kMaxControls = 32;

enum Anchor {
    kStretchWidth,   // texts and the auto-refresh box: top left, width follows the window
    kKeepTopLeft,
    kFollowRight,    // subnet choice and its label
    kFollowBottomCentre,  // Refresh button and the device count
    kStretchBoth,    // the device list
};

struct ControlPlace {
    HWND control;
    RECT rect;  // in the client area, at the template's size and the layout's DPI
    Anchor anchor;
};

struct WindowLayout {
    HWND window;
    SIZE client;       // client size the places belong to
    SIZE minimumFrame; // smallest window size
    UINT dpi;
    HFONT scaledFont;  // made for a DPI change, else null
    int count;
    ControlPlace places[kMaxControls];
};

WindowLayout* LayoutOf(HWND window)
{
    return static_cast<WindowLayout*>(GetPropW(window, kLayoutProperty));
}

Anchor AnchorFor(HWND control, const RECT& rect, LONG clientWidth)
{
    switch (GetDlgCtrlID(control)) {
    case IDC_DEVICE_LIST:
        return kStretchBoth;
    case IDC_REFRESH:
    case IDC_DEVICE_COUNT:
        return kFollowBottomCentre;
    case IDC_SUBNET:
        return kFollowRight;
    case IDC_AUTO_REFRESH:
    case IDC_FIND_LABEL:
    case IDC_FIND_TEXT:
        return kKeepTopLeft;
    default:
        // Texts: the one right of centre labels the subnet choice.
        return rect.left > clientWidth / 2 ? kFollowRight : kStretchWidth;
    }
}

BOOL CALLBACK RememberControl(HWND control, LPARAM parameter)
{
    WindowLayout* layout = reinterpret_cast<WindowLayout*>(parameter);
    // Only the window's own controls: not the list's header, for instance.
    HWND window = layout->window;
    if (layout->count >= kMaxControls || GetParent(control) != window) {
        return TRUE;
    }
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    ControlPlace* place = &layout->places[layout->count++];
    place->control = control;
    place->rect = rect;
    place->anchor = AnchorFor(control, rect, layout->client.cx);
    return TRUE;
}

int ScaleBy(int value, UINT to, UINT from)
{
    return MulDiv(value, static_cast<int>(to), static_cast<int>(from));
}

}  // namespace

UINT WindowDpi(HWND window)
{
    typedef UINT(WINAPI * GetDpiForWindowFunction)(HWND);
    static GetDpiForWindowFunction getDpi = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi != nullptr) {
        UINT dpi = getDpi(window);
        if (dpi != 0) {
            return dpi;
        }
    }
    HDC screen = GetDC(nullptr);
    UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return dpi != 0 ? dpi : 96;
}

void InitWindowLayout(HWND window)
{
    WindowLayout* layout = static_cast<WindowLayout*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WindowLayout)));
    if (layout == nullptr) {
        return;  // the window then keeps its template layout
    }
    layout->window = window;
    RECT client, frame;
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    layout->client.cx = client.right;
    layout->client.cy = client.bottom;
    layout->minimumFrame.cx = frame.right - frame.left;
    layout->minimumFrame.cy = frame.bottom - frame.top;
    layout->dpi = WindowDpi(window);
    EnumChildWindows(window, RememberControl, reinterpret_cast<LPARAM>(layout));
    if (!SetPropW(window, kLayoutProperty, layout)) {
        HeapFree(GetProcessHeap(), 0, layout);
    }
}

void ReleaseWindowLayout(HWND window)
{
    ReleaseColumnShares(GetDlgItem(window, IDC_DEVICE_LIST));
    WindowLayout* layout = static_cast<WindowLayout*>(RemovePropW(window, kLayoutProperty));
    if (layout == nullptr) {
        return;
    }
    if (layout->scaledFont != nullptr) {
        DeleteObject(layout->scaledFont);
    }
    HeapFree(GetProcessHeap(), 0, layout);
}

void LayOutControls(HWND window)
{
    WindowLayout* layout = LayoutOf(window);
    if (layout == nullptr) {
        return;
    }
    RECT client;
    GetClientRect(window, &client);
    // A minimised window has no client area; keep the places as they are.
    if (client.right == 0 || client.bottom == 0) {
        return;
    }
    int dx = client.right - layout->client.cx;
    int dy = client.bottom - layout->client.cy;
    if (dx < 0) dx = 0;
    if (dy < 0) dy = 0;

    HDWP batch = BeginDeferWindowPos(layout->count);
    for (int i = 0; i < layout->count; ++i) {
        const ControlPlace& place = layout->places[i];
        RECT r = place.rect;
        switch (place.anchor) {
        case kStretchWidth:
            r.right += dx;
            break;
        case kKeepTopLeft:
            break;
        case kFollowRight:
            OffsetRect(&r, dx, 0);
            break;
        case kFollowBottomCentre:
            OffsetRect(&r, dx / 2, dy);
            break;
        case kStretchBoth:
            r.right += dx;
            r.bottom += dy;
            break;
        }
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (batch != nullptr) {
            batch = DeferWindowPos(batch, place.control, nullptr, r.left, r.top, r.right - r.left,
                                   r.bottom - r.top, flags);
        } else {
            SetWindowPos(place.control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
        }
    }
    if (batch != nullptr) {
        EndDeferWindowPos(batch);
    }
    FitColumnsToList(GetDlgItem(window, IDC_DEVICE_LIST));
    InvalidateRect(window, nullptr, TRUE);
}

void LimitWindowSize(HWND window, MINMAXINFO* limits)
{
    WindowLayout* layout = LayoutOf(window);
    if (layout == nullptr || limits == nullptr) {
        return;
    }
    limits->ptMinTrackSize.x = layout->minimumFrame.cx;
    limits->ptMinTrackSize.y = layout->minimumFrame.cy;
}

void OnWindowDpiChanged(HWND window, UINT dpi, const RECT* suggested)
{
    WindowLayout* layout = LayoutOf(window);
    if (layout != nullptr && dpi != 0 && dpi != layout->dpi) {
        UINT from = layout->dpi;
        for (int i = 0; i < layout->count; ++i) {
            RECT& r = layout->places[i].rect;
            r.left = ScaleBy(r.left, dpi, from);
            r.top = ScaleBy(r.top, dpi, from);
            r.right = ScaleBy(r.right, dpi, from);
            r.bottom = ScaleBy(r.bottom, dpi, from);
        }
        layout->client.cx = ScaleBy(layout->client.cx, dpi, from);
        layout->client.cy = ScaleBy(layout->client.cy, dpi, from);
        layout->minimumFrame.cx = ScaleBy(layout->minimumFrame.cx, dpi, from);
        layout->minimumFrame.cy = ScaleBy(layout->minimumFrame.cy, dpi, from);
        layout->dpi = dpi;

        // The dialog font was made for the old DPI: make its like for the new
        // one. The controls hold it (our class procedure keeps no font).
        HFONT current = layout->count > 0
            ? reinterpret_cast<HFONT>(SendMessageW(layout->places[0].control, WM_GETFONT, 0, 0))
            : nullptr;
        LOGFONTW font = {};
        if (current != nullptr && GetObjectW(current, sizeof(font), &font) == sizeof(font)) {
            font.lfHeight = ScaleBy(font.lfHeight, dpi, from);
            HFONT scaled = CreateFontIndirectW(&font);
            if (scaled != nullptr) {
                for (int i = 0; i < layout->count; ++i) {
                    SendMessageW(layout->places[i].control, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), TRUE);
                }
                if (layout->scaledFont != nullptr) {
                    DeleteObject(layout->scaledFont);
                }
                layout->scaledFont = scaled;
            }
        }
    }
    if (suggested != nullptr) {
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LayOutControls(window);
}
