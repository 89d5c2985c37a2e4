// The device list's column widths as shares of the list's width. Until the
// user drags a column's edge the columns take their default shares
// (rows/columns.h); from then on they keep the shares the user gave them,
// when the window is resized and across runs. The shares live on the list
// window (a property) until ReleaseColumnShares.
#pragma once

#include <windows.h>

#include "rows/columns.h"

// Shares are in ten-thousandths of the list's client width; a column may be
// up to four times as wide as the list.
constexpr int kShareScale = 10000;
constexpr int kMaxColumnShare = 4 * kShareScale;

// Widths of every column, one share each, as the user left them.
struct ColumnShares {
    int share[kDeviceColumnCount];
};

// Sets the columns' widths for the list's present width: from the user's
// shares once there are any, else from the default shares.
void FitColumnsToList(HWND list);

// The user's shares, counting widths dragged since the last fit; false while
// the columns still have their default shares.
bool GetColumnShares(HWND list, ColumnShares* shares);

// Whether shares could be the user's: each in range, a hidden column with
// none, and some width for the rest (all zeros would leave no column to drag).
bool AreUsableColumnShares(const ColumnShares& shares);

// Takes shares saved from an earlier run and fits the columns by them;
// shares that are not usable leave the columns as they are.
void SetColumnShares(HWND list, const ColumnShares& shares);

void ReleaseColumnShares(HWND list);
