// Holding the device list's drawing during bulk changes. Drawing the list
// after every inserted or deleted row costs milliseconds a row, so bulk
// changes hold drawing and redraw once at the end. Holds nest: a clear or an
// expiry can come while a burst of answers holds drawing, and the list draws
// again only when the outermost hold ends. Window thread only.
#pragma once

#include <windows.h>

void HoldDrawing(HWND list);
void ReleaseDrawing(HWND list);

// Whether more answers wait behind the one being merged at tick count now.
// While armed, the first change the merge makes to the list holds drawing
// for the burst (HoldForArmedBurst); answers that change nothing, as most
// repeats do, neither stop drawing nor repaint the list.
void ArmBurst(HWND list, DWORD now, bool morePending);
void HoldForArmedBurst(HWND list);

// A hold that belongs to a burst of answers, started at tick count now;
// the burst's last answer releases it.
void HoldDrawingForBurst(HWND list, DWORD now);
bool BurstHolds(HWND list);

// Paints the list when the burst has gone kBurstRedrawMs
// (device_list_internal.h) without drawing.
void DrawBurstIfDue(HWND list, DWORD now);
