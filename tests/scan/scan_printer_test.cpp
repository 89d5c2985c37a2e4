// What --watch prints for a sequence of answers: one line per change of a
// row, naming every field that changed, the way it answered becoming both
// among them; whether the output holds a row, for the exit status; and a
// pipe whose reader went away, noticed by the probe while nothing is
// printed, from the pipe's state as the platform answers it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/pipe_probe.h"
#include "console/printer.h"
#include "console/write.h"
#include "core/platform.h"
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

DeviceRecord* MakeAnswer(const Answer& answer, const wchar_t* ip = L"10.0.0.5")
{
    DeviceRecord* record = AllocateDeviceRecord();
    CopyText(record->ipText, kIpTextChars, ip);
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

struct ListedCase {
    const char* what;
    bool watch;
    bool readerGone;  // before the first line
    bool cleared;     // as a change of the IPv4 configuration clears the table
    bool listed;
};

const ListedCase kListedCases[] = {
    {"a list with rows", false, false, false, true},
    {"a list whose rows were cleared", false, false, true, false},
    {"a watch whose rows were cleared after their lines", true, false, true, true},
    {"a watch whose reader left before its first line", true, true, false, false},
};

TEST(ScanPrinter, ListedWhenTheOutputHoldsARow)
{
    wchar_t folder[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
    for (const ListedCase& c : kListedCases) {
        SCOPED_TRACE(c.what);
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
        if (c.readerGone) {
            CloseHandle(readEnd);
            readEnd = nullptr;
        }
        ScanOptions options = {};
        lstrcpyW(options.output, folder);
        lstrcatW(options.output, L"ndt-listed.csv");
        {
            DeviceTable table;
            ScanPrinter printer(kScanCsv, c.watch, nullptr, writeEnd);
            PrinterView view(&printer);
            table.SetView(&view);
            printer.MergeAnswer(&table, MakeAnswer({L"02-AC-00-00-00-0A", false, L"hall", 1000}));
            printer.MergeAnswer(&table, MakeAnswer({L"02-AC-00-00-00-0B", true, L"lobby", 1000}, L"10.0.0.6"));
            if (c.cleared) {
                table.Clear();
            }
            if (!c.watch) {
                EXPECT_EQ(printer.PrintList(table, options), static_cast<DWORD>(NO_ERROR));
            }
            EXPECT_EQ(printer.Listed(), c.listed);
            table.SetView(nullptr);
        }
        DeleteFileW(options.output);
        CloseHandle(writeEnd);
        if (readEnd != nullptr) {
            CloseHandle(readEnd);
        }
    }
}

// The pipe-state query as the platform answers; how often it was asked.
ULONG g_pipeState = 0;
DWORD g_pipeQueryStatus = NO_ERROR;
int g_pipeQueries = 0;
DWORD FakePipeState(HANDLE, ULONG* state)
{
    ++g_pipeQueries;
    *state = g_pipeState;
    return g_pipeQueryStatus;
}

struct ProbeCase {
    const char* what;
    bool pipe;       // otherwise a file
    bool available;  // the platform has the query
    DWORD queryStatus;
    ULONG state;
    DWORD expected;
};

const ProbeCase kProbeCases[] = {
    {"connected", true, true, NO_ERROR, kPipeConnectedState, NO_ERROR},
    {"closing", true, true, NO_ERROR, kPipeClosingState, ERROR_NO_DATA},
    {"disconnected", true, true, NO_ERROR, kPipeDisconnectedState, ERROR_PIPE_NOT_CONNECTED},
    {"the query fails", true, true, ERROR_ACCESS_DENIED, kPipeClosingState, NO_ERROR},
    {"no query on this platform", true, false, NO_ERROR, kPipeClosingState, NO_ERROR},
    {"not a pipe", false, true, NO_ERROR, kPipeClosingState, NO_ERROR},
};

TEST(ScanPipeProbe, ReadsThePipesState)
{
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, path), 0u);
    lstrcatW(path, L"ndt-probe.txt");
    for (const ProbeCase& c : kProbeCases) {
        SCOPED_TRACE(c.what);
        HANDLE readEnd = nullptr;
        HANDLE output = nullptr;
        if (c.pipe) {
            ASSERT_TRUE(CreatePipe(&readEnd, &output, nullptr, 0));
        } else {
            output = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
            ASSERT_NE(output, INVALID_HANDLE_VALUE);
        }
        g_platform.queryPipeState = c.available ? FakePipeState : nullptr;
        g_pipeState = c.state;
        g_pipeQueryStatus = c.queryStatus;
        g_pipeQueries = 0;
        EXPECT_EQ(ProbeScanOutput(output), c.expected);
        EXPECT_EQ(g_pipeQueries, c.pipe && c.available ? 1 : 0);
        g_platform = DefaultPlatformServices();
        CloseHandle(output);
        if (readEnd != nullptr) {
            CloseHandle(readEnd);
        }
    }
}

}  // namespace
