// The objects of one interface table entry: its socket, events and worker
// threads, created in a fixed order and released in one place.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

// The interface index of an address that no adapter carries.
constexpr uint32_t kNoInterfaceIndex = 0xFFFFFFFFu;

struct InterfaceEntry {
    SOCKET socket;           // UDP, SO_BROADCAST, never bound explicitly
    HANDLE socketMutex;      // serialises send and wait-and-read on socket
    HANDLE transmitTrigger;  // auto-reset: one broadcast request
    HANDLE mdnsTrigger;      // auto-reset: one browse
    HANDLE abortEvent;       // manual-reset: all three workers end
    HANDLE transmitThread;
    HANDLE receiveThread;
    HANDLE mdnsThread;
    uint32_t address;  // all addresses in network byte order
    uint32_t mask;
    uint32_t broadcast;
    uint32_t network;
    uint32_t interfaceIndex;  // the adapter list's, else the address table's
};

// The thread procedures the build starts for every entry; tests may replace
// them before a build (each takes its InterfaceEntry*).
struct InterfaceWorkers {
    unsigned(__stdcall* receive)(void* entry);
    unsigned(__stdcall* transmit)(void* entry);
    unsigned(__stdcall* mdns)(void* entry);
};
extern InterfaceWorkers g_interfaceWorkers;

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
