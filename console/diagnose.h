// --diagnose: the report of what a listening run tried and heard, and the
// likely causes of missing devices, in place of the list.
#pragma once

#include <windows.h>

#include "console/options.h"
#include "diagnosis/report.h"

// Reads the facts while the interface table still stands: before discovery
// is taken down.
void GatherScanFacts(int rowsListed, diagnosis::Facts* facts);

// Names the causes the facts show and writes the report to output, as text
// (table) or as one JSON object (json). The write's Win32 status; a failure
// is told on stderr.
DWORD PrintScanDiagnosis(const diagnosis::Facts& facts, ScanFormat format, HANDLE output);
