// Ordering of the device list: numeric addresses, a chosen column, the
// place of a new row and of a row whose texts changed. Window thread only.
#include "ui/list_order.h"

#include <commctrl.h>
#include <stdlib.h>

#include "rows/columns.h"
#include "ui/list_cells.h"
#include "ui/row_move.h"

namespace {

const wchar_t kOrderProperty[] = L"NdtListOrder";

// Compares by the order's column, then by address, so that equal keys keep
// rows of one address together.
int CompareCells(const ListOrder& order, const wchar_t* keyA, const wchar_t* addressA,
                 const wchar_t* keyB, const wchar_t* addressB)
{
    int result = order.column == kColumnIp ? CompareAddressTexts(keyA, keyB) : lstrcmpiW(keyA, keyB);
    if (result == 0 && order.column != kColumnIp) {
        result = CompareAddressTexts(addressA, addressB);
    }
    return order.descending ? -result : result;
}

// <0, 0, >0 as a row with these texts sorts before, with or after row.
int CompareWithRow(HWND list, const ListOrder& order, const wchar_t* key, const wchar_t* address, int row)
{
    wchar_t rowKey[kCellChars], rowAddress[kCellChars];
    ReadCellText(list, row, order.column, rowKey);
    ReadCellText(list, row, kColumnIp, rowAddress);
    return CompareCells(order, key, address, rowKey, rowAddress);
}

// Binary search of the rows low..high-1, which are in order, for the first
// that sorts after a row with these texts; high when none does.
int FirstRowAfter(HWND list, const ListOrder& order, const wchar_t* key, const wchar_t* address, int low,
                  int high)
{
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (CompareWithRow(list, order, key, address, middle) < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// The control's callback gets each row's item data, not its index, and
// reading the rows while the control moves them is unreliable; so the keys
// are read once beforehand and looked up by item data (every row's item
// data is its own stored record, so it is unique).
struct SortKey {
    LPARAM param;
    wchar_t key[kCellChars];
    wchar_t address[kCellChars];
};

struct SortCall {
    ListOrder order;
    SortKey* keys;
    int count;
};

int CompareParams(const void* a, const void* b)
{
    LPARAM left = static_cast<const SortKey*>(a)->param;
    LPARAM right = static_cast<const SortKey*>(b)->param;
    return left < right ? -1 : (left > right ? 1 : 0);
}

const SortKey* FindKey(const SortCall* call, LPARAM param)
{
    SortKey probe;
    probe.param = param;
    return static_cast<const SortKey*>(bsearch(&probe, call->keys, static_cast<size_t>(call->count),
                                               sizeof(SortKey), CompareParams));
}

int CALLBACK CompareForSort(LPARAM paramA, LPARAM paramB, LPARAM parameter)
{
    const SortCall* call = reinterpret_cast<const SortCall*>(parameter);
    const SortKey* a = FindKey(call, paramA);
    const SortKey* b = FindKey(call, paramB);
    if (a == nullptr || b == nullptr) {
        return 0;
    }
    return CompareCells(call->order, a->key, a->address, b->key, b->address);
}

void ShowOrderInHeader(HWND list, ListOrder order)
{
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (header == nullptr) {
        return;
    }
    int count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int column = 0; column < count; ++column) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        SendMessageW(header, HDM_GETITEMW, column, reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == order.column) {
            item.fmt |= order.descending ? HDF_SORTDOWN : HDF_SORTUP;
        }
        SendMessageW(header, HDM_SETITEMW, column, reinterpret_cast<LPARAM>(&item));
    }
}

}  // namespace

ListOrder GetListOrder(HWND list)
{
    // Stored as 1 + column * 2 + descending, so that no property means the
    // default order.
    INT_PTR stored = reinterpret_cast<INT_PTR>(GetPropW(list, kOrderProperty));
    ListOrder order = {kColumnIp, false};
    if (stored > 0) {
        order.column = static_cast<int>((stored - 1) / 2);
        order.descending = ((stored - 1) % 2) != 0;
    }
    if (!IsOrderedColumn(order.column)) {
        order.column = kColumnIp;
    }
    return order;
}

void SetListOrder(HWND list, ListOrder order)
{
    if (!IsOrderedColumn(order.column)) {
        return;
    }
    INT_PTR stored = 1 + order.column * 2 + (order.descending ? 1 : 0);
    SetPropW(list, kOrderProperty, reinterpret_cast<HANDLE>(stored));
    ShowOrderInHeader(list, order);
    SortDeviceList(list);
}

ListOrder OrderAfterHeaderClick(ListOrder current, int column)
{
    if (column == current.column) {
        current.descending = !current.descending;
        return current;
    }
    ListOrder order = {column, false};
    return order;
}

int SortedInsertIndex(HWND list, const wchar_t* const* cells)
{
    ListOrder order = GetListOrder(list);
    return FirstRowAfter(list, order, cells[order.column], cells[kColumnIp], 0, RowCount(list));
}

int OrderedPlaceOf(HWND list, int row)
{
    ListOrder order = GetListOrder(list);
    int count = RowCount(list);
    if (row < 0 || row >= count) {
        return row;
    }
    wchar_t key[kCellChars], address[kCellChars];
    ReadCellText(list, row, order.column, key);
    ReadCellText(list, row, kColumnIp, address);
    // Every other row is still in order, so a search among those on the
    // side the row must go finds its place. Rows it ties with keep it.
    if (row > 0 && CompareWithRow(list, order, key, address, row - 1) < 0) {
        return FirstRowAfter(list, order, key, address, 0, row - 1);
    }
    if (row + 1 < count && CompareWithRow(list, order, key, address, row + 1) > 0) {
        // Once the row is out, every row after it is one index lower.
        return FirstRowAfter(list, order, key, address, row + 2, count) - 1;
    }
    return row;
}

int MoveRowIntoOrder(HWND list, int row)
{
    int place = OrderedPlaceOf(list, row);
    return place == row ? row : MoveRow(list, row, place);
}

void SortDeviceList(HWND list)
{
    int count = RowCount(list);
    if (count < 2) {
        return;
    }
    SortCall call = {GetListOrder(list), nullptr, count};
    call.keys = static_cast<SortKey*>(HeapAlloc(GetProcessHeap(), 0, sizeof(SortKey) * static_cast<size_t>(count)));
    if (call.keys == nullptr) {
        return;  // the rows stay as they are
    }
    for (int row = 0; row < count; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        call.keys[row].param = item.lParam;
        ReadCellText(list, row, call.order.column, call.keys[row].key);
        ReadCellText(list, row, kColumnIp, call.keys[row].address);
    }
    qsort(call.keys, static_cast<size_t>(count), sizeof(SortKey), CompareParams);
    SendMessageW(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&call), reinterpret_cast<LPARAM>(CompareForSort));
    HeapFree(GetProcessHeap(), 0, call.keys);
}
