// Entry point of the console program NetworkDiscoveryScan: the arguments,
// then one run.
#include <windows.h>

#include "console/options.h"
#include "console/run.h"
#include "console/write.h"

int wmain(int argc, wchar_t** argv)
{
    ScanOptions options;
    wchar_t message[256];
    switch (ParseScanOptions(argc, argv, &options, message, 256)) {
    case kScanHelp:
        WriteScanText(GetStdHandle(STD_OUTPUT_HANDLE), kScanUsage, lstrlenW(kScanUsage));
        return 0;
    case kScanVersion:
        WriteScanText(GetStdHandle(STD_OUTPUT_HANDLE), kScanVersionLine, lstrlenW(kScanVersionLine));
        return 0;
    case kScanUsageError:
        ScanError(message);
        WriteScanText(GetStdHandle(STD_ERROR_HANDLE), kScanUsage, lstrlenW(kScanUsage));
        return kScanCannotRun;
    case kScanRun:
        break;
    }
    return RunScan(options);
}
