// The device table of each device list control and the view that mirrors
// it into the control.
#include "ui/list_table.h"

#include <commctrl.h>

#include <new>

#include "core/device_table.h"
#include "rows/columns.h"
#include "ui/drawing_hold.h"
#include "ui/list_order.h"
#include "ui/row_state.h"

namespace {

void SetCellText(HWND list, int row, int column, const wchar_t* text)
{
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// The change bit that touches each column; the address never changes.
uint32_t ChangeOfColumn(int column)
{
    switch (column) {
    case kColumnName:
        return kRowChangedName;
    case kColumnMac:
        return kRowChangedMac;
    case kColumnDescription:
        return kRowChangedDescription;
    case kColumnArp:
        return kRowChangedArp;
    case kColumnPort:
        return kRowChangedPort;
    case kColumnStatus:
        return kRowChangedState;
    default:
        return 0;
    }
}

class ListControlView : public DeviceTableView {
public:
    explicit ListControlView(HWND list) : list_(list), changed_(false) {}

    bool RowAdded(const DeviceRow* row) override
    {
        const wchar_t* cells[kDeviceColumnCount];
        for (int column = 0; column < kDeviceColumnCount; ++column) {
            cells[column] = DeviceCellText(&row->shown, column);
        }
        HoldForArmedBurst(list_);
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = SortedInsertIndex(list_, cells);
        item.pszText = row->record->ipText;
        item.lParam = reinterpret_cast<LPARAM>(row->record);
        int index = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (index < 0) {
            return false;
        }
        WriteCells(index, row, ~0u);
        changed_ = true;
        return true;
    }

    bool RowChanged(const DeviceRow* row, uint32_t changes) override
    {
        int index = IndexOf(row);
        if (index < 0) {
            return false;
        }
        HoldForArmedBurst(list_);
        WriteCells(index, row, changes);
        changed_ = true;
        // Ordered by a column the change touched: the row moves to its
        // place, and only when the control would not take it back is it gone.
        uint32_t orderedBy = ChangeOfColumn(GetListOrder(list_).column);
        return (changes & orderedBy) == 0 || MoveRowIntoOrder(list_, index) >= 0;
    }

    bool RowRemoving(const DeviceRow* row) override
    {
        int index = IndexOf(row);
        if (index >= 0) {
            HoldForArmedBurst(list_);
        }
        bool gone = index < 0 || SendMessageW(list_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0) != FALSE;
        changed_ = changed_ || gone;
        return gone;
    }

    bool TakeChanged()
    {
        bool changed = changed_;
        changed_ = false;
        return changed;
    }

private:
    int IndexOf(const DeviceRow* row) const
    {
        LVFINDINFOW find = {};
        find.flags = LVFI_PARAM;
        find.lParam = reinterpret_cast<LPARAM>(row->record);
        return static_cast<int>(
            SendMessageW(list_, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
    }

    // Every column but the address, the row's key, whose change bit is set.
    void WriteCells(int index, const DeviceRow* row, uint32_t changes)
    {
        for (int column = 0; column < kDeviceColumnCount; ++column) {
            if ((changes & ChangeOfColumn(column)) == 0) {
                continue;
            }
            if (column == kColumnStatus) {
                SetStatusCell(list_, index, row->shown.state);
            } else {
                SetCellText(list_, index, column, DeviceCellText(&row->shown, column));
            }
        }
    }

    HWND list_;
    bool changed_;
};

struct ListTable {
    explicit ListTable(HWND list) : view(list)
    {
        table.SetView(&view);
    }
    ListControlView view;
    DeviceTable table;
};

// The program has one device list; tests make one at a time. A list that
// was destroyed without its table being released gives its slot up.
constexpr int kTableSlots = 4;
struct TableSlot {
    HWND list;
    ListTable* table;
};
TableSlot g_tables[kTableSlots] = {};

void FreeSlot(TableSlot* slot)
{
    delete slot->table;
    slot->table = nullptr;
    slot->list = nullptr;
}

ListTable* FindListTable(HWND list)
{
    for (TableSlot& slot : g_tables) {
        if (slot.table != nullptr && slot.list == list) {
            return slot.table;
        }
    }
    return nullptr;
}

}  // namespace

DeviceTable* TableOfList(HWND list)
{
    if (list == nullptr) {
        return nullptr;
    }
    TableSlot* free = nullptr;
    for (TableSlot& slot : g_tables) {
        if (slot.table != nullptr && slot.list == list) {
            return &slot.table->table;
        }
        if (slot.table != nullptr && !IsWindow(slot.list)) {
            FreeSlot(&slot);
        }
        if (slot.table == nullptr && free == nullptr) {
            free = &slot;
        }
    }
    if (free == nullptr) {
        return nullptr;
    }
    free->table = new (std::nothrow) ListTable(list);
    if (free->table == nullptr) {
        return nullptr;
    }
    free->list = list;
    return &free->table->table;
}

void ReleaseListTable(HWND list)
{
    for (TableSlot& slot : g_tables) {
        if (slot.table != nullptr && slot.list == list) {
            FreeSlot(&slot);
        }
    }
}

bool TakeListChanged(HWND list)
{
    ListTable* table = list != nullptr ? FindListTable(list) : nullptr;
    return table != nullptr && table->view.TakeChanged();
}
