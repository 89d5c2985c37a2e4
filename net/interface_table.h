// The interface table: one entry per local IPv4 address, with the socket,
// events and worker threads on which discovery runs for that address.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include <atomic>

#include "net/interface_entry.h"

struct InterfaceTable {
    InterfaceEntry* entries;  // GlobalAlloc'd array of count entries, or null
    uint32_t count;
};

extern InterfaceTable g_interfaceTable;

// Builds the table from the system's address table; the workers are created
// suspended. Returns 1, or 0 after showing an error box and tearing down.
int BuildInterfaceTable();

// Teardown plus build under one hold of the table lock, for the address
// watcher; the error box, if any, is shown after the lock is released.
// Once g_stopEvent is set it changes nothing and returns 0.
int RebuildInterfaceTable();

// Stops and joins every worker, closes every handle and socket, empties the table.
void TeardownInterfaceTable();

void ResumeInterfaceWorkers();
// Asks every interface for a round now; the window empties its list with it.
void TriggerRefresh();
// How many refreshes were asked for: a receive worker that sees it change
// forgets which answers it has posted, for the emptied list needs them all.
extern std::atomic<uint32_t> g_refreshCount;

// One lock around every teardown-plus-build and every read of the table by the
// window thread. Never held while a message box is open.
void LockInterfaceTable();
void UnlockInterfaceTable();

// Compares the table's addresses with the system's current address table;
// true when rows were added, removed or changed since the last build.
bool AddressTableDiffersFromBuild();
