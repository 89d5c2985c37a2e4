// A device row's state: its own (the one its device's latest answer gave it:
// Normal, LinkLocal or OtherSubnet) and the conflict mark, which every row
// listed under an address carries while another row is listed under it too.
// The stored record's state is what the row shows (Conflict while marked);
// the own state is kept with the row, so that the row can return to it when
// its rivals are gone. Window thread only.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "ui/state_text.h"

struct DeviceRecord;

// Shows row, whose stored record is stored, in its own state, or as a
// conflict when conflict is set, and keeps own with the row.
void ShowRowState(HWND list, int row, DeviceRecord* stored, int32_t own, bool conflict);

// The own state kept with row; for a row that has none kept, its stored
// record's state, unless that is Conflict (then Normal).
int32_t RowOwnState(HWND list, int row);

// The first row after `after` (-1: from the first row) listed under ip, or -1.
int NextRowWithAddress(HWND list, int after, const wchar_t* ip);

// Whether more than one row is listed under ip.
bool AddressShared(HWND list, const wchar_t* ip);

// Marks every row listed under ip as a conflict.
void MarkAddressConflict(HWND list, const wchar_t* ip);

// After a row listed under ip has gone: when one row is left under ip, it
// returns to its own state.
void SettleAddress(HWND list, const wchar_t* ip);
