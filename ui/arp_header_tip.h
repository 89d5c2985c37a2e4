// The ARP column's marks in words: a tooltip over its header. Window thread.
#pragma once

#include <windows.h>

// Makes the tooltip (owned by the window, so it goes with it) over the ARP
// column's header.
void CreateArpHeaderTip(HWND window);
// Follows the column's place after a change of widths or layout.
void PlaceArpHeaderTip(HWND window);
// Forgets the tooltip before the window goes (the tooltip goes with it).
void ReleaseArpHeaderTip(HWND window);
