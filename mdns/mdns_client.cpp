// Our multicast DNS client: the running queries, the client's thread that
// sends, resends and receives, and the three entry points (mdns_client.h).
//
// How it asks and listens, and why:
// - A query leaves for 224.0.0.251:5353 from a socket of its interface,
//   bound to the interface's address and an ephemeral port, with
//   IP_MULTICAST_IF on that address. As the source port is not 5353,
//   ordinary responders answer it as a one-shot query: straight back by
//   unicast, at once, without the random delay, aggregation and one-second
//   rate limit of multicast answers. That matters because the browse gives
//   each lookup 2 s and resolves instances one after another. The answer
//   reaches this socket and no other, even where another multicast DNS
//   program on the machine shares port 5353 (a unicast to 5353 would reach
//   only one of the sharing sockets), and being addressed to the
//   interface's address, it belongs to that interface. Windows Firewall
//   also lets such a unicast answer to our own multicast in by default.
// - One listener on 0.0.0.0:5353, shared with any other program, joins the
//   group on every interface in use. It hears responders that answer only
//   by multicast, and the multicast copies that others send as well. On
//   Linux (so under Wine) every socket bound to 5353 gets the group's
//   packets from every interface, so IP_PKTINFO names the interface each
//   one arrived on, and only that interface's queries see it. When 5353
//   cannot be had at all, the unicast answers still arrive.
// - Our own queries loop back to the listener; being queries, they are
//   dropped. A responder that answers both ways gives a query two results:
//   every answering packet is delivered, and the PTR query object drops
//   repeats.
//
// - A response is taken only from a source on the subnet of the interface
//   it arrived on (an address of that interface with its mask): a device
//   elsewhere, or one forging a source, cannot speak for this link. So a
//   link-local source counts only where the interface has a link-local
//   address.
//
// Threads and locks: one session (the thread, its wake event, the listener,
// the interface sockets) exists while any query runs and for kSessionLingerMs
// after the last one stops, so that a browse that restarts its query finds
// it open and loses no answers in between; then the thread retires it.
// MdnsClientCloseIdleSession ends an idle session at once and waits for it.
// One lock, g_lock, guards every list and flag. The thread never holds it
// while a callback runs: it pins the query, marks it inCallback under the
// lock only if it has not been stopped, calls, then clears the mark and
// wakes Stop, which waits on g_callbackEnded for that mark to clear (but
// not for its own caller, when a callback stops its own query). Only the
// thread closes sockets and events, since it is the one waiting on them.
#include "mdns/mdns_client.h"

#include <process.h>
#include <stdlib.h>
#include <string.h>

#include "core/platform.h"
#include "core/text_copy.h"
#include "mdns/dns_wire.h"
#include "mdns/mdns_client_records.h"
#include "mdns/mdns_client_sockets.h"

namespace {

constexpr DWORD kFirstResendMs = 1000;
constexpr DWORD kLongestResendMs = 60 * 60 * 1000;
// Per socket and turn, so a flood on one socket cannot hold up the others
// or the resends.
constexpr int kMaxDatagramsPerTurn = 64;
// The thread's last steps are closing a few sockets; this only bounds a
// wait for it against the unforeseen.
constexpr DWORD kSessionEndWaitMs = 2000;
constexpr DWORD kSessionLingerMs = 5000;
// Far above what the browses of every interface run at once.
constexpr unsigned kMaxQueries = 512;
// The thread waits on its wake event, the listener and one socket per link.
constexpr unsigned kMaxLinks = MAXIMUM_WAIT_OBJECTS - 2;

// One interface (index and IPv4 address) in use by running queries.
struct Link {
    ULONG interfaceIndex;
    uint32_t address;
    uint32_t mask;
    LinkSocket socket;
    bool member;             // holds the listener's group membership for this interface index
    uint32_t memberAddress;  // the address that membership was made with
    unsigned queries;        // running queries on it; the thread closes it at 0
    Link* next;
};

struct Query {
    // Fixed from Start on: read by the thread without the lock.
    PMDNS_QUERY_HANDLE handle;
    PMDNS_QUERY_CALLBACK callback;
    void* context;
    ULONG64 options;
    uint16_t type;
    char name[kDnsNameTextCapacity];  // canonical text
    uint8_t packet[kDnsMaxQueryBytes];
    size_t packetLength;
    Link* link;
    uint64_t serial;
    // Guarded by g_lock.
    DWORD nextSendTick;
    DWORD nextInterval;
    bool stopped;
    bool inCallback;
    DWORD callbackThread;
    unsigned pins;  // deliveries holding it; the last one out frees it once stopped
    Query* next;
};

struct Session {
    HANDLE thread;
    DWORD threadId;
    HANDLE wake;  // auto-reset: lists changed, or the session is closing
    bool winsock;
    bool listening;  // the listener is open; fixed once the session exists
    SharedListener listener;
    Link* links;
    Query* queries;  // in start order, so serials ascend
    unsigned queryCount;
    uint64_t lastSerial;
    DWORD idleSince;  // when queryCount last fell to 0
    bool closing;
    unsigned refs;  // the thread, and a caller waiting for it to end
};

SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_callbackEnded = CONDITION_VARIABLE_INIT;
Session* g_session = nullptr;  // takes new queries; every running query is in it

// ---- starting a query ----

DWORD FindInterfaceAddress(ULONG interfaceIndex, uint32_t* address, uint32_t* mask)
{
    ULONG size = 0;
    MIB_IPADDRTABLE* table = nullptr;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 3 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        free(table);
        table = nullptr;
        if (size > 0 && (table = static_cast<MIB_IPADDRTABLE*>(malloc(size))) == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        status = g_platform.getIpAddrTable(table, &size, FALSE);
    }
    bool found = false;
    for (DWORD i = 0; status == NO_ERROR && table != nullptr && i < table->dwNumEntries && !found; ++i) {
        const MIB_IPADDRROW& row = table->table[i];
        if (row.dwIndex == interfaceIndex && row.dwAddr != 0) {
            *address = row.dwAddr;
            *mask = row.dwMask;
            found = true;
        }
    }
    free(table);
    if (status != NO_ERROR) {
        return status;
    }
    return found ? NO_ERROR : ERROR_INVALID_PARAMETER;
}

bool PrepareQuery(const MDNS_QUERY_REQUEST& request, PMDNS_QUERY_HANDLE handle, Query* query)
{
    char text[kDnsNameTextCapacity * 4];
    if (WideCharToMultiByte(CP_UTF8, 0, request.Query, -1, text, int(sizeof(text)), nullptr, nullptr) == 0 ||
        !DnsCanonicalName(text, query->name, sizeof(query->name))) {
        return false;
    }
    query->packetLength =
        DnsBuildQuery(query->name, request.QueryType, false, query->packet, sizeof(query->packet));
    query->handle = handle;
    query->callback = request.pQueryCallback;
    query->context = request.pQueryContext;
    query->options = request.QueryOptions;
    query->type = request.QueryType;
    query->nextInterval = kFirstResendMs;
    return query->packetLength != 0;
}

// Under g_lock. The next send is due after nextInterval, which then doubles.
void SendQuery(Query* query, DWORD now)
{
    SendToGroup(query->link->socket, query->packet, query->packetLength);
    query->nextSendTick = now + query->nextInterval;
    DWORD doubled = query->nextInterval * 2;
    query->nextInterval = doubled < kLongestResendMs ? doubled : kLongestResendMs;
}

// ---- sessions ----

unsigned __stdcall ClientThread(void* parameter);

void FreeSessionParts(Session* session)
{
    if (session->listening) {
        CloseSharedListener(&session->listener);
    }
    if (session->wake != nullptr) {
        CloseHandle(session->wake);
    }
    if (session->winsock) {
        WSACleanup();
    }
}

// Under g_lock (the new thread waits for it before its first turn).
Session* OpenSession(DWORD* status)
{
    Session* session = static_cast<Session*>(calloc(1, sizeof(Session)));
    if (session == nullptr) {
        *status = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    WSADATA data;
    int started = WSAStartup(MAKEWORD(2, 2), &data);
    session->winsock = started == 0;
    session->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    session->listening = session->winsock && OpenSharedListener(&session->listener);
    session->refs = 1;
    unsigned threadId = 0;
    if (session->winsock && session->wake != nullptr) {
        session->thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ClientThread, session, 0, &threadId));
    }
    if (session->thread == nullptr) {
        *status = started != 0 ? DWORD(started) : ERROR_NOT_ENOUGH_MEMORY;
        FreeSessionParts(session);
        free(session);
        return nullptr;
    }
    session->threadId = threadId;
    *status = NO_ERROR;
    return session;
}

// Drops one reference; the last frees the session.
void ReleaseSession(Session* session)
{
    AcquireSRWLockExclusive(&g_lock);
    bool last = --session->refs == 0;
    ReleaseSRWLockExclusive(&g_lock);
    if (last) {
        CloseHandle(session->thread);
        free(session);
    }
}

// Under g_lock: a session without queries is retired, now or (linger) once
// it has been idle for kSessionLingerMs. Returns the session whose end the
// caller waits for once the lock is released, or null.
Session* RetireIfIdle(Session* session, bool linger)
{
    if (session->queryCount > 0 || session->closing ||
        (linger && GetTickCount() - session->idleSince < kSessionLingerMs)) {
        return nullptr;
    }
    session->closing = true;
    if (g_session == session) {
        g_session = nullptr;
    }
    SetEvent(session->wake);
    if (GetCurrentThreadId() == session->threadId) {
        return nullptr;  // a callback on the thread itself: it ends once the callback returns
    }
    ++session->refs;
    return session;
}

void WaitForSessionEnd(Session* session)
{
    if (session != nullptr) {
        WaitForSingleObject(session->thread, kSessionEndWaitMs);
        ReleaseSession(session);
    }
}

// ---- links (under g_lock) ----

Link* FindLinkFor(Session* session, ULONG interfaceIndex, bool memberOnly)
{
    for (Link* link = session->links; link != nullptr; link = link->next) {
        if (link->interfaceIndex == interfaceIndex && (link->member || !memberOnly)) {
            return link;
        }
    }
    return nullptr;
}

DWORD AttachLink(Session* session, ULONG interfaceIndex, uint32_t address, uint32_t mask,
                 Link** attached)
{
    unsigned count = 0;
    for (Link* link = session->links; link != nullptr; link = link->next, ++count) {
        if (link->interfaceIndex == interfaceIndex && link->address == address) {
            link->mask = mask;
            *attached = link;
            return NO_ERROR;
        }
    }
    if (count >= kMaxLinks) {
        return ERROR_TOO_MANY_OPEN_FILES;
    }
    Link* link = static_cast<Link*>(calloc(1, sizeof(Link)));
    if (link == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD status = OpenLinkSocket(address, &link->socket);
    if (status != NO_ERROR) {
        free(link);
        return status;
    }
    link->interfaceIndex = interfaceIndex;
    link->address = address;
    link->mask = mask;
    // One membership per interface: a second join there would fail, and an
    // old link (the interface's former address) still holds it.
    bool joined = FindLinkFor(session, interfaceIndex, true) != nullptr;
    if (session->listening && !joined && SetGroupMembership(session->listener, address, true)) {
        link->member = true;
        link->memberAddress = address;
    }
    link->next = session->links;
    session->links = link;
    *attached = link;
    return NO_ERROR;
}

// By the thread only: it is the one waiting on the links' events.
void CloseUnusedLinks(Session* session)
{
    for (Link** at = &session->links; *at != nullptr;) {
        Link* link = *at;
        if (link->queries > 0) {
            at = &link->next;
            continue;
        }
        *at = link->next;
        if (link->member) {
            Link* heir = FindLinkFor(session, link->interfaceIndex, false);
            if (heir != nullptr) {
                heir->member = true;
                heir->memberAddress = link->memberAddress;
            } else {
                SetGroupMembership(session->listener, link->memberAddress, false);
            }
        }
        CloseLinkSocket(&link->socket);
        free(link);
    }
}

// ---- delivery (on the thread) ----

// Pins the first running query after serial `after` on that interface.
Query* PinNextQuery(Session* session, uint64_t after, ULONG interfaceIndex)
{
    AcquireSRWLockExclusive(&g_lock);
    Query* found = nullptr;
    for (Query* query = session->queries; query != nullptr && found == nullptr; query = query->next) {
        if (query->serial > after && query->link->interfaceIndex == interfaceIndex) {
            found = query;
            ++found->pins;
        }
    }
    ReleaseSRWLockExclusive(&g_lock);
    return found;
}

void Unpin(Query* query)
{
    AcquireSRWLockExclusive(&g_lock);
    bool release = --query->pins == 0 && query->stopped;
    ReleaseSRWLockExclusive(&g_lock);
    if (release) {
        free(query);
    }
}

// Hands the records to the query's callback unless it has been stopped.
void Complete(Query* query, PDNS_RECORD records)
{
    AcquireSRWLockExclusive(&g_lock);
    bool running = !query->stopped;
    if (running) {
        query->inCallback = true;
        query->callbackThread = GetCurrentThreadId();
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (!running) {
        FreeRecordList(records);
        return;
    }
    DNS_QUERY_RESULT result;
    memset(&result, 0, sizeof(result));
    result.Version = DNS_QUERY_RESULTS_VERSION1;
    result.QueryStatus = ERROR_SUCCESS;
    result.QueryOptions = query->options;
    result.pQueryRecords = records;
    query->callback(query->context, query->handle, &result);
    AcquireSRWLockExclusive(&g_lock);
    query->inCallback = false;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_callbackEnded);
}

// True when the source lies on the subnet of an address of that interface.
bool SourceOnLink(Session* session, ULONG interfaceIndex, uint32_t source)
{
    AcquireSRWLockExclusive(&g_lock);
    bool onLink = false;
    for (Link* link = session->links; link != nullptr && !onLink; link = link->next) {
        onLink = link->interfaceIndex == interfaceIndex && link->mask != 0 &&
                 (source & link->mask) == (link->address & link->mask);
    }
    ReleaseSRWLockExclusive(&g_lock);
    return onLink;
}

void Deliver(Session* session, const uint8_t* packet, int length, ULONG interfaceIndex,
             uint32_t source)
{
    if (!SourceOnLink(session, interfaceIndex, source)) {
        return;
    }
    DnsMessage message;
    if (!DnsOpenMessage(packet, size_t(length), &message) || !DnsIsResponse(message) ||
        DnsOpcode(message) != 0 || DnsRcode(message) != 0) {
        return;
    }
    uint64_t after = 0;
    Query* query;
    while ((query = PinNextQuery(session, after, interfaceIndex)) != nullptr) {
        after = query->serial;
        if (PacketAnswersQuery(message, query->name, query->type)) {
            PDNS_RECORD records = BuildRecordList(message);
            if (records != nullptr) {
                Complete(query, records);
            }
        }
        Unpin(query);
    }
}

void DrainListener(Session* session, uint8_t* buffer)
{
    WSAResetEvent(session->listener.readable);
    for (int i = 0; i < kMaxDatagramsPerTurn; ++i) {
        ULONG interfaceIndex = 0;
        uint32_t source = 0;
        int length =
            ReceiveOnListener(session->listener, buffer, kMdnsMaxPacketBytes, &interfaceIndex, &source);
        if (length == kNothingWaiting) {
            return;
        }
        if (length > 0) {
            Deliver(session, buffer, length, interfaceIndex, source);
        }
    }
    WSASetEvent(session->listener.readable);  // more may wait: next turn
}

void DrainLink(Session* session, const LinkSocket& link, ULONG interfaceIndex, uint8_t* buffer)
{
    WSAResetEvent(link.readable);
    for (int i = 0; i < kMaxDatagramsPerTurn; ++i) {
        uint32_t source = 0;
        int length = ReceiveOnLink(link, buffer, kMdnsMaxPacketBytes, &source);
        if (length == kNothingWaiting) {
            return;
        }
        if (length > 0) {
            Deliver(session, buffer, length, interfaceIndex, source);
        }
    }
    WSASetEvent(link.readable);
}

// Under g_lock: sends what is due; returns the milliseconds until the next.
DWORD SendDueQueries(Session* session)
{
    DWORD now = GetTickCount();
    DWORD wait = INFINITE;
    for (Query* query = session->queries; query != nullptr; query = query->next) {
        LONG remaining = LONG(query->nextSendTick - now);
        if (remaining <= 0) {
            SendQuery(query, now);
            remaining = LONG(query->nextSendTick - now);
        }
        if (DWORD(remaining) < wait) {
            wait = DWORD(remaining);
        }
    }
    return wait;
}

unsigned __stdcall ClientThread(void* parameter)
{
    Session* session = static_cast<Session*>(parameter);
    static_assert(kMdnsMaxPacketBytes <= 16384, "the receive buffer lives on the thread's stack");
    uint8_t buffer[kMdnsMaxPacketBytes];
    for (;;) {
        // The sockets of this turn, copied under the lock: only this thread
        // closes them, so they stay valid through the wait and the reads.
        HANDLE events[MAXIMUM_WAIT_OBJECTS];
        LinkSocket links[MAXIMUM_WAIT_OBJECTS];
        ULONG interfaces[MAXIMUM_WAIT_OBJECTS];
        DWORD count = 0;
        AcquireSRWLockExclusive(&g_lock);
        RetireIfIdle(session, true);  // on this thread: nobody waits for it
        if (session->closing) {
            ReleaseSRWLockExclusive(&g_lock);
            break;
        }
        CloseUnusedLinks(session);
        DWORD timeout = SendDueQueries(session);
        if (session->queryCount == 0) {
            DWORD idle = GetTickCount() - session->idleSince;
            DWORD left = idle < kSessionLingerMs ? kSessionLingerMs - idle : 0;
            timeout = left < timeout ? left : timeout;
        }
        events[count++] = session->wake;
        if (session->listening) {
            events[count++] = session->listener.readable;
        }
        DWORD firstLink = count;
        for (Link* link = session->links; link != nullptr && count < MAXIMUM_WAIT_OBJECTS; link = link->next) {
            links[count] = link->socket;
            interfaces[count] = link->interfaceIndex;
            events[count++] = link->socket.readable;
        }
        ReleaseSRWLockExclusive(&g_lock);

        if (WaitForMultipleObjects(count, events, FALSE, timeout) == WAIT_FAILED) {
            Sleep(100);  // never spin
        }
        if (session->listening) {
            DrainListener(session, buffer);
        }
        for (DWORD i = firstLink; i < count; ++i) {
            DrainLink(session, links[i], interfaces[i], buffer);
        }
    }
    // Closing: no query is left and no new one can join this session.
    AcquireSRWLockExclusive(&g_lock);
    CloseUnusedLinks(session);
    ReleaseSRWLockExclusive(&g_lock);
    FreeSessionParts(session);
    ReleaseSession(session);
    return 0;
}

}  // namespace

DNS_STATUS WINAPI MdnsClientStartQuery(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle)
{
    if (request == nullptr || handle == nullptr || request->Query == nullptr ||
        request->pQueryCallback == nullptr || request->Version != DNS_QUERY_REQUEST_VERSION1) {
        return ERROR_INVALID_PARAMETER;
    }
    Query* query = static_cast<Query*>(calloc(1, sizeof(Query)));
    if (query == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    uint32_t address = 0;
    uint32_t mask = 0;
    DWORD status = PrepareQuery(*request, handle, query)
                       ? FindInterfaceAddress(request->InterfaceIndex, &address, &mask)
                       : DWORD(ERROR_INVALID_PARAMETER);
    if (status != NO_ERROR) {
        free(query);
        return status;
    }

    AcquireSRWLockExclusive(&g_lock);
    Session* session = g_session;
    if (session == nullptr) {
        session = g_session = OpenSession(&status);
    }
    Link* link = nullptr;
    if (session != nullptr) {
        status = session->queryCount < kMaxQueries
                     ? AttachLink(session, request->InterfaceIndex, address, mask, &link)
                     : DWORD(ERROR_TOO_MANY_CMDS);
    }
    if (status == NO_ERROR) {
        memset(handle, 0, sizeof(*handle));
        CopyText(handle->nameBuf, DNS_MAX_NAME_BUFFER_LENGTH, request->Query);
        handle->wType = request->QueryType;
        handle->pSubscription = query;
        query->link = link;
        ++link->queries;
        query->serial = ++session->lastSerial;
        Query** tail = &session->queries;
        while (*tail != nullptr) {
            tail = &(*tail)->next;
        }
        *tail = query;
        ++session->queryCount;
        SendQuery(query, GetTickCount());
        SetEvent(session->wake);
    } else if (session != nullptr && session->queryCount == 0) {
        session->idleSince = GetTickCount();  // lingers as after a Stop
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (status != NO_ERROR) {
        free(query);
    }
    return status;
}

DNS_STATUS WINAPI MdnsClientStopQuery(PMDNS_QUERY_HANDLE handle)
{
    if (handle == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    AcquireSRWLockExclusive(&g_lock);
    Session* session = g_session;
    Query* query = nullptr;
    for (Query** at = session != nullptr ? &session->queries : nullptr; at != nullptr && *at != nullptr;
         at = &(*at)->next) {
        if (*at == handle->pSubscription && (*at)->handle == handle) {
            query = *at;
            *at = query->next;
            break;
        }
    }
    if (query == nullptr) {
        ReleaseSRWLockExclusive(&g_lock);
        return ERROR_INVALID_PARAMETER;
    }
    query->stopped = true;
    DWORD self = GetCurrentThreadId();
    while (query->inCallback && query->callbackThread != self) {
        SleepConditionVariableSRW(&g_callbackEnded, &g_lock, INFINITE, 0);
    }
    handle->pSubscription = nullptr;
    --query->link->queries;
    --session->queryCount;
    bool freeNow = query->pins == 0;
    if (session->queryCount == 0) {
        session->idleSince = GetTickCount();
    }
    SetEvent(session->wake);  // the thread closes the link if nothing uses it now
    ReleaseSRWLockExclusive(&g_lock);
    if (freeNow) {
        free(query);
    }
    return ERROR_SUCCESS;
}

VOID WINAPI MdnsClientFree(PVOID data, DNS_FREE_TYPE freeType)
{
    if (freeType == DnsFreeRecordList) {
        FreeRecordList(static_cast<PDNS_RECORD>(data));
    } else {
        free(data);
    }
}

void MdnsClientCloseIdleSession()
{
    AcquireSRWLockExclusive(&g_lock);
    Session* ended = g_session != nullptr ? RetireIfIdle(g_session, false) : nullptr;
    ReleaseSRWLockExclusive(&g_lock);
    WaitForSessionEnd(ended);
}

void InstallMulticastDnsClient()
{
    if (g_platform.dnsStartMulticastQuery != nullptr && g_platform.dnsStopMulticastQuery != nullptr &&
        g_platform.dnsFree != nullptr) {
        return;
    }
    g_platform.dnsStartMulticastQuery = MdnsClientStartQuery;
    g_platform.dnsStopMulticastQuery = MdnsClientStopQuery;
    g_platform.dnsFree = MdnsClientFree;
}
