// Column widths that keep the shares the user gave them. The list view has
// no word for "the user dragged a column", so every fit first compares the
// widths shown with those it set last time: any difference is the user's.
// Window thread only.
#include "ui/column_shares.h"

#include <commctrl.h>

namespace {

const wchar_t kSharesProperty[] = L"NdtColumnShares";

struct ColumnState {
    bool custom;                     // shares hold the user's widths
    ColumnShares shares;
    int fittedListWidth;             // the list's width at the last fit, 0 before any
    int fitted[kDeviceColumnCount];  // the widths that fit set
};

ColumnState* StateOf(HWND list, bool create)
{
    ColumnState* state = static_cast<ColumnState*>(GetPropW(list, kSharesProperty));
    if (state != nullptr || !create) {
        return state;
    }
    state = static_cast<ColumnState*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ColumnState)));
    if (state != nullptr && !SetPropW(list, kSharesProperty, state)) {
        HeapFree(GetProcessHeap(), 0, state);
        state = nullptr;  // the columns then keep their default shares
    }
    return state;
}

int ListWidth(HWND list)
{
    RECT client = {};
    GetClientRect(list, &client);
    return client.right - client.left;
}

int ColumnWidth(HWND list, int column)
{
    return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

int ClampShare(int share)
{
    return share < 0 ? 0 : (share > kMaxColumnShare ? kMaxColumnShare : share);
}

// A width other than the one the last fit set was dragged by the user; then
// every column's share is taken from the widths shown.
void NoteDraggedWidths(HWND list, ColumnState* state)
{
    if (state->fittedListWidth <= 0) {
        return;
    }
    int widths[kDeviceColumnCount];
    bool dragged = false;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        widths[column] = ColumnWidth(list, column);
        dragged = dragged || widths[column] != state->fitted[column];
    }
    if (!dragged) {
        return;
    }
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        state->shares.share[column] = ClampShare(MulDiv(widths[column], kShareScale, state->fittedListWidth));
    }
    state->custom = true;
}

}  // namespace

void FitColumnsToList(HWND list)
{
    ColumnState* state = StateOf(list, true);
    if (state != nullptr) {
        NoteDraggedWidths(list, state);
    }
    if (state == nullptr || !state->custom) {
        FitDeviceColumns(list);
        if (state == nullptr) {
            return;
        }
    } else {
        int width = ListWidth(list);
        for (int column = 0; column < kDeviceColumnCount; ++column) {
            int columnWidth = MulDiv(state->shares.share[column], width, kShareScale);
            SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(columnWidth, 0));
        }
    }
    state->fittedListWidth = ListWidth(list);
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        state->fitted[column] = ColumnWidth(list, column);
    }
}

bool GetColumnShares(HWND list, ColumnShares* shares)
{
    ColumnState* state = StateOf(list, false);
    if (state == nullptr) {
        return false;
    }
    NoteDraggedWidths(list, state);
    if (!state->custom) {
        return false;
    }
    *shares = state->shares;
    return true;
}

bool AreUsableColumnShares(const ColumnShares& shares)
{
    long long total = 0;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        int share = shares.share[column];
        if (share < 0 || share > kMaxColumnShare || (IsHiddenColumn(column) && share != 0)) {
            return false;
        }
        total += share;
    }
    return total > 0;
}

void SetColumnShares(HWND list, const ColumnShares& shares)
{
    ColumnState* state = AreUsableColumnShares(shares) ? StateOf(list, true) : nullptr;
    if (state == nullptr) {
        return;
    }
    state->custom = true;
    for (int column = 0; column < kDeviceColumnCount; ++column) {
        state->shares.share[column] = ClampShare(shares.share[column]);
    }
    state->fittedListWidth = 0;  // the widths shown now are not the user's
    FitColumnsToList(list);
}

void ReleaseColumnShares(HWND list)
{
    ColumnState* state = static_cast<ColumnState*>(RemovePropW(list, kSharesProperty));
    if (state != nullptr) {
        HeapFree(GetProcessHeap(), 0, state);
    }
}
