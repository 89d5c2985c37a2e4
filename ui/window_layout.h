// The main window's layout when it is resized, maximised or moved to a
// monitor of another DPI: the device list grows with the window, the other
// controls keep their places relative to their edges, the list's columns
// keep their shares, and the window cannot be made smaller than its
// template. The layout state lives on the window (a property) from
// initialisation to destruction.
#pragma once

#include <windows.h>

// The window's DPI: its monitor's where the system tells, else the system's.
UINT WindowDpi(HWND window);

// Remembers every control's place in the window as the template made it.
void InitWindowLayout(HWND window);
// Frees the layout state, the columns' shares, and a font made for another DPI.
void ReleaseWindowLayout(HWND window);

// WM_SIZE: moves and sizes the controls for the new client size, and fits
// the list's columns (column_shares.h).
void LayOutControls(HWND window);
// WM_GETMINMAXINFO: the template's size is the smallest track size.
void LimitWindowSize(HWND window, MINMAXINFO* limits);
// WM_DPICHANGED: scales the font and the remembered places, then takes the
// rectangle the system suggests.
void OnWindowDpiChanged(HWND window, UINT dpi, const RECT* suggested);
