// The listing at the end of a console run, and the line on stderr for an
// output that could not be written.
#pragma once

#include <windows.h>

#include "console/options.h"
#include "core/device_table.h"

// Prints the table's rows as the options say (standard output in their
// format, or the --output file as the window saves it). Returns the write's
// Win32 status; a failure is told on stderr. rowsPrinted: how many rows the
// written list holds (0 when the write failed).
DWORD PrintScanList(const DeviceTable& table, const ScanOptions& options, int* rowsPrinted);

// Proves, before the listening time, that the --output file can be
// written as PrintScanList will: an existing file is opened for writing and
// left as it is; a new one is created and removed again, so that a run that
// fails later leaves no empty file behind. NO_ERROR, or why not.
DWORD CheckScanOutputFile(const wchar_t* path);

// One line on stderr: the list could not be written to target, and why.
void ReportScanWriteFailure(DWORD status, const wchar_t* target);
