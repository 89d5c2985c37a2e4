// The one place that puts a discovery request on the wire.
#include "net/request_send.h"

#include <winsock2.h>
#include <windows.h>

#include "core/wait.h"
#include "net/discovery_events.h"
#include "net/discovery_request.h"

bool SendDiscoveryRequestTo(InterfaceEntry* entry, uint32_t address)
{
    sockaddr_in destination = {};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(kDiscoveryPort);
    destination.sin_addr.s_addr = address;

    if (!Signalled(entry->socketMutex, INFINITE)) {
        return false;
    }
    int sent = sendto(entry->socket, kDiscoveryRequest, kDiscoveryRequestLength, 0,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
    DWORD error = sent == SOCKET_ERROR ? static_cast<DWORD>(WSAGetLastError()) : 0;
    ReleaseMutex(entry->socketMutex);
    NoteRequestSent(entry->address, address, sent == kDiscoveryRequestLength, error);
    return sent == kDiscoveryRequestLength;
}
