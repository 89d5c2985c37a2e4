// Parts of the broadcast discovery receive worker that tests drive directly.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "net/discovery_request.h"

// Length of one socket wait of the receive worker.
constexpr DWORD kReceiveSliceMs = 100;
// Its wait on the socket's readable event when nothing else is due: an
// answer or the abort event ends it at once.
constexpr DWORD kReceiveIdleWaitMs = 1000;

// How long the receive worker's wait on its events may last: while answers
// wait for a read of the ARP table, one slice, so that they go out soon
// even when nothing more arrives.
DWORD ReceiveWaitMs(bool answersAwaitArpRead);

// Called with socketMutex held. Waits until socket is readable, for at most
// one slice, and returns true with the lock still held when a datagram (or
// a pending socket error) is ready to be read. Otherwise it releases the
// lock and, when the platform's wait failed or returned early (a socket
// with no local port yet may make it fail at once), spends the rest of the
// slice waiting on abortEvent, so that the caller's loop never spins; it
// then returns false.
bool WaitForDatagram(SOCKET socket, HANDLE socketMutex, HANDLE abortEvent);

// Datagrams read under one hold of the socket lock, before any of them is
// handled; the lock is held for the reads alone.
constexpr int kReceiveBatchDatagrams = 16;

struct ReceivedDatagram {
    sockaddr_in sender;
    int length;
    char bytes[kDiscoveryReplyMaxBytes];
};

// Puts the socket in non-blocking mode, so that a read of an empty socket
// returns at once; true when it took.
bool MakeReadsReturnAtOnce(SOCKET socket);

// Called with the lock held, after WaitForDatagram said a datagram is ready.
// Reads up to capacity datagrams (one alone unless readsReturnAtOnce, since
// a second read could block with the lock held), stopping early when the
// socket is drained or a read fails. Keeps, in order, those of some length
// from an IPv4 sender; empty and oversized datagrams are dropped. *failed is
// set when a read failed for another reason than those two or a drained
// socket. Returns the number kept.
int ReadDatagrams(SOCKET socket, bool readsReturnAtOnce, ReceivedDatagram* batch, int capacity,
                  bool* failed);
