// The application threads' start and join and the order in which discovery
// is taken down, shared by the window program and the console program.
#pragma once

#include <windows.h>

// Starts a thread of the runtime library; null when it cannot be started.
HANDLE StartAppThread(unsigned(__stdcall* procedure)(void*));

// Waits for a thread StartAppThread started and closes it; null is no thread.
void JoinAppThread(HANDLE thread);

// Ends discovery and the threads and services start-up began, in order:
// the interface table (its workers joined), our DNS client's idle session,
// the ticker and the watcher, then COM (when com succeeded) and Winsock.
// g_stopEvent must be set first.
void StopDiscovery(HANDLE watcher, HANDLE ticker, HRESULT com);
