// Which multicast DNS client serves a query: the system's where it has one
// and accepts queries, else the program's own. An interface whose queries
// the system client refuses several times in a row (multicast DNS switched
// off by policy or service, say) moves to the own client for good; the
// others stay where they are. A query's stop goes to the client that
// started it, and an answer's records to the client that made them.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include <stdint.h>

#include <memory>

enum DnsClientKind : int32_t {
    kNoDnsClient = -1,
    kSystemDnsClient = 0,
    kOwnDnsClient = 1,
};

// Refusals in a row after which an interface moves to the own client.
constexpr int kSystemRefusalsBeforeOwnClient = 3;

// The completion function each client is handed: which one an answer
// arrives at tells whose records it carries, whatever became of its query.
struct ClientCompletions {
    PMDNS_QUERY_CALLBACK system;
    PMDNS_QUERY_CALLBACK own;
};

// Starts the request on the client chosen for its interface, with that
// client's completion as the request's callback; *client tells which one
// took it (kNoDnsClient when none could be asked). Returns that client's
// status, or ERROR_NOT_SUPPORTED when there is no client at all.
DNS_STATUS StartOnChosenClient(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle,
                               const ClientCompletions& completions, DnsClientKind* client);
DNS_STATUS StopOnClient(DnsClientKind client, PMDNS_QUERY_HANDLE handle);
// Frees a record list that this client handed out; null is allowed.
void FreeRecordsOfClient(DnsClientKind client, PDNS_RECORD records);

// Our own client lists in its PTR questions the answers it already has;
// this forgets those of `question` on that interface whose target is
// `answer` (null: all), so that they are asked again. The system's client
// keeps its own and is not told.
void ForgetKnownAnswers(uint32_t interfaceIndex, const wchar_t* question, const wchar_t* answer);

// Reserves in our own client the queries a browse may hold at once, for the
// browse's time (a negative count gives them back). Every browse reserves,
// whichever client its interface has: it may move to ours at any time.
void ReserveOwnClientQueries(int queries);

// Forgets every interface's refusals and moves (tests).
void ResetDnsClientChoice();

// Owns one answer's record list and frees it with the client that made it.
struct AnswerRecordsDeleter {
    DnsClientKind client;
    void operator()(PDNS_RECORD records) const { FreeRecordsOfClient(client, records); }
};
using AnswerRecords = std::unique_ptr<DNS_RECORD, AnswerRecordsDeleter>;
