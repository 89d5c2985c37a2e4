// Our own multicast DNS client, for systems whose dnsapi.dll lacks the
// multicast query functions (Windows before 10, Wine). The three functions
// keep the system client's contract and signatures, so the query objects
// cannot tell which client runs:
//   - Start checks the request, takes the query and returns at once; the
//     query is sent on the interface that InterfaceIndex names and again
//     after 1 s, 2 s, 4 s, ... until it is stopped;
//   - every response packet that arrives on that interface and answers the
//     query (an answer record with the query's name and type) reaches the
//     callback as one result on the client's own thread: the packet's answer
//     records, then its additional records, in packet order; the callback
//     owns the list and frees it with MdnsClientFree(DnsFreeRecordList);
//   - Stop returns only when no callback of that query is running, and none
//     follows (a callback may stop its own or any other query).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <windns.h>

// ERROR_INVALID_PARAMETER for a request without name or callback, of
// another version, with a name that is not a DNS name, or for an interface
// index that no interface with an IPv4 address has; else 0 or the failing
// call's error.
DNS_STATUS WINAPI MdnsClientStartQuery(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle);

// ERROR_INVALID_PARAMETER when the handle holds no running query of ours.
DNS_STATUS WINAPI MdnsClientStopQuery(PMDNS_QUERY_HANDLE handle);

// Frees what this client handed out: a record list (DnsFreeRecordList) or
// a single block (DnsFreeFlat).
VOID WINAPI MdnsClientFree(PVOID data, DNS_FREE_TYPE freeType);

// Forgets the known answers that packets of the PTR question `question` on
// that interface list: the one whose target is `answer`, or all of them
// (answer null). Its next packet asks every responder, or that one, again.
void MdnsClientForgetKnownAnswers(ULONG interfaceIndex, PCWSTR question, PCWSTR answer);

// A browse reserves the queries it may hold at once for as long as it runs
// (a negative count gives them back): the limit on queries in flight is
// what all reservations add up to, plus a small unreserved share, and at
// most kMaxQueries. Start refuses a query beyond it with
// ERROR_TOO_MANY_CMDS.
void MdnsClientReserveQueries(int queries);

// Ends a session that has no query left without waiting out its linger
// (shutdown, tests); does nothing while queries run.
void MdnsClientCloseIdleSession();

// Puts this client into the platform seam beside the system's, for the
// interfaces where that one is missing or refuses (client_choice.h).
void InstallMulticastDnsClient();
