// The texts of one device row as the console prints them: the window's
// exported columns with its header texts and Status words, then the way the
// device answered, its page address (what a double-click opens) and the
// address of this computer's interface that heard it, and a multicast DNS
// device's instance name. Each text is bounded
// and zero-terminated; JSON keys are stable whatever the header texts.
#pragma once

#include <stdint.h>

#include "core/device_table.h"
#include "rows/columns.h"

constexpr int kFieldChars = 256;

// Fields beyond the window's columns (whose kinds are their column indexes).
enum ScanExtraField : int {
    kFieldAnswered = -1,
    kFieldPage = -2,
    kFieldHeardOn = -3,
    kFieldInstance = -4,
};
constexpr int kMaxFields = kDeviceColumnCount + 4;

struct RowFields {
    int count;
    int kind[kMaxFields];  // a column index or a ScanExtraField
    wchar_t text[kMaxFields][kFieldChars];
};

// Writes the address of the interface that heard the row's device ("" when
// unknown) into text (chars units); asked only when the row's record does
// not say.
typedef void (*ScanHeardOn)(const DeviceRow* row, wchar_t* text, int chars);

// The fields of row, or their headers when row is null: the exported
// columns and the way it answered, and with extended (CSV, JSON) its page,
// the interface that heard it and its instance name too. heardOn may be null.
void GatherFields(const DeviceRow* row, bool extended, ScanHeardOn heardOn, RowFields* fields);

// The JSON key of a field kind.
const wchar_t* FieldKey(int kind);

// For a person or a CSV line: control characters (a device may put line
// breaks in its name) become spaces, so every row stays one line.
void FlattenField(wchar_t* field);

// The changed parts (RowChange bits and kScanChangedWays) as JSON keys in
// field order, separated by spaces: "name description answered".
constexpr uint32_t kScanChangedWays = 1u << 16;
void ChangedKeys(uint32_t changes, wchar_t* text, int chars);
