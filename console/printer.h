// What the console makes of the device table's changes: notes whether a row
// was ever listed and, in --watch runs, prints one time-stamped line per
// change. The changes one answer makes to a row are gathered into one line,
// together with the way it answered becoming both (which the table reports
// to no view), so a "changed" line names every field that changed. The
// table's view (DeviceTableView) hands its calls to RowAdded, RowChanged and
// RowRemoving here.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "console/fields.h"
#include "console/options.h"
#include "core/device_table.h"

class ScanPrinter {
public:
    // Lines go to output (standard output in the program).
    ScanPrinter(ScanFormat format, bool printChanges, ScanHeardOn heardOn, HANDLE output);
    ScanPrinter(const ScanPrinter&) = delete;
    ScanPrinter& operator=(const ScanPrinter&) = delete;

    // What the table's view is told; each accepts the change.
    void Added(const DeviceRow* row);
    void Changed(const DeviceRow* row, uint32_t changes);
    void Removing(const DeviceRow* row);

    // Merges answer into table, its changes printed as one line per row.
    void MergeAnswer(DeviceTable* table, DeviceRecord* answer);

    void PrintHeader();
    // In --watch runs, notices a pipe whose reader has gone although
    // nothing is being printed.
    void ProbeOutput();

    bool Listed() const { return listed_; }
    // NO_ERROR, or the status of the first write that failed (nothing is
    // written after it).
    DWORD WriteStatus() const { return writeStatus_; }

private:
    struct Pending {
        const DeviceRow* row;
        uint32_t changes;
        uint32_t ways;  // before the answer
    };
    static constexpr int kMaxPending = kMaxRowsPerAddress;

    void Print(const wchar_t* event, const DeviceRow* row, uint32_t changes);
    void Write(const wchar_t* text, size_t length);
    void Flush(int index);

    ScanFormat format_;
    bool printChanges_;
    ScanHeardOn heardOn_;
    HANDLE output_;
    bool listed_;
    DWORD writeStatus_;
    bool gathering_;
    int pendingCount_;
    Pending pending_[kMaxPending];
};
