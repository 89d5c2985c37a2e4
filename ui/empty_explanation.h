// The empty list's explanation: a link over the list that says, some seconds
// after a Refresh or the start, what was tried and the likeliest cause, and
// opens the whole report. Window thread only.
#pragma once

#include <windows.h>

// Makes the hidden link over the list, before the list in the tab order;
// the window's layout then keeps it with the list's top edge.
void CreateEmptyExplanation(HWND window);
// A Refresh (or the start): hides the explanation and starts the wait.
void RestartEmptyExplanationWait(HWND window);
// Shows or hides the explanation by the rows now shown; gathers the facts
// only when it appears.
void UpdateEmptyExplanation(HWND window);
// The wait's timer came (WM_TIMER with this id).
constexpr UINT_PTR kEmptyExplanationTimer = 0x4E44;
void OnEmptyExplanationTimer(HWND window);
// Paints the link on the list's background; null for other controls.
HBRUSH EmptyExplanationColours(HWND window, HDC dc, HWND control);
void ReleaseEmptyExplanation(HWND window);
