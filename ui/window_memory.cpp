// Restoring and taking the main window's remembered place, size, column
// widths and order.
//
// GetWindowPlacement's coordinates are relative to the work area rather
// than the screen (a taskbar at the top or left shifts them); they are kept
// as the placement gives them and handed back to SetWindowPlacement, and
// only the check against the monitors converts them. Window thread only.
#include "ui/window_memory.h"

#include "core/resource.h"
#include "ui/window_layout.h"

namespace {

const wchar_t kMemoryProperty[] = L"NdtWindowMemory";

// GDI's coordinate range; no real window comes near it.
constexpr LONG kMaxCoordinate = 32767;

LONG Clamp(LONG value, LONG low, LONG high)
{
    return value < low ? low : (value > high ? high : value);
}

bool IsMinimising(UINT command)
{
    return command == SW_SHOWMINIMIZED || command == SW_MINIMIZE || command == SW_SHOWMINNOACTIVE ||
           command == SW_FORCEMINIMIZE;
}

// The saved size at the window's present DPI, never below the size the
// template gave it, on a monitor.
RECT PlaceForWindow(HWND window, const WindowMemory& memory)
{
    RECT frame = {};
    GetWindowRect(window, &frame);
    int dpi = static_cast<int>(WindowDpi(window));
    int saved = static_cast<int>(memory.dpi);
    LONG width = MulDiv(memory.place.right - memory.place.left, dpi, saved);
    LONG height = MulDiv(memory.place.bottom - memory.place.top, dpi, saved);
    if (width < frame.right - frame.left) {
        width = frame.right - frame.left;
    }
    if (height < frame.bottom - frame.top) {
        height = frame.bottom - frame.top;
    }
    RECT place = {memory.place.left, memory.place.top, memory.place.left + width, memory.place.top + height};
    MoveOntoMonitor(&place);
    return place;
}

bool PlaceWindow(HWND window, const WindowMemory& memory, int showCommand)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(window, &placement)) {
        return false;
    }
    placement.rcNormalPosition = PlaceForWindow(window, memory);
    placement.flags = 0;
    UINT command = static_cast<UINT>(showCommand);
    if (command == SW_SHOWDEFAULT || command == SW_SHOW) {
        command = SW_SHOWNORMAL;
    }
    // A maximised window opens maximised, unless the caller asked for
    // another state; minimised, it is maximised again when restored.
    if (memory.maximised && command == SW_SHOWNORMAL) {
        command = SW_SHOWMAXIMIZED;
    } else if (memory.maximised && IsMinimising(command)) {
        placement.flags = WPF_RESTORETOMAXIMIZED;
    }
    placement.showCmd = command;
    return SetWindowPlacement(window, &placement) != FALSE;
}

}  // namespace

bool IsSanePlace(const RECT& place, UINT dpi)
{
    bool inRange = place.left >= -kMaxCoordinate && place.top >= -kMaxCoordinate &&
                   place.right <= kMaxCoordinate && place.bottom <= kMaxCoordinate;
    return inRange && place.right > place.left && place.bottom > place.top && dpi >= kMinSavedDpi &&
           dpi <= kMaxSavedDpi;
}

bool MoveOntoMonitor(RECT* rect)
{
    HMONITOR monitor = MonitorFromRect(rect, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
        return false;
    }
    // In screen coordinates the rectangle lies this much further right and down.
    LONG dx = info.rcWork.left - info.rcMonitor.left;
    LONG dy = info.rcWork.top - info.rcMonitor.top;
    const RECT& work = info.rcWork;
    LONG width = rect->right - rect->left;
    LONG height = rect->bottom - rect->top;
    if (width > work.right - work.left) {
        width = work.right - work.left;
    }
    if (height > work.bottom - work.top) {
        height = work.bottom - work.top;
    }
    LONG left = Clamp(rect->left + dx, work.left, work.right - width) - dx;
    LONG top = Clamp(rect->top + dy, work.top, work.bottom - height) - dy;
    RECT moved = {left, top, left + width, top + height};
    bool changed = EqualRect(&moved, rect) == FALSE;
    *rect = moved;
    return changed;
}

void AttachWindowMemory(HWND window, WindowMemory* memory)
{
    if (memory != nullptr) {
        SetPropW(window, kMemoryProperty, memory);
    }
}

void ShowRememberedWindow(HWND window, const WindowMemory* memory, int showCommand)
{
    HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
    if (memory != nullptr && memory->hasOrder) {
        SetListOrder(list, memory->order);
    }
    if (memory != nullptr && memory->hasColumnShares) {
        SetColumnShares(list, memory->columnShares);
    }
    if (memory == nullptr || !memory->hasPlace || !PlaceWindow(window, *memory, showCommand)) {
        ShowWindow(window, showCommand);
    }
    // Fits the columns even when the window kept its size.
    LayOutControls(window);
}

void RememberWindow(HWND window)
{
    WindowMemory* memory = static_cast<WindowMemory*>(RemovePropW(window, kMemoryProperty));
    if (memory == nullptr) {
        return;
    }
    HWND list = GetDlgItem(window, IDC_DEVICE_LIST);
    memory->order = GetListOrder(list);
    memory->hasOrder = true;
    memory->hasColumnShares = GetColumnShares(list, &memory->columnShares);
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (GetWindowPlacement(window, &placement)) {
        memory->hasPlace = true;
        memory->place = placement.rcNormalPosition;
        memory->maximised = placement.showCmd == SW_SHOWMAXIMIZED ||
                            (placement.showCmd == SW_SHOWMINIMIZED && (placement.flags & WPF_RESTORETOMAXIMIZED) != 0);
        memory->dpi = WindowDpi(window);
    }
}
