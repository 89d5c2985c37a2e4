// Printing the changes of the device table in --watch runs, or the list
// at the end of a run without it.
#include "console/printer.h"

#include "console/list.h"
#include "console/output.h"
#include "console/pipe_probe.h"
#include "console/watch_time.h"
#include "console/write.h"

namespace {

// The index of the first row under ip, or -1: rows are in address order.
int FirstRowOf(const DeviceTable& table, const wchar_t* ip)
{
    int low = 0;
    for (int high = table.Count(); low < high;) {
        int middle = low + (high - low) / 2;
        if (CompareAddressTexts(table.RowAt(middle)->record->ipText, ip) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    const DeviceRow* row = table.RowAt(low);
    return row != nullptr && CompareAddressTexts(row->record->ipText, ip) == 0 ? low : -1;
}

}  // namespace

ScanPrinter::ScanPrinter(ScanFormat format, bool printChanges, ScanHeardOn heardOn, HANDLE output)
    : format_(format), printChanges_(printChanges), heardOn_(heardOn), output_(output), listed_(false),
      writeStatus_(NO_ERROR), gathering_(false), pendingCount_(0), pending_()
{
}

void ScanPrinter::Added(const DeviceRow* row)
{
    if (Print(L"new", row, 0)) {
        listed_ = true;
    }
}

void ScanPrinter::Changed(const DeviceRow* row, uint32_t changes)
{
    // The port is not among the printed fields.
    changes &= ~static_cast<uint32_t>(kRowChangedPort);
    if (changes == 0) {
        return;
    }
    for (int i = 0; gathering_ && i < pendingCount_; ++i) {
        if (pending_[i].row == row) {
            pending_[i].changes |= changes;
            return;
        }
    }
    Print(row->shown.state == DeviceStateConflict && (changes & kRowChangedState) != 0 ? L"conflict" : L"changed",
          row, changes);
}

void ScanPrinter::Removing(const DeviceRow* row)
{
    for (int i = 0; i < pendingCount_; ++i) {
        if (pending_[i].row == row) {
            Flush(i);
            pending_[i].row = nullptr;
        }
    }
    Print(L"gone", row, 0);
}

void ScanPrinter::MergeAnswer(DeviceTable* table, DeviceRecord* answer)
{
    // The rows under the answer's address, as they were: those it changes.
    pendingCount_ = 0;
    for (int i = FirstRowOf(*table, answer->ipText); i >= 0 && pendingCount_ < kMaxPending; ++i) {
        const DeviceRow* row = table->RowAt(i);
        if (row == nullptr || CompareAddressTexts(row->record->ipText, answer->ipText) != 0) {
            break;
        }
        pending_[pendingCount_++] = {row, 0, row->ways};
    }
    gathering_ = true;
    table->Merge(answer);  // answer is the table's now
    gathering_ = false;
    for (int i = 0; i < pendingCount_; ++i) {
        const DeviceRow* row = pending_[i].row;
        if (row != nullptr && table->RowOfRecord(row->record) == row && row->ways != pending_[i].ways) {
            pending_[i].changes |= kScanChangedWays;
        }
        Flush(i);
    }
    pendingCount_ = 0;
}

void ScanPrinter::Flush(int index)
{
    const Pending& entry = pending_[index];
    if (entry.row == nullptr || entry.changes == 0) {
        return;
    }
    bool conflict = (entry.changes & kRowChangedState) != 0 && entry.row->shown.state == DeviceStateConflict;
    Print(conflict ? L"conflict" : L"changed", entry.row, entry.changes);
    pending_[index].changes = 0;
}

void ScanPrinter::PrintHeader()
{
    TextBuffer text;
    InitTextBuffer(&text);
    FormatScanEventHeader(&text, format_);
    Write(text.text, text.failed ? 0 : text.length);
    FreeTextBuffer(&text);
}

DWORD ScanPrinter::PrintList(const DeviceTable& table, const ScanOptions& options)
{
    int rows = 0;
    DWORD status = PrintScanList(table, options, &rows);
    listed_ = rows > 0;
    return status;
}

void ScanPrinter::ProbeOutput()
{
    if (printChanges_ && writeStatus_ == NO_ERROR) {
        writeStatus_ = ProbeScanOutput(output_);
    }
}

bool ScanPrinter::Print(const wchar_t* event, const DeviceRow* row, uint32_t changes)
{
    if (!printChanges_) {
        return false;
    }
    wchar_t time[kScanTimeChars];
    ScanTimeNow(time);
    TextBuffer text;
    InitTextBuffer(&text);
    FormatScanEvent(&text, ScanEvent{event, row, changes, time}, format_, heardOn_);
    bool written = Write(text.text, text.failed ? 0 : text.length);
    FreeTextBuffer(&text);
    return written;
}

bool ScanPrinter::Write(const wchar_t* text, size_t length)
{
    if (writeStatus_ != NO_ERROR || length == 0) {
        return false;
    }
    writeStatus_ = WriteScanText(output_, text, length);
    return writeStatus_ == NO_ERROR;
}
