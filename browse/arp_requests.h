// SendARP for callers that must not block: on Windows it takes about 3 s for
// an address that does not answer, and a browse that waited for it would hold
// up its abort and the program's shutdown. Each request runs on a lookup
// thread of its own, at most kMaxArpLookups at a time; nobody ever waits for
// one, and the caller collects the answer by asking again.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

enum : int { kMaxArpLookups = 8 };

// The hardware address of address by SendARP from source (the address of
// the interface that heard the device, so that SendARP asks on that
// interface), without blocking. True when an answer is there: *status is
// SendARP's result (NO_ERROR with mac filled) or the failure to start a
// lookup. False while a lookup thread is at it, or while every lookup
// thread is busy: ask again shortly. An answer is handed out once; one
// nobody collects gives its place up after half a second.
bool AskArp(uint32_t address, uint32_t source, unsigned char mac[6], DWORD* status);

// Starts the lookup that a later AskArp for address and source collects
// (unless one runs or waits to be collected, or every lookup thread is
// busy), so that SendARP runs while the asker is busy elsewhere. False when
// SendARP is known not to be supported: no lookup would tell.
bool PrefetchArp(uint32_t address, uint32_t source);

// Lookup threads still running (their SendARP not yet returned).
int RunningArpLookups();
