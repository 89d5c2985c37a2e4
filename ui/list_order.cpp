// Ordering of the device list: numeric addresses, a chosen column, and the
// place of new rows. Window thread only.
#include "ui/list_order.h"

#include <commctrl.h>
#include <stdlib.h>

#include "ui/list_cells.h"
#include "ui/web_address.h"

namespace {

const wchar_t kOrderProperty[] = L"NdtListOrder";
constexpr int kOrderedColumns = 5;

// Compares by the order's column, then by address, so that equal keys keep
// rows of one address together.
int CompareCells(const ListOrder& order, const wchar_t* keyA, const wchar_t* addressA,
                 const wchar_t* keyB, const wchar_t* addressB)
{
    int result = order.column == 0 ? CompareAddressTexts(keyA, keyB) : lstrcmpiW(keyA, keyB);
    if (result == 0 && order.column != 0) {
        result = CompareAddressTexts(addressA, addressB);
    }
    return order.descending ? -result : result;
}

int CompareRows(HWND list, const ListOrder& order, int rowA, int rowB)
{
    wchar_t keyA[kCellChars], keyB[kCellChars], addressA[kCellChars], addressB[kCellChars];
    ReadCellText(list, rowA, order.column, keyA);
    ReadCellText(list, rowB, order.column, keyB);
    ReadCellText(list, rowA, 0, addressA);
    ReadCellText(list, rowB, 0, addressB);
    return CompareCells(order, keyA, addressA, keyB, addressB);
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

int CompareAddressTexts(const wchar_t* a, const wchar_t* b)
{
    unsigned long valueA = 0, valueB = 0;
    bool isA = ParseDottedQuadText(a, &valueA);
    bool isB = ParseDottedQuadText(b, &valueB);
    if (isA && isB) {
        return valueA < valueB ? -1 : (valueA > valueB ? 1 : 0);
    }
    if (isA != isB) {
        return isA ? -1 : 1;
    }
    return lstrcmpW(a, b);
}

ListOrder GetListOrder(HWND list)
{
    // Stored as 1 + column * 2 + descending, so that no property means the
    // default order.
    INT_PTR stored = reinterpret_cast<INT_PTR>(GetPropW(list, kOrderProperty));
    ListOrder order = {0, false};
    if (stored > 0) {
        order.column = static_cast<int>((stored - 1) / 2);
        order.descending = ((stored - 1) % 2) != 0;
    }
    if (order.column < 0 || order.column >= kOrderedColumns) {
        order.column = 0;
    }
    return order;
}

void SetListOrder(HWND list, ListOrder order)
{
    if (order.column < 0 || order.column >= kOrderedColumns) {
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

int SortedInsertIndex(HWND list, const wchar_t* const cells[5])
{
    ListOrder order = GetListOrder(list);
    int low = 0;
    int high = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    // Binary search for the first row that sorts after the new one.
    while (low < high) {
        int middle = low + (high - low) / 2;
        wchar_t key[kCellChars], address[kCellChars];
        ReadCellText(list, middle, order.column, key);
        ReadCellText(list, middle, 0, address);
        if (CompareCells(order, cells[order.column], cells[0], key, address) < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

bool RowOutOfOrder(HWND list, int row)
{
    ListOrder order = GetListOrder(list);
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    if (row > 0 && CompareRows(list, order, row - 1, row) > 0) {
        return true;
    }
    return row + 1 < count && CompareRows(list, order, row, row + 1) > 0;
}

void SortDeviceList(HWND list)
{
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
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
        ReadCellText(list, row, 0, call.keys[row].address);
    }
    qsort(call.keys, static_cast<size_t>(count), sizeof(SortKey), CompareParams);
    SendMessageW(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&call), reinterpret_cast<LPARAM>(CompareForSort));
    HeapFree(GetProcessHeap(), 0, call.keys);
}
