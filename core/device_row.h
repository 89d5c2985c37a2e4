// The rules of one device row that the table's merge and its conflicts
// share: its address, its reach per interface over time, and the tie the
// neighbour table makes between answers of two MACs.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/device_table.h"

// A MAC spelt as the list spells it, and its terminator.
constexpr size_t kMacSpellingChars = 18;

bool SameAddress(const DeviceRow* row, const wchar_t* ip);

// Whether at lies within the expiry span either side of now.
bool Current(uint32_t at, uint32_t now);

// Notes that the row was heard with reach state on interface heardOn at at;
// of the interfaces that hear a reach, the one with the lowest address stays.
void NoteReach(DeviceRow* row, int32_t state, uint32_t heardOn, uint32_t at);

// The best reach noted as current at now, never worse than fallback.
int32_t BestCurrentReach(const DeviceRow* row, uint32_t now, int32_t fallback);

// The MAC the record's ARP check found the neighbour table giving instead
// of its own; false when it found none.
bool ArpTableMacText(const DeviceRecord* record, wchar_t text[kMacSpellingChars]);

// Whether the neighbour table ties answer, of another MAC, to the row's device.
bool TiedByTable(const DeviceRow* row, const DeviceRecord* answer);
