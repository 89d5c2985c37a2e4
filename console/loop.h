// The console program's wait for answers: its deadline, Ctrl+C, and the
// loop that hands the answers to the table until one of them ends the run.
#pragma once

#include <windows.h>

#include "console/printer.h"

typedef DWORD (*ScanClock)();

struct ScanDeadline {
    ScanClock clock;
    DWORD start;
    DWORD limitMs;  // 0: none
};

// One look at the clock: false when the time is up; otherwise the wait that
// is left goes to waitMs (INFINITE without a limit).
bool ScanTimeLeft(const ScanDeadline& deadline, DWORD* waitMs);

// Creates the events of Ctrl+C and installs its handler. False when the
// events cannot be had.
bool InstallScanQuitHandler();
// Lets a console close, held by the handler, go on once the run is down.
void ScanFinished();

enum ScanLoopEnd {
    kScanLoopTimeUp,
    kScanLoopQuit,        // Ctrl+C or the console's close
    kScanLoopOutputLost,  // a write failed, or the pipe's reader went away
};

// Dispatches this thread's messages until the time is up (limitMs, 0: none),
// Ctrl+C, or the view's output fails; probes the output pipe now and then.
ScanLoopEnd RunScanLoop(DWORD limitMs, ScanPrinter* view);
