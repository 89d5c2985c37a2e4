// Our multicast DNS client's sessions: the thread that sends, resends and
// receives, its sockets and the interface links.
//
// How it asks and listens, and why:
// - A query leaves for 224.0.0.251:5353 from a socket of its interface,
//   bound to the interface's address and an ephemeral port, with
//   IP_MULTICAST_IF on that address. As the source port is not 5353,
//   ordinary responders answer it as a one-shot query: straight back by
//   unicast, at once, without the random delay, aggregation and one-second
//   rate limit of multicast answers. That matters because the browse gives
//   each lookup 2 s. The answer reaches this socket and no other, even
//   where another multicast DNS program on the machine shares port 5353 (a
//   unicast to 5353 would reach only one of the sharing sockets), and being
//   addressed to the interface's address, it belongs to that interface. Windows Firewall
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
// it open and loses no answers in between; then the thread retires it. A
// link (socket, port and group membership) lingers the same way after its
// own last query: a browse restarting its query once a second keeps its
// port and membership instead of closing and joining again each time.
// - Queries of one link that fall due together (a browse starts the SRV and
//   TXT lookups of many instances at once, and their resends then keep
//   step) leave in one packet of several questions; each answer goes to
//   every query it answers, so one round trip serves them all.
// MdnsClientCloseIdleSession ends an idle session at once and waits for it.
// One lock, g_lock, guards every list and flag. The thread never holds it
// while a callback runs: it pins the query in the registry (query_registry.h),
// which starts the callback only if the query has not been stopped; a Stop
// waits for a callback running on another thread (not for its own caller,
// when a callback stops its own query), and whichever of the stop and the
// pins lets go last frees the query. Only the thread closes sockets and
// events, since it is the one waiting on them.
#include <process.h>
#include <stdlib.h>
#include <string.h>

#include "querier/internal.h"

namespace {

void FreeQuery(RegisteredQuery* entry)
{
    free(QueryOf(entry));
}

}  // namespace

SyncLock g_lock;
QueryRegistry g_registry = {&g_lock, FreeQuery, {}, nullptr, 0};
Session* g_session = nullptr;

namespace {

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

// Drops one reference; the last frees the session.
void ReleaseSession(Session* session)
{
    g_lock.Acquire();
    bool last = --session->refs == 0;
    g_lock.Release();
    if (last) {
        CloseHandle(session->thread);
        free(session);
    }
}


Link* FindLinkFor(Session* session, ULONG interfaceIndex, bool memberOnly)
{
    for (Link* link = session->links; link != nullptr; link = link->next) {
        if (link->interfaceIndex == interfaceIndex && (link->member || !memberOnly)) {
            return link;
        }
    }
    return nullptr;
}

bool LinkEnds(const Session* session, const Link* link, DWORD now)
{
    return link->queries == 0 &&
           (session->closing || link->stale || now - link->idleSince >= kSessionLingerMs);
}

// By the thread only: it is the one waiting on the links' events. Returns
// the time until the next unused link is due to close (INFINITE: none).
DWORD CloseUnusedLinks(Session* session)
{
    DWORD now = GetTickCount();
    DWORD next = INFINITE;
    for (Link** at = &session->links; *at != nullptr;) {
        Link* link = *at;
        if (!LinkEnds(session, link, now)) {
            if (link->queries == 0) {
                DWORD left = kSessionLingerMs - (now - link->idleSince);
                next = left < next ? left : next;
            }
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
    return next;
}

// The sockets of one turn, copied under the lock: only the client thread
// closes them, so they stay valid through the wait and the reads.
struct Turn {
    HANDLE events[MAXIMUM_WAIT_OBJECTS];
    LinkSocket links[MAXIMUM_WAIT_OBJECTS];
    ULONG interfaces[MAXIMUM_WAIT_OBJECTS];
    DWORD count;
    DWORD firstLink;
    DWORD timeout;
};

// Sends what is due and gathers what the turn waits on; false when the
// session is closing.
bool PrepareTurn(Session* session, Turn* turn)
{
    turn->count = 0;
    g_lock.Acquire();
    RetireIfIdle(session, true);  // on this thread: nobody waits for it
    if (session->closing) {
        g_lock.Release();
        return false;
    }
    DWORD timeout = CloseUnusedLinks(session);
    DWORD due = SendDueQueries(session);
    timeout = due < timeout ? due : timeout;
    if (session->queryCount == 0) {
        DWORD idle = GetTickCount() - session->idleSince;
        DWORD left = idle < kSessionLingerMs ? kSessionLingerMs - idle : 0;
        timeout = left < timeout ? left : timeout;
    }
    turn->timeout = timeout;
    turn->events[turn->count++] = session->wake;
    if (session->listening) {
        turn->events[turn->count++] = session->listener.readable;
    }
    turn->firstLink = turn->count;
    for (Link* link = session->links; link != nullptr && turn->count < MAXIMUM_WAIT_OBJECTS; link = link->next) {
        turn->links[turn->count] = link->socket;
        turn->interfaces[turn->count] = link->interfaceIndex;
        turn->events[turn->count++] = link->socket.readable;
    }
    g_lock.Release();
    return true;
}

// Only the socket that woke the wait is read: under Wine every read, also
// the one that finds nothing, is a round trip to the server. Others that are
// readable too end the next wait at once. A socket flooded beyond its share
// lets every other one be read in the same turn, so that it cannot keep them
// waiting.
void ReadTurn(Session* session, const Turn& turn, uint8_t* buffer)
{
    DWORD woke = WaitForMultipleObjects(turn.count, turn.events, FALSE, turn.timeout);
    bool readAll = woke == WAIT_FAILED;
    if (readAll) {
        Sleep(100);  // never spin
    }
    DWORD index = woke - WAIT_OBJECT_0;
    if (session->listening && index == 1) {
        readAll = DrainListener(session, buffer) || readAll;
    } else if (index >= turn.firstLink && index < turn.count) {
        readAll = DrainLink(session, turn.links[index], turn.interfaces[index], buffer) || readAll;
    }
    if (!readAll) {
        return;
    }
    if (session->listening && index != 1) {
        DrainListener(session, buffer);
    }
    for (DWORD i = turn.firstLink; i < turn.count; ++i) {
        if (i != index) {
            DrainLink(session, turn.links[i], turn.interfaces[i], buffer);
        }
    }
}

unsigned __stdcall ClientThread(void* parameter)
{
    Session* session = static_cast<Session*>(parameter);
    static_assert(kMdnsMaxPacketBytes <= 16384, "the receive buffer lives on the thread's stack");
    uint8_t buffer[kMdnsMaxPacketBytes];
    // About 2 KB of handles and sockets: fine on the stack too.
    Turn turn;
    while (PrepareTurn(session, &turn)) {
        ReadTurn(session, turn, buffer);
    }
    // Closing: no query is left and no new one can join this session.
    g_lock.Acquire();
    CloseUnusedLinks(session);
    g_lock.Release();
    FreeSessionParts(session);
    ReleaseSession(session);
    return 0;
}

}  // namespace

void ScheduleFirstSend(Query* query, DWORD now)
{
    query->nextSendTick = now + kGatherMs;
}

void LeaveLink(Link* link, DWORD now)
{
    if (--link->queries == 0) {
        link->idleSince = now;
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

DWORD AttachLink(Session* session, ULONG interfaceIndex, uint32_t address, uint32_t mask,
                 Link** attached)
{
    unsigned count = 0;
    Link* found = nullptr;
    for (Link* link = session->links; link != nullptr; link = link->next, ++count) {
        if (link->interfaceIndex == interfaceIndex && link->address == address) {
            link->mask = mask;
            link->stale = false;
            found = link;
        } else if (link->interfaceIndex == interfaceIndex && link->queries == 0) {
            link->stale = true;  // the interface's address went away: nothing will reuse it
        }
    }
    if (found != nullptr) {
        *attached = found;
        return NO_ERROR;
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

