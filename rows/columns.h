// The device list's columns, described once: each one's index, header text,
// share of the list's width, whether copies of rows and the saved list carry
// it, and whether a click on its header orders the list by it. Creating,
// fitting, reading, ordering and exporting the columns all go through here.
#pragma once

#include <windows.h>

enum DeviceColumnIndex : int {
    kColumnIp = 0,
    kColumnName,
    kColumnMac,
    kColumnDescription,
    kColumnArp,
    kColumnPort,    // the latest answer's port: no header, no width
    kColumnStatus,  // the row's state in words, empty for a device in the PC's subnet
    kDeviceColumnCount
};

struct DeviceRecord;

// The text a row whose shown record is shown has in column: "" for the
// Status column (its words come from StateText) and for an index that is no
// column.
const wchar_t* DeviceCellText(const DeviceRecord* shown, int column);

// The header text of column, "" for an index that is no column.
const wchar_t* DeviceColumnHeader(int column);

// Whether copies of rows and the saved list carry the column.
bool IsExportedColumn(int column);

// Whether a header click orders the list by the column.
bool IsOrderedColumn(int column);

// Whether the column is kept out of sight (no header, no width).
bool IsHiddenColumn(int column);

// Widths are shares of the list's width in units of this; one column takes
// whatever the others leave.
constexpr int kColumnShareUnits = 40;
constexpr int kColumnRestOfWidth = -1;

// The column's share of the list's width (0: hidden, kColumnRestOfWidth:
// what the others leave); 0 for an index that is no column.
int DeviceColumnShare(int column);

// Inserts every column into the empty list view, then fits their widths.
void CreateDeviceColumns(HWND list);

// Sets the columns' widths from their shares of the list's client width.
void FitDeviceColumns(HWND list);
