// What the console makes of the device table's changes: in --watch runs,
// one time-stamped line per change; otherwise the list at the end. Either
// way it notes whether what it printed holds a row. The changes one answer makes to a row are gathered into one line,
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
    // The list at the end of a run without --watch (PrintScanList); the
    // write's Win32 status.
    DWORD PrintList(const DeviceTable& table, const ScanOptions& options);
    // In --watch runs, notices a pipe whose reader has gone although
    // nothing is being printed.
    void ProbeOutput();

    // Whether the output holds a row: a "new" line written in --watch runs,
    // a row in the list at the end otherwise (rows listed and then cleared
    // by a change of the IPv4 configuration are in neither).
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

    // Whether the line was written.
    bool Print(const wchar_t* event, const DeviceRow* row, uint32_t changes);
    bool Write(const wchar_t* text, size_t length);
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
