// What the main window remembers between runs: its place and size (normal
// or maximised), the widths of the list's columns and the list's order.
// The settings (app/settings.cpp) are loaded before the window exists and
// saved after it has gone, so the window takes the memory when it is shown
// and fills it when it is destroyed. Window thread only.
#pragma once

#include <windows.h>

#include "ui/column_shares.h"
#include "ui/list_order.h"

// A saved size is in pixels at the DPI the window had when it was saved; a
// window shown at another DPI scales it. DPIs outside this range are taken
// for damage.
constexpr UINT kMinSavedDpi = 48;
constexpr UINT kMaxSavedDpi = 960;

struct WindowMemory {
    bool hasPlace;
    RECT place;      // the restored window, in GetWindowPlacement's coordinates
    bool maximised;
    UINT dpi;        // the window's DPI when place was taken
    bool hasColumnShares;
    ColumnShares columnShares;
    bool hasOrder;
    ListOrder order;
};

// Whether a place read back is one a window could have had: a size above
// zero, coordinates within GDI's range and a DPI in range.
bool IsSanePlace(const RECT& place, UINT dpi);

// Moves rect (GetWindowPlacement's coordinates), shrinking it if need be,
// so that it lies wholly in the work area of the monitor nearest to it.
// True when it had to move.
bool MoveOntoMonitor(RECT* rect);

// The memory the window fills when it is destroyed; null remembers nothing.
void AttachWindowMemory(HWND window, WindowMemory* memory);

// Shows the window with the remembered order, column widths, place and
// size, each where memory has it; without any, as ShowWindow would.
void ShowRememberedWindow(HWND window, const WindowMemory* memory, int showCommand);

// Fills the attached memory from the window, before it is destroyed.
void RememberWindow(HWND window);
