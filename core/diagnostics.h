// What discovery did and dropped, per interface, since the last Refresh
// (or the start, or a change of the subnet filter): a few atomic counters
// per interface that the workers bump as they go, and that the diagnosis
// reads to tell a user why a list is empty. Bumping costs one relaxed
// atomic add; nothing is formatted unless someone listens for events.
#pragma once

#include <windows.h>
#include <stdint.h>

namespace diag {

enum Counter : int {
    // Broadcast discovery.
    kRequestsSent = 0,       // broadcast and direct requests that went out
    kRequestsFailed,         // sends that failed (the last error is kept)
    kAnswersReceived,        // datagrams read from the socket
    kAnswersListed,          // answers posted to the window or console
    kAnswersHeldBack,        // unchanged repeats not posted again
    kAnswersNotMaker,        // well-formed replies of another maker
    kAnswersMalformed,       // datagrams that are no discovery reply
    kAnswersDroppedByArpGate,  // dropped by the ARP gate (strangers over its limit, full queue)
    kAnswersOutsideFilter,   // read while the subnet filter leaves this interface out
    // Multicast DNS.
    kMdnsQuestionsSent,      // questions our client sent, or queries started on the system's
    kMdnsPacketsHeard,       // any multicast DNS packet heard on the interface (our client only)
    kMdnsServiceAnswers,     // answers to the service question (instances found)
    kMdnsMakerInstances,     // instances of the maker posted as devices
    kMdnsLookupsTimedOut,    // instance lookups that ended without an answer
    kCounterCount
};

// Which multicast DNS client an interface uses.
enum MdnsClient : int32_t { kMdnsClientUnknown = 0, kMdnsClientSystem = 1, kMdnsClientOwn = 2 };

// Interfaces followed at once; more than any real PC has. Beyond it, the
// counts of further interfaces are not kept (and the report says so).
constexpr int kMaxInterfaces = 32;

struct InterfaceCounts {
    uint32_t address;  // the interface's IPv4 address (network byte order)
    uint32_t counts[kCounterCount];
    DWORD lastSendError;  // Win32/Winsock error of the last failed send, or 0
    int32_t mdnsClient;   // MdnsClient
};

// Adds amount to counter of the interface with this address (network byte
// order). Lock-free; an interface beyond kMaxInterfaces is not counted.
void Count(uint32_t interfaceAddress, Counter counter, uint32_t amount = 1);
void NoteSendError(uint32_t interfaceAddress, DWORD error);
void NoteMdnsClient(uint32_t interfaceAddress, MdnsClient client);

// Starts every count afresh (a Refresh, the start, a change of the subnet filter).
void Reset();

// Copies the counts of up to capacity interfaces into out; returns how many.
// Counts being bumped meanwhile may be read half a moment apart.
int Snapshot(InterfaceCounts* out, int capacity);

// One line per event (request sent on which interface, answer from whom and
// its fate, multicast DNS question and answer), for a support person
// following a run: null (the default) for none. Called on worker threads;
// the line is zero-terminated and valid for the call only.
typedef void (*EventSink)(const wchar_t* line);
void SetEventSink(EventSink sink);
bool EventsWanted();
// Formats and hands one line to the sink, only when one is set.
void Event(const wchar_t* format, ...);

}  // namespace diag
