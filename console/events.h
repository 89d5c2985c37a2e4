// --verbose: discovery's events, one whole line each on standard error,
// for a support person following a run.
#pragma once

// Installs the line writer as discovery's event sink; before the workers run.
void StartScanEvents();
// Removes it; after every worker has been joined, so no line is on its way.
void StopScanEvents();
