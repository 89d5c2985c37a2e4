// The inside of our multicast DNS client, shared by its three parts: the
// session (thread, sockets, interface links: session.cpp), the
// delivery of answers to queries (delivery.cpp) and the entry
// points (client.cpp). See session.cpp for how it asks and
// listens, and how its threads and lock work together.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include <stddef.h>
#include <stdint.h>

#include "core/sync.h"
#include "dns/wire.h"
#include "querier/sockets.h"
#include "querier/query_registry.h"

constexpr DWORD kFirstResendMs = 1000;
constexpr DWORD kLongestResendMs = 60 * 60 * 1000;
// Per socket and turn, so a flood on one socket cannot hold up the others
// or the resends.
constexpr int kMaxDatagramsPerTurn = 64;
// The thread's last steps are closing a few sockets; this only bounds a
// wait for it against the unforeseen.
constexpr DWORD kSessionEndWaitMs = 2000;
constexpr DWORD kSessionLingerMs = 5000;
// Queries of one link that fall due within this much of each other leave
// in one packet: a browse starts the lookups of many instances at once.
constexpr DWORD kGatherMs = 5;
// A query packet of several questions stays within one Ethernet frame.
constexpr size_t kMaxQueryPacketBytes = 1400;
// Queries in flight at once: each browse reserves what it may hold for its
// time (MdnsClientReserveQueries), so the limit grows with the interfaces
// browsed; queries that nobody reserved (a lone lookup, tests) have a small
// share of their own. Bounded whatever the number of interfaces: the
// browse's callback slots, the other bound on queries the browses of every
// interface hold, are as many.
constexpr unsigned kUnreservedQueries = 64;
constexpr unsigned kMaxQueries = 4096;
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
    unsigned queries;        // running queries on it
    // Unused since (queries 0). An unused link stays open, port and
    // membership included, while the session lingers, so that a restarted
    // query finds it; the thread closes it when it has been unused as long
    // as a session lingers, or at once when stale.
    DWORD idleSince;
    bool stale;    // its interface now has another address
    bool sendNow;  // the thread's send turn: a query of it is due
    Link* next;
};

struct Query {
    RegisteredQuery entry;  // first: the registry's entry is the query
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
    // Guarded by g_lock.
    DWORD nextSendTick;
    DWORD nextInterval;
};

static_assert(offsetof(Query, entry) == 0, "a registry entry converts back to its query");

inline Query* QueryOf(RegisteredQuery* entry)
{
    return reinterpret_cast<Query*>(entry);
}

struct Session {
    HANDLE thread;
    DWORD threadId;
    HANDLE wake;  // auto-reset: lists changed, or the session is closing
    bool winsock;
    bool listening;  // the listener is open; fixed once the session exists
    SharedListener listener;
    Link* links;
    unsigned queryCount;  // its running queries: every query in g_registry
    DWORD idleSince;  // when queryCount last fell to 0
    bool closing;
    unsigned refs;  // the thread, and a caller waiting for it to end
};

extern SyncLock g_lock;
// Every running query; they all belong to g_session. Frees a query when its
// last hold goes.
extern QueryRegistry g_registry;
extern Session* g_session;  // takes new queries; every running query is in it

// Under g_lock: the first send is due after kGatherMs, so that queries
// started together share a packet; the thread sends it.
void ScheduleFirstSend(Query* query, DWORD now);
// Under g_lock, on the session's thread: every link with a query due sends
// it together with the link's queries due within kGatherMs. Returns the
// time until the next send is due.
DWORD SendDueQueries(Session* session);
// Under g_lock: its last query on the link stopped.
void LeaveLink(Link* link, DWORD now);

// Under g_lock: opens a session with its thread (which waits for the lock
// before its first turn), or null with *status set.
Session* OpenSession(DWORD* status);
// Under g_lock: a session without queries is retired, now or (linger) once
// it has been idle long enough. Returns the session whose end the caller
// waits for with WaitForSessionEnd once the lock is released, or null.
Session* RetireIfIdle(Session* session, bool linger);
void WaitForSessionEnd(Session* session);
// Under g_lock: the link of this interface address, opened when new.
DWORD AttachLink(Session* session, ULONG interfaceIndex, uint32_t address, uint32_t mask,
                 Link** attached);

// Under g_lock: true when the source lies on the subnet of an address of
// that interface (a link of it, with its mask).
bool SourceOnLink(const Link* links, ULONG interfaceIndex, uint32_t source);

// The known answers (known_answers.cpp): the PTR records that answered
// the running PTR questions, each listed in later packets of that question
// while more than half its TTL remains (so responders that hold nothing
// newer stay quiet), at most kMaxKnownAnswers in all, the oldest giving way.
constexpr unsigned kMaxKnownAnswers = 64;
// Under g_lock: remembers the answer-section PTR records of the packet whose
// owner is `question`, heard on that interface; a TTL of 0 forgets one.
void RememberKnownAnswers(const DnsMessage& message, ULONG interfaceIndex, const char* question, DWORD now);
// Under g_lock: appends the known answers of that PTR question, whose name
// lies at nameOffset in the packet, while they fit. Returns the new length.
size_t AppendKnownAnswers(uint8_t* packet, size_t length, size_t capacity, size_t nameOffset,
                          ULONG interfaceIndex, const char* question, DWORD now);

// On the session's thread: reads what waits on the listener or a link
// socket and hands every answering packet to the queries it answers.
// True when the turn's share ran out with more waiting (a flood).
bool DrainListener(Session* session, uint8_t* buffer);
bool DrainLink(Session* session, const LinkSocket& link, ULONG interfaceIndex, uint8_t* buffer);
