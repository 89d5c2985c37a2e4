// Broadcast discovery: receives the answers on one interface, keeps the
// maker's, turns each into a DeviceRecord and posts it to the main window
// once the ARP cross-check has judged it; an answer that repeats the one
// posted for the request before is not posted again (see recent_senders.h).
// With auto-refresh on, it also asks a device that has gone quiet directly
// before its row expires (see confirm_schedule.h): this worker knows when
// each sender's answer was last posted, and the answer comes back here.
//
// The worker sleeps on the socket's readable event and the abort event
// together, so an idle interface costs a wake-up a second instead of ten
// polls (under Wine each poll, lock and wait is a round trip to the server).
// Where the platform refuses the event, it polls in slices as before.
#include "net/receive_worker.h"

#include <string.h>

#include "core/device_record.h"
#include "core/globals.h"
#include "core/platform.h"
#include "core/wait.h"
#include "net/address_class.h"
#include "net/answer_hold.h"
#include "net/arp_check.h"
#include "net/discovery_events.h"
#include "net/discovery_reply.h"
#include "net/direct_request_limit.h"
#include "net/discovery_request.h"
#include "net/interface_table.h"
#include "net/recent_senders.h"
#include "net/request_send.h"
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
// which posts it now or after the next read of the ARP table unless it
// repeats the answer posted before (see answer_hold.h). Parsing comes first,
// into a record on the stack: an answer that is not the maker's costs
// neither an allocation nor an ARP read.
void ReportDevice(const InterfaceEntry* entry, const sockaddr_in& sender, const char* bytes,
                  int length, ArpGate* gate, AnswerHold* hold)
{
    DeviceRecord parsed;
    memset(&parsed, 0, sizeof(parsed));
    ParseDiscoveryReply(bytes, static_cast<size_t>(length), &parsed);
    uint32_t senderAddress = sender.sin_addr.s_addr;
    if (!IsMakersReply(&parsed)) {
        NoteAnswerFate(entry->address, senderAddress,
                       IsWellFormedReply(&parsed) ? diag::kAnswersNotMaker : diag::kAnswersMalformed);
        return;
    }
    FormatDottedQuad(senderAddress, parsed.ipText, kIpTextChars);
    parsed.state = ClassifySender(senderAddress, entry->address, entry->mask, entry->network);
    parsed.heardOn = entry->address;
    parsed.lastSeen = GetTickCount();
    OfferToArpGate(gate, hold, senderAddress, parsed, parsed.lastSeen);
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

bool MakeReadsReturnAtOnce(SOCKET socket)
{
    u_long nonBlocking = 1;
    return ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

int ReadDatagrams(SOCKET socket, bool readsReturnAtOnce, ReceivedDatagram* batch, int capacity,
                  bool* failed)
{
    *failed = false;
    int kept = 0;
    // Bounded by reads, not by datagrams kept: a stream of empty or
    // oversized datagrams must not hold the lock either.
    for (int read = 0; read < capacity; ++read) {
        ReceivedDatagram& slot = batch[kept];
        memset(slot.bytes, 0, sizeof(slot.bytes));
        sockaddr_storage from = {};
        int fromLength = sizeof(from);
        int received = g_platform.recvFrom(socket, slot.bytes, sizeof(slot.bytes), 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                break;  // drained
            }
            // A datagram longer than the buffer is simply lost, and so is
            // the report of a closed port that a direct request met (where
            // the socket could not be told to keep it); any other failure
            // may repeat at once, so the caller waits out its slice.
            if (error != WSAEMSGSIZE && error != WSAECONNRESET) {
                *failed = true;
                break;
            }
        } else if (received > 0 && from.ss_family == AF_INET &&
                   fromLength >= static_cast<int>(sizeof(sockaddr_in))) {
            memcpy(&slot.sender, &from, sizeof(slot.sender));
            slot.length = received;
            ++kept;
        }
        if (!readsReturnAtOnce) {
            break;  // another read could block with the lock held
        }
    }
    return kept;
}

namespace {

// What one pass of the loop learnt about the socket.
enum class PassWait { Readable, Idle, Abort };

// The socket's readable event: the wait ends on an answer or on the abort
// event, after at most ReceiveWaitMs. Reads never block (the event makes the
// socket non-blocking), so they need not hold the socket lock either.
PassWait WaitOnEvents(HANDLE abortEvent, WSAEVENT readable, DWORD waitMs)
{
    HANDLE events[2] = {abortEvent, readable};
    DWORD wait = WaitForMultipleObjects(2, events, FALSE, waitMs);
    if (wait == WAIT_OBJECT_0) {
        return PassWait::Abort;
    }
    if (wait == WAIT_OBJECT_0 + 1) {
        return PassWait::Readable;  // the wait has reset it
    }
    if (wait == WAIT_FAILED) {
        // Never expected; keeps the loop from spinning if it happens.
        return Signalled(abortEvent, kReceiveSliceMs) ? PassWait::Abort : PassWait::Idle;
    }
    return PassWait::Idle;
}

// The fallback: select in slices with the socket lock held.
PassWait WaitInSlices(const InterfaceEntry* entry)
{
    if (Signalled(entry->abortEvent)) {
        return PassWait::Abort;
    }
    if (!Signalled(entry->socketMutex, INFINITE)) {
        WaitOutSlice(GetTickCount(), entry->abortEvent);
        return PassWait::Idle;
    }
    // The wait releases the lock unless a datagram is ready.
    return WaitForDatagram(entry->socket, entry->socketMutex, entry->abortEvent) ? PassWait::Readable
                                                                                 : PassWait::Idle;
}

bool Admitted(const InterfaceEntry* entry)
{
    uint32_t filter = g_subnetFilter;
    return filter == kAllInterfaces || filter == entry->network;
}

// With auto-refresh on, queues a direct request for every sender due one
// (see confirm_schedule.h) and sends those the bounds let go (see
// direct_request_limit.h); returns the milliseconds until the next is due
// or may go, or kNoConfirmationDue. A send that fails is not retried: the
// next request of the schedule, or the broadcast, is the next chance.
DWORD AskQuietSenders(InterfaceEntry* entry, RecentSenders* recent, DirectRequestLimit* limit)
{
    if (g_autoRefresh == 0 || !Admitted(entry)) {
        return kNoConfirmationDue;
    }
    constexpr int kRoom = 32;
    uint32_t addresses[kRoom];
    DWORD now = GetTickCount();
    DWORD untilDue = kNoConfirmationDue;
    int due = TakeDueConfirmations(recent, now, addresses, kRoom, &untilDue);
    for (int i = 0; i < due; ++i) {
        QueueDirectRequest(limit, addresses[i]);
    }
    // One at a time, each counted at the tick it goes out: under Wine a
    // send can take a while, and the rate is of the sends themselves.
    DWORD untilSendable = kNoConfirmationDue;
    uint32_t address = 0;
    for (int sent = 0;
         sent < kRoom && TakeSendableRequests(limit, GetTickCount(), &address, 1, &untilSendable) == 1;
         ++sent) {
        SendDiscoveryRequestTo(entry, address);
    }
    return untilSendable < untilDue ? untilSendable : untilDue;
}

// Reports the datagrams of one batch. Failed reads and empty datagrams
// left no trace in it.
void ReportBatch(const InterfaceEntry* entry, const ReceivedDatagram* batch, int count,
                 ArpGate* gate, AnswerHold* hold, uint32_t* refreshesSeen)
{
    // A refresh has just emptied the window's list: whatever was posted
    // before it must be posted again. Read after the datagrams, so an
    // answer to the refresh's own request always sees it.
    uint32_t refreshes = g_refreshCount;
    if (refreshes != *refreshesSeen) {
        *refreshesSeen = refreshes;
        ForgetRecentSenders(&hold->recent);
    }
    // Without auto-refresh rows never expire: a repeat waits for the next
    // Refresh.
    hold->holdMs = g_autoRefresh != 0 ? kUnchangedAnswerPostMs : kHoldUntilForgotten;
    for (int i = 0; i < count; ++i) {
        const sockaddr_in& sender = batch[i].sender;
        // Only this one loopback address is ignored; the rest of 127/8 is not.
        if (sender.sin_addr.s_addr == htonl(INADDR_LOOPBACK)) {
            continue;
        }
        diag::Count(entry->address, diag::kAnswersReceived);
        if (!Admitted(entry)) {
            NoteAnswerFate(entry->address, sender.sin_addr.s_addr, diag::kAnswersOutsideFilter);
            continue;
        }
        ReportDevice(entry, sender, batch[i].bytes, batch[i].length, gate, hold);
    }
}

// How the worker learns that datagrams wait. Under a flood every call into
// the socket layer counts (under Wine each is a round trip to the server):
// reads that return at once let one wake take a batch; otherwise each
// datagram would cost a lock, a wait and a release besides its read, and the
// socket's queue would overflow, dropping real devices' answers with the
// rest. Sends of the transmit worker are single datagrams and are not held
// up by it.
struct ReadySignal {
    // Reset by the wait that takes it, which saves a reset call per wake; a
    // datagram that arrives during the reads signals it again.
    WSAEVENT readable;
    bool onEvents;
    bool readsReturnAtOnce;
};

ReadySignal OpenReadySignal(SOCKET socket)
{
    ReadySignal ready;
    ready.readable = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // null is WSA_INVALID_EVENT
    ready.onEvents = ready.readable != WSA_INVALID_EVENT && WSAEventSelect(socket, ready.readable, FD_READ) == 0;
    ready.readsReturnAtOnce = ready.onEvents || MakeReadsReturnAtOnce(socket);
    return ready;
}

void CloseReadySignal(SOCKET socket, ReadySignal* ready)
{
    if (ready->onEvents) {
        // The socket outlives the worker: it must not signal a closed event.
        WSAEventSelect(socket, nullptr, 0);
    }
    if (ready->readable != WSA_INVALID_EVENT) {
        WSACloseEvent(ready->readable);
    }
}

}  // namespace

DWORD ReceiveWaitMs(bool answersAwaitArpRead)
{
    return answersAwaitArpRead ? kReceiveSliceMs : kReceiveIdleWaitMs;
}

unsigned __stdcall ReceiveWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    // About 8 KB for the ring of waiting answers, 25 KB for the batch, 12 KB
    // for the sender table and 2 KB for the request log: fine on the stack.
    AnswerHold hold;
    InitAnswerHold(&hold, PostDeviceRecord);
    ArpGate gate;
    InitArpGate(&gate, PostUnlessRepeat, &hold);
    ReceivedDatagram batch[kReceiveBatchDatagrams];
    DirectRequestLimit limit;
    InitDirectRequestLimit(&limit);
    uint32_t refreshesSeen = g_refreshCount;
    ReadySignal ready = OpenReadySignal(entry->socket);
    const bool onEvents = ready.onEvents;
    DWORD untilConfirmation = kNoConfirmationDue;

    for (;;) {
        // Every pass, so that answers waiting for an ARP read go out even
        // when nothing more arrives; while some wait, passes are at most
        // one slice apart.
        FlushArpGate(&gate, GetTickCount());
        DWORD sliceStart = GetTickCount();
        DWORD waitMs = ReceiveWaitMs(gate.count > 0);
        waitMs = untilConfirmation < waitMs ? untilConfirmation : waitMs;
        PassWait passWait = onEvents ? WaitOnEvents(entry->abortEvent, ready.readable, waitMs)
                                     : WaitInSlices(entry);
        if (passWait == PassWait::Abort) {
            break;
        }
        if (passWait == PassWait::Idle) {
            untilConfirmation = AskQuietSenders(entry, &hold.recent, &limit);
            continue;
        }
        bool failed = false;
        int count = ReadDatagrams(entry->socket, ready.readsReturnAtOnce, batch, kReceiveBatchDatagrams,
                                  &failed);
        // On events, a read that leaves more waiting signals the event again.
        if (!onEvents) {
            ReleaseMutex(entry->socketMutex);
        }

        ReportBatch(entry, batch, count, &gate, &hold, &refreshesSeen);
        if (failed) {
            WaitOutSlice(sliceStart, entry->abortEvent);
        }
        untilConfirmation = AskQuietSenders(entry, &hold.recent, &limit);
    }

    // Answers still waiting for an ARP read are dropped with the worker.
    ReleaseArpGate(&gate);
    CloseReadySignal(entry->socket, &ready);
    return 0;
}
