// The objects of one interface table entry: its socket, events and worker
// threads, created in a fixed order and released in one place.
#pragma once

#include "net/interface_table.h"

// Gives every handle and the socket its empty value, and the entry no
// address and no interface index.
void InitialiseInterfaceEntry(InterfaceEntry* entry);

// Creates the entry's objects, the workers suspended; returns the failure
// message, or null on success. What was created before a failure stays in
// the entry for ReleaseInterfaceEntry.
const wchar_t* CreateInterfaceEntryObjects(InterfaceEntry* entry);

// Tells the entry's workers to end: sets the abort event and resumes the
// workers, so that one never resumed sees it too.
void StopInterfaceEntry(InterfaceEntry* entry);

// Waits for the entry's workers, then closes every handle and the socket.
void ReleaseInterfaceEntry(InterfaceEntry* entry);
