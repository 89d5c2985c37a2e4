// The console program's exit status, decided from how its run went.
#pragma once

#include <windows.h>

enum ScanStatus {
    kScanListed = 0,     // what was printed lists at least one device
    kScanNoneListed = 1,
    kScanCannotRun = 2,  // also the status of a usage error
    kScanWriteFailed = 3,  // the list or a change could not be written
    kScanInterrupted = 4,  // Ctrl+C before a listing's time was up
};

struct ScanOutcome {
    bool watch;
    bool listed;       // what was printed holds a row (ScanPrinter::Listed)
    bool interrupted;  // Ctrl+C (or the console's close) ended the run
    bool timeUp;       // the listening time ran out
    DWORD writeStatus; // the first failed write's Win32 status, or NO_ERROR
};

// A failed write wins, except that a --watch run whose reader went away has
// simply ended; a listing cut short by Ctrl+C is not a complete list.
int ScanExitStatus(const ScanOutcome& outcome);
