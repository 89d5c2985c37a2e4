// Broadcast discovery: receives the answers on one interface, keeps the
// maker's, turns each into a DeviceRecord and posts it to the main window
// once the ARP cross-check has judged it.
#include "net/receive_worker.h"

#include <string.h>

#include "core/device_record.h"
#include "core/globals.h"
#include "core/wait.h"
#include "net/address_class.h"
#include "net/arp_check.h"
#include "net/discovery_reply.h"
#include "net/discovery_request.h"
#include "net/interface_table.h"
#include "net/workers.h"

namespace {

// Sleeps out what is left of the slice that began at start; the abort event
// cuts it short.
void WaitOutSlice(DWORD start, HANDLE abortEvent)
{
    DWORD elapsed = GetTickCount() - start;
    if (elapsed < kReceiveSliceMs) {
        WaitForSingleObject(abortEvent, kReceiveSliceMs - elapsed);
    }
}

// Builds the record for one accepted reply and hands it to the ARP gate,
// which posts it now or after the next read of the ARP table. Parsing comes
// first, into a record on the stack: an answer that is not the maker's costs
// neither an allocation nor an ARP read. A record that cannot be allocated
// is skipped; one that cannot be posted is freed by the post.
void ReportDevice(const InterfaceEntry* entry, const sockaddr_in& sender, const char* bytes,
                  int length, ArpGate* gate)
{
    DeviceRecord parsed;
    memset(&parsed, 0, sizeof(parsed));
    ParseDiscoveryReply(bytes, static_cast<size_t>(length), &parsed);
    if (!IsMakersReply(&parsed)) {
        return;
    }
    uint32_t senderAddress = sender.sin_addr.s_addr;
    FormatDottedQuad(senderAddress, parsed.ipText, kIpTextChars);
    parsed.state = ClassifySender(senderAddress, entry->address, entry->mask, entry->network);
    parsed.lastSeen = GetTickCount();

    DeviceRecord* record = AllocateDeviceRecord();
    if (record == nullptr) {
        return;
    }
    memcpy(record, &parsed, sizeof(parsed));
    SubmitToArpGate(gate, senderAddress, record, GetTickCount());
}

}  // namespace

bool WaitForDatagram(SOCKET socket, HANDLE socketMutex, HANDLE abortEvent)
{
    DWORD start = GetTickCount();
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout = {0, static_cast<long>(kReceiveSliceMs * 1000)};
    if (select(0, &readable, nullptr, nullptr, &timeout) > 0) {
        return true;
    }
    // The rest of the slice is spent without the lock, so a send can go out.
    ReleaseMutex(socketMutex);
    WaitOutSlice(start, abortEvent);
    return false;
}

unsigned __stdcall ReceiveWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    // About 8 KB, most of it the ring of waiting answers: fine on the stack.
    ArpGate gate;
    InitArpGate(&gate, PostDeviceRecord);
    char buffer[kDiscoveryReplyMaxBytes];

    for (;;) {
        if (WaitForSingleObject(entry->abortEvent, 0) == WAIT_OBJECT_0) {
            break;
        }
        // Every pass, so that answers waiting for an ARP read go out even
        // when nothing more arrives; passes are at most one slice apart.
        FlushArpGate(&gate, GetTickCount());
        if (!Signalled(entry->socketMutex, INFINITE)) {
            WaitOutSlice(GetTickCount(), entry->abortEvent);
            continue;
        }
        DWORD sliceStart = GetTickCount();
        if (!WaitForDatagram(entry->socket, entry->socketMutex, entry->abortEvent)) {
            continue;  // the wait has released the lock
        }
        memset(buffer, 0, sizeof(buffer));
        sockaddr_storage from = {};
        int fromLength = sizeof(from);
        int received = recvfrom(entry->socket, buffer, sizeof(buffer), 0,
                                reinterpret_cast<sockaddr*>(&from), &fromLength);
        int readError = received < 0 ? WSAGetLastError() : 0;
        ReleaseMutex(entry->socketMutex);

        // Failed reads and empty datagrams leave no trace. A datagram longer
        // than the buffer is simply lost; any other failure may repeat at
        // once, so it costs the rest of the slice rather than a spin.
        if (received < 0 && readError != WSAEMSGSIZE) {
            WaitOutSlice(sliceStart, entry->abortEvent);
        }
        if (received <= 0) {
            continue;
        }
        if (from.ss_family != AF_INET || fromLength < static_cast<int>(sizeof(sockaddr_in))) {
            continue;
        }
        sockaddr_in sender;
        memcpy(&sender, &from, sizeof(sender));
        // Only this one loopback address is ignored; the rest of 127/8 is not.
        if (sender.sin_addr.s_addr == htonl(INADDR_LOOPBACK)) {
            continue;
        }
        uint32_t filter = g_subnetFilter;
        if (filter != kAllInterfaces && filter != entry->network) {
            continue;
        }
        ReportDevice(entry, sender, buffer, received, &gate);
    }

    // Answers still waiting for an ARP read are dropped with the worker.
    ReleaseArpGate(&gate);
    return 0;
}
