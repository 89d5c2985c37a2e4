// Parts of the broadcast discovery receive worker that tests drive directly.
#pragma once

#include <winsock2.h>
#include <windows.h>

// Length of one socket wait of the receive worker.
constexpr DWORD kReceiveSliceMs = 100;

// Called with socketMutex held. Waits until socket is readable, for at most
// one slice, and returns true with the lock still held when a datagram (or
// a pending socket error) is ready to be read. Otherwise it releases the
// lock and, when the platform's wait failed or returned early (a socket
// with no local port yet may make it fail at once), spends the rest of the
// slice waiting on abortEvent, so that the caller's loop never spins; it
// then returns false.
bool WaitForDatagram(SOCKET socket, HANDLE socketMutex, HANDLE abortEvent);
