// The device table's conflicts: claims on an address, marking every row
// under it red, a row left alone taking back its own state, and a device
// listed twice under one address by its two MACs.
#include "core/device_table.h"

#include "core/device_row.h"
#include "core/mac_text.h"

// Every row under ip is claimed by a device at at, and red.
void DeviceTable::Claim(const wchar_t* ip, uint32_t at)
{
    for (int index = FirstIndexOf(ip); index >= 0 && index < count_ && SameAddress(rows_[index], ip); ++index) {
        rows_[index]->claimedAt = at;
        rows_[index]->hasClaim = true;
    }
    MarkConflict(ip);
}

void DeviceTable::MarkConflict(const wchar_t* ip)
{
    int index = FirstIndexOf(ip);
    while (index >= 0 && index < count_ && SameAddress(rows_[index], ip)) {
        uint32_t changes = 0;
        ShowState(index, rows_[index]->ownState, true, &changes);
        if (changes != 0 && !Tell(index, changes)) {
            index = FirstIndexOf(ip);  // a row went: the rest are found again
            continue;
        }
        ++index;
    }
}

void DeviceTable::Settle(const wchar_t* ip)
{
    int only = FirstIndexOf(ip);
    if (only < 0 || RowsUnder(only, ip) != 1 || rows_[only]->shown.state != DeviceStateConflict) {
        return;  // none left, still shared, or not marked
    }
    uint32_t changes = 0;
    ShowState(only, rows_[only]->ownState, false, &changes);
    Tell(only, changes);
}

// A device listed twice under ip: by the MAC the table gives its address
// (its multicast DNS answer came first) and by its own broadcast MAC, once
// its broadcast answer's ARP check found the table giving the other (its
// first broadcast answers may come before the table knew it). The row of the
// table's MAC goes; the device's own stays, and settles when left alone.
void DeviceTable::DropTwins(const wchar_t* ip)
{
    int first = FirstIndexOf(ip);
    int end = first + RowsUnder(first, ip);
    for (int own = first; own >= 0 && own < end; ++own) {
        wchar_t tableMac[kMacSpellingChars];
        if (rows_[own]->macFromMdns || !ArpTableMacText(&rows_[own]->shown, tableMac)) {
            continue;
        }
        for (int twin = first; twin < end; ++twin) {
            if (twin != own && rows_[twin]->macFromMdns && SameMacText(rows_[twin]->shown.macText, tableMac) &&
                Remove(twin)) {
                Settle(ip);
                return;
            }
        }
    }
}
