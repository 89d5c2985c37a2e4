// The end of a device table's rows: expiry of rows no longer heard (a
// conflict such a row leaves ends), marking every row seen, and clearing.
#include "core/device_table.h"

#include "core/text_copy.h"

namespace {

// Signed, so that a row seen after now (marked seen while a tick waited) stays.
bool Stale(const DeviceRow* row, uint32_t now)
{
    return static_cast<int32_t>(now - row->record->lastSeen) > static_cast<int32_t>(kDeviceExpiryMs);
}

}  // namespace

bool DeviceTable::HasStaleRows(uint32_t now) const
{
    for (int index = 0; index < count_; ++index) {
        if (Stale(rows_[index], now)) {
            return true;
        }
    }
    return false;
}

void DeviceTable::Expire(uint32_t now)
{
    int index = 0;
    while (index < count_) {
        const DeviceRow* row = rows_[index];
        if (!Stale(row, now)) {
            ++index;
            continue;
        }
        bool inConflict = row->shown.state == DeviceStateConflict;
        wchar_t ip[kIpTextChars];
        CopyText(ip, kIpTextChars, row->record->ipText);
        if (!Remove(index)) {
            ++index;  // the view keeps it
            continue;
        }
        if (inConflict) {
            Settle(ip);
        }
    }
}

void DeviceTable::MarkAllSeen(uint32_t now)
{
    for (int index = 0; index < count_; ++index) {
        rows_[index]->record->lastSeen = now;
        rows_[index]->shown.lastSeen = now;
    }
}

void DeviceTable::Clear()
{
    // From the last row back, so a row the view keeps moves no other.
    for (int index = count_ - 1; index >= 0; --index) {
        Remove(index);
    }
}
