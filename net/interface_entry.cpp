// Creation and release of the objects of one interface table entry.
#include "net/interface_entry.h"

#include <mswsock.h>
#include <process.h>

#include "core/globals.h"
#include "core/platform.h"

namespace {

void CloseHandleSlot(HANDLE* slot)
{
    if (*slot != INVALID_HANDLE_VALUE) {
        CloseHandle(*slot);
        *slot = INVALID_HANDLE_VALUE;
    }
}

// A worker that was never resumed is resumed before it is waited for, so
// that it sees its abort event and the wait returns.
void ResumeWorkerSlot(HANDLE slot)
{
    if (slot != INVALID_HANDLE_VALUE) {
        ResumeThread(slot);
    }
}

// Waits for a worker and closes its handle.
void JoinWorkerSlot(HANDLE* slot)
{
    if (*slot != INVALID_HANDLE_VALUE) {
        WaitForSingleObject(*slot, INFINITE);
        CloseHandleSlot(slot);
    }
}

// Null-checked handle creation: the slot keeps its empty value on failure.
bool StoreHandle(HANDLE* slot, HANDLE handle)
{
    if (handle == nullptr) {
        return false;
    }
    *slot = handle;
    return true;
}

bool StartWorker(HANDLE* slot, unsigned(__stdcall* procedure)(void*), InterfaceEntry* entry)
{
    uintptr_t thread = _beginthreadex(nullptr, 0, procedure, entry, CREATE_SUSPENDED, nullptr);
    return StoreHandle(slot, reinterpret_cast<HANDLE>(thread));
}

// On Windows a UDP socket that sent to a closed port fails its next read
// with WSAECONNRESET (the ICMP port-unreachable), and the direct requests to
// quiet devices go from this socket. The report is switched off; where that
// fails discovery goes on, since the receive worker reads past the error.
void StopClosedPortReports(SOCKET socket)
{
    BOOL report = FALSE;
    DWORD returned = 0;
    g_platform.wsaIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned,
                        nullptr, nullptr);
}

const wchar_t* CreateEntryEvents(InterfaceEntry* entry)
{
    // Both triggers start signalled without auto-refresh: one pass at once.
    BOOL initialPass = g_autoRefresh == 0 ? TRUE : FALSE;
    if (!StoreHandle(&entry->socketMutex, CreateMutexW(nullptr, FALSE, nullptr))) {
        return L"Unable to allocate socket mutex";
    }
    if (!StoreHandle(&entry->abortEvent, CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
        return L"Unable to allocate abort event";
    }
    if (!StoreHandle(&entry->transmitTrigger, CreateEventW(nullptr, FALSE, initialPass, nullptr))) {
        return L"Unable to allocate socket event";
    }
    if (!StoreHandle(&entry->mdnsTrigger, CreateEventW(nullptr, FALSE, initialPass, nullptr))) {
        return L"Unable to allocate mDNS event";
    }
    return nullptr;
}

}  // namespace

void InitialiseInterfaceEntry(InterfaceEntry* entry)
{
    entry->socket = INVALID_SOCKET;
    entry->socketMutex = INVALID_HANDLE_VALUE;
    entry->transmitTrigger = INVALID_HANDLE_VALUE;
    entry->mdnsTrigger = INVALID_HANDLE_VALUE;
    entry->abortEvent = INVALID_HANDLE_VALUE;
    entry->transmitThread = INVALID_HANDLE_VALUE;
    entry->receiveThread = INVALID_HANDLE_VALUE;
    entry->mdnsThread = INVALID_HANDLE_VALUE;
    entry->address = 0;
    entry->mask = 0;
    entry->broadcast = 0;
    entry->network = 0;
    entry->interfaceIndex = kNoInterfaceIndex;
}

const wchar_t* CreateInterfaceEntryObjects(InterfaceEntry* entry)
{
    const wchar_t* failure = CreateEntryEvents(entry);
    if (failure != nullptr) {
        return failure;
    }
    entry->socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (entry->socket == INVALID_SOCKET) {
        return L"Unable to create socket";
    }
    int broadcast = 1;
    if (setsockopt(entry->socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast),
                   sizeof(broadcast)) == SOCKET_ERROR) {
        return L"Unable to set SO_BROADCAST";
    }
    StopClosedPortReports(entry->socket);
    if (!StartWorker(&entry->receiveThread, g_interfaceWorkers.receive, entry)) {
        return L"Unable to create receive thread";
    }
    if (!StartWorker(&entry->transmitThread, g_interfaceWorkers.transmit, entry)) {
        return L"Unable to create transmit thread";
    }
    if (!StartWorker(&entry->mdnsThread, g_interfaceWorkers.mdns, entry)) {
        return L"Unable to create mDNS thread";
    }
    return nullptr;
}

void StopInterfaceEntry(InterfaceEntry* entry)
{
    if (entry->abortEvent != INVALID_HANDLE_VALUE) {
        SetEvent(entry->abortEvent);
    }
    ResumeWorkerSlot(entry->transmitThread);
    ResumeWorkerSlot(entry->receiveThread);
    ResumeWorkerSlot(entry->mdnsThread);
}

void ReleaseInterfaceEntry(InterfaceEntry* entry)
{
    JoinWorkerSlot(&entry->transmitThread);
    JoinWorkerSlot(&entry->receiveThread);
    JoinWorkerSlot(&entry->mdnsThread);
    CloseHandleSlot(&entry->mdnsTrigger);
    CloseHandleSlot(&entry->transmitTrigger);
    CloseHandleSlot(&entry->abortEvent);
    CloseHandleSlot(&entry->socketMutex);
    if (entry->socket != INVALID_SOCKET) {
        closesocket(entry->socket);
        entry->socket = INVALID_SOCKET;
    }
}
