// One run of the console program: discovery with the window program's
// workers, its answers merged by the device table, the rows printed.
#pragma once

#include "console/options.h"
#include "console/status.h"

// Runs discovery as the options say, printing rows to standard output (or
// the --output file) and what went wrong, as one line, to standard error.
// Returns a ScanStatus.
int RunScan(const ScanOptions& options);
