// Thread start and join of the application threads, and discovery's
// shutdown order. Window-free: the console program uses it too.
#include "discovery/lifetime.h"

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <process.h>

#include "querier/client.h"
#include "net/interface_table.h"

HANDLE StartAppThread(unsigned(__stdcall* procedure)(void*))
{
    uintptr_t thread = _beginthreadex(nullptr, 0, procedure, nullptr, 0, nullptr);
    return reinterpret_cast<HANDLE>(thread);
}

void JoinAppThread(HANDLE thread)
{
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

void StopDiscovery(HANDLE watcher, HANDLE ticker, HRESULT com)
{
    TeardownInterfaceTable();
    MdnsClientCloseIdleSession();  // its browses have ended: no need to linger
    JoinAppThread(ticker);
    JoinAppThread(watcher);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    WSACleanup();
}
