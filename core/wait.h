// One reading of a wait's result for every wait on an event or a mutex.
#pragma once

#include <windows.h>

// True when the result means the object was signalled; for a mutex, that it
// is now held (also when its last owner ended without releasing it).
inline bool IsSignalled(DWORD waitResult)
{
    return waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED;
}

// Waits up to timeoutMs (0: a poll) for the handle; true when signalled.
inline bool Signalled(HANDLE handle, DWORD timeoutMs = 0)
{
    return IsSignalled(WaitForSingleObject(handle, timeoutMs));
}
