// Broadcast discovery: sends the request on one interface, once per trigger
// or, with auto-refresh on, about every half second.
#include <winsock2.h>
#include <windows.h>

#include "core/globals.h"
#include "core/wait.h"
#include "net/discovery_request.h"
#include "net/interface_table.h"
#include "net/workers.h"

namespace {

constexpr DWORD kTriggerWaitMs = 500;
// A request the system refused (say, while its neighbour table was full) is
// tried again this often; with auto-refresh off nothing else would resend it.
constexpr DWORD kSendRetryDelayMs = 250;
constexpr int kSendRetries = 3;

// True when the whole request went out.
bool SendDiscoveryRequest(InterfaceEntry* entry)
{
    sockaddr_in destination = {};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(kDiscoveryPort);
    destination.sin_addr.s_addr = entry->broadcast;

    if (!Signalled(entry->socketMutex, INFINITE)) {
        return false;
    }
    int sent = sendto(entry->socket, kDiscoveryRequest, kDiscoveryRequestLength, 0,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
    ReleaseMutex(entry->socketMutex);
    return sent == kDiscoveryRequestLength;
}

// Sends one request, retrying a failed send; false when the abort event
// was set meanwhile.
bool SendWithRetries(InterfaceEntry* entry)
{
    for (int retry = 0; !SendDiscoveryRequest(entry) && retry < kSendRetries; ++retry) {
        if (WaitForSingleObject(entry->abortEvent, kSendRetryDelayMs) == WAIT_OBJECT_0) {
            return false;
        }
    }
    return true;
}

}  // namespace

unsigned __stdcall TransmitWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    for (;;) {
        if (WaitForSingleObject(entry->abortEvent, 0) == WAIT_OBJECT_0) {
            break;
        }
        // The abort event ends the wait too, so that shutdown and a rebuild
        // need not sit out the half second.
        HANDLE events[2] = {entry->abortEvent, entry->transmitTrigger};
        DWORD wait = WaitForMultipleObjects(2, events, FALSE, kTriggerWaitMs);
        if (wait == WAIT_OBJECT_0) {
            break;
        }
        if (wait == WAIT_FAILED) {
            // Never expected; keeps the loop from spinning if it happens.
            if (WaitForSingleObject(entry->abortEvent, kTriggerWaitMs) == WAIT_OBJECT_0) {
                break;
            }
        }
        bool triggered = wait == WAIT_OBJECT_0 + 1;
        // Auto-refresh sends after a time-out too; otherwise only on a trigger.
        if (g_autoRefresh == 0 && !triggered) {
            continue;
        }
        uint32_t filter = g_subnetFilter;
        if (filter != kAllInterfaces && filter != entry->network) {
            continue;
        }
        if (!SendWithRetries(entry)) {
            break;
        }
    }
    return 0;
}
