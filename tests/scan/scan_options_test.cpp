// The console program's command lines, valid and invalid, and what each
// parses to: one row per command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/options.h"
#include "core/globals.h"

namespace {

constexpr uint32_t kNet77 = 0x004DA8C0u;  // 192.168.77.0 in network byte order

struct Case {
    std::vector<const wchar_t*> args;
    ScanParse result;
    // Checked only for kScanRun.
    uint32_t seconds = 0;
    ScanFormat format = kScanTable;
    uint32_t subnet = kAllInterfaces;
    uint32_t ways = kScanBothWays;
    bool watch = false;
    int prefix = kScanAnyPrefix;
    const wchar_t* output = L"";
    bool diagnose = false;
    bool verbose = false;
};

const Case kCases[] = {
    {{}, kScanRun, 3, kScanTable, kAllInterfaces, kScanBothWays, false},
    {{L"--seconds", L"1"}, kScanRun, 1, kScanTable, kAllInterfaces, kScanBothWays, false},
    {{L"--seconds=3600", L"--format", L"csv"}, kScanRun, 3600, kScanCsv, kAllInterfaces, kScanBothWays, false},
    {{L"--format=json", L"--mdns-only"}, kScanRun, 3, kScanJson, kAllInterfaces, kScanMdns, false},
    {{L"--subnet", L"192.168.77.0", L"--broadcast-only"}, kScanRun, 3, kScanTable, kNet77, kScanBroadcast, false},
    {{L"--watch"}, kScanRun, 0, kScanTable, kAllInterfaces, kScanBothWays, true},
    {{L"--watch", L"--seconds", L"10"}, kScanRun, 10, kScanTable, kAllInterfaces, kScanBothWays, true},
    {{L"--format", L"CSV"}, kScanRun, 3, kScanCsv},
    {{L"--format=Json"}, kScanRun, 3, kScanJson},
    {{L"--subnet", L"192.168.77.0/24"}, kScanRun, 3, kScanTable, kNet77, kScanBothWays, false, 24},
    {{L"--subnet=192.168.77.9/0"}, kScanRun, 3, kScanTable, 0x094DA8C0u, kScanBothWays, false, 0},
    {{L"--output", L"C:\\out\\devices.csv", L"--seconds", L"5"}, kScanRun, 5, kScanTable, kAllInterfaces,
     kScanBothWays, false, kScanAnyPrefix, L"C:\\out\\devices.csv"},
    {{L"--format", L"csv", L"-h"}, kScanHelp},
    {{L"--seconds", L"0", L"--version"}, kScanVersion},
    {{L"/?"}, kScanHelp},
    {{L"--seconds", L"0"}, kScanUsageError},
    {{L"--seconds", L"3601"}, kScanUsageError},
    {{L"--seconds", L"99999999999999999999"}, kScanUsageError},
    {{L"--seconds", L"-5"}, kScanUsageError},
    {{L"--seconds", L"2s"}, kScanUsageError},
    {{L"--seconds="}, kScanUsageError},
    {{L"--seconds"}, kScanUsageError},
    {{L"--seconds", L"2", L"--seconds", L"3"}, kScanUsageError},
    {{L"--format", L"xml"}, kScanUsageError},
    {{L"--format", L"cvs"}, kScanUsageError},
    {{L"--subnet", L"192.168.77.0/33"}, kScanUsageError},
    {{L"--subnet", L"192.168.77.0/"}, kScanUsageError},
    {{L"--subnet", L"192.168.77.0/2/4"}, kScanUsageError},
    {{L"--output", L""}, kScanUsageError},
    {{L"--format", L"json", L"--output", L"x.csv"}, kScanUsageError},
    {{L"--output", L"x.csv", L"--watch"}, kScanUsageError},
    {{L"--subnet", L"192.168.77"}, kScanUsageError},
    {{L"--subnet", L"192.168.77.256"}, kScanUsageError},
    {{L"--subnet", L"192.168.77.0.1"}, kScanUsageError},
    {{L"--subnet", L"0x7f.0.0.1"}, kScanUsageError},
    {{L"--subnet", L"192.168.077.1"}, kScanUsageError},
    {{L"--subnet", L"255.255.255.255"}, kScanUsageError},
    {{L"--broadcast-only", L"--mdns-only"}, kScanUsageError},
    {{L"--watch", L"--watch"}, kScanUsageError},
    {{L"--watch=1"}, kScanUsageError},
    {{L"--verbose"}, kScanRun, 3, kScanTable, kAllInterfaces, kScanBothWays, false, kScanAnyPrefix, L"", false,
     true},
    {{L"--diagnose", L"--format", L"json", L"--verbose"}, kScanRun, 3, kScanJson, kAllInterfaces, kScanBothWays,
     false, kScanAnyPrefix, L"", true, true},
    {{L"--diagnose", L"--watch"}, kScanUsageError},
    {{L"--output", L"x.csv", L"--diagnose"}, kScanUsageError},
    {{L"--diagnose", L"--format", L"csv"}, kScanUsageError},
    {{L"--format=CSV", L"--diagnose"}, kScanUsageError},
    {{L"table"}, kScanUsageError},
};

TEST(ScanOptions, EachCommandLine)
{
    for (const Case& c : kCases) {
        std::vector<const wchar_t*> argv = {L"NetworkDiscoveryScan"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::wstring line;
        for (const wchar_t* arg : c.args) {
            line += std::wstring(arg) + L" ";
        }
        SCOPED_TRACE(testing::Message() << "arguments: " << std::string(line.begin(), line.end()));

        ScanOptions options;
        wchar_t message[256];
        ScanParse result = ParseScanOptions(static_cast<int>(argv.size()), argv.data(), &options, message, 256);
        ASSERT_EQ(result, c.result);
        if (result == kScanUsageError) {
            // The line on stderr names what was wrong.
            EXPECT_NE(wcsstr(message, c.args.back()), nullptr) << "the message does not name the argument";
        }
        if (result != kScanRun) {
            continue;
        }
        EXPECT_EQ(options.seconds, c.seconds);
        EXPECT_EQ(options.format, c.format);
        EXPECT_EQ(options.subnet, c.subnet);
        EXPECT_EQ(options.ways, c.ways);
        EXPECT_EQ(options.watch, c.watch);
        EXPECT_EQ(options.subnetPrefix, c.prefix);
        EXPECT_EQ(std::wstring(options.output), std::wstring(c.output));
        EXPECT_EQ(options.diagnose, c.diagnose);
        EXPECT_EQ(options.verbose, c.verbose);
    }
}

}  // namespace
