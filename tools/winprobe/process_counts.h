// How many handles and threads a process holds, for leak checks from outside.
#pragma once

#include <windows.h>

// GetProcessHandleCount, or, where the platform answers 0 (Wine), the
// system-wide handle list filtered by the process id.
bool CountProcessHandles(DWORD processId, DWORD* count);
bool CountProcessThreads(DWORD processId, DWORD* count);
