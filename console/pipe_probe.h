// Noticing, without writing anything, that nobody reads the console's
// output pipe any more while nothing is being printed.
#pragma once

#include <windows.h>

// Asks the pipe behind handle for its state. ERROR_NO_DATA once the reader
// has closed its end, ERROR_PIPE_NOT_CONNECTED for a disconnected pipe;
// NO_ERROR for a live pipe, for anything that is no pipe (a console, a
// file), and where the platform cannot tell (then the next write does).
DWORD ProbeScanOutput(HANDLE handle);
