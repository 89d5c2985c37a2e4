// What --watch prints for a sequence of answers: one line per change of a
// row, naming every field that changed, the way it answered becoming both
// among them; and a pipe whose reader went away, noticed by the probe
// while nothing is printed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/printer.h"
#include "console/write.h"
#include "core/text_copy.h"

namespace {

// The table's view as the program's: every change to the printer.
class PrinterView : public DeviceTableView {
public:
    explicit PrinterView(ScanPrinter* printer) : printer_(printer) {}
    bool RowAdded(const DeviceRow* row) override { return printer_->Added(row), true; }
    bool RowChanged(const DeviceRow* row, uint32_t changes) override { return printer_->Changed(row, changes), true; }
    bool RowRemoving(const DeviceRow* row) override { return printer_->Removing(row), true; }

private:
    ScanPrinter* printer_;
};

struct Answer {
    const wchar_t* mac;
    bool mdns;
    const wchar_t* name;
    uint32_t at;
};

struct Case {
    std::vector<Answer> answers;  // all from 10.0.0.5
    std::vector<std::string> lines;  // "event changes" of each line
};

const Case kCases[] = {
    {{{L"02-AC-00-00-00-0A", false, L"hall", 1000}, {L"02-AC-00-00-00-0A", true, L"hall", 1500}},
     {"new ", "changed answered"}},
    {{{L"02-AC-00-00-00-0A", true, L"lobby", 1000}, {L"02-AC-00-00-00-0A", false, L"hall", 1500}},
     {"new ", "changed name description answered"}},
    {{{L"02-AC-00-00-00-0A", false, L"hall", 1000}, {L"02-AC-00-00-00-0A", false, L"hall", 1500}}, {"new "}},
    {{{L"02-AC-00-00-00-0A", false, L"hall", 1000}, {L"02-AC-00-00-00-0B", false, L"left", 1500}},
     {"new ", "new ", "conflict status"}},
};

DeviceRecord* MakeAnswer(const Answer& answer)
{
    DeviceRecord* record = AllocateDeviceRecord();
    CopyText(record->ipText, kIpTextChars, L"10.0.0.5");
    CopyText(record->macText, kMacTextChars, answer.mac);
    CopyText(record->name, kNameChars, answer.name);
    CopyText(record->description, kDescriptionChars, answer.mdns ? L"Orvel mdns" : L"Orvel bcast");
    CopyText(record->portText, kPortTextChars, L"80");
    record->fromMdns = answer.mdns ? 1 : 0;
    record->arpConfirmed = 1;
    record->lastSeen = answer.at;
    return record;
}

// "event changes" of each CSV line: the first field and the one before the time.
std::vector<std::string> EventsOf(const std::string& csv)
{
    std::vector<std::string> events;
    size_t start = 0;
    for (size_t end = csv.find("\r\n"); end != std::string::npos; start = end + 2, end = csv.find("\r\n", start)) {
        std::string line = csv.substr(start, end - start);
        size_t time = line.rfind("\",\"");
        size_t changes = line.rfind("\",\"", time - 1);
        events.push_back(line.substr(1, line.find('"', 1) - 1) + " " +
                         line.substr(changes + 3, time - changes - 3));
    }
    return events;
}

TEST(ScanPrinter, OneLinePerChangeNamingTheFields)
{
    for (const Case& c : kCases) {
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
        {
            DeviceTable table;
            ScanPrinter printer(kScanCsv, true, nullptr, writeEnd);
            PrinterView view(&printer);
            table.SetView(&view);
            for (const Answer& answer : c.answers) {
                printer.MergeAnswer(&table, MakeAnswer(answer));
            }
            table.SetView(nullptr);
            EXPECT_EQ(printer.WriteStatus(), static_cast<DWORD>(NO_ERROR));
        }
        CloseHandle(writeEnd);
        std::string csv;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            csv.append(buffer, got);
        }
        CloseHandle(readEnd);
        EXPECT_EQ(EventsOf(csv), c.lines) << csv;
    }
}

TEST(ScanPrinter, NoticesAPipeWithoutReader)
{
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    ScanPrinter printer(kScanCsv, true, nullptr, writeEnd);
    printer.ProbeOutput();
    EXPECT_EQ(printer.WriteStatus(), static_cast<DWORD>(NO_ERROR));
    CloseHandle(readEnd);
    printer.ProbeOutput();
    EXPECT_TRUE(IsReaderGone(printer.WriteStatus())) << printer.WriteStatus();
    CloseHandle(writeEnd);
}

}  // namespace
