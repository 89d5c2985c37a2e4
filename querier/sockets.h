// The sockets of our multicast DNS client: one shared listener on port 5353
// that tells on which interface each datagram arrived, and per interface one
// socket on an ephemeral port that sends the queries and hears unicast
// answers. Why two kinds: see client.cpp.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

constexpr u_short kMdnsPort = 5353;
// Multicast DNS allows packets up to 9000 bytes; larger ones are dropped.
constexpr size_t kMdnsMaxPacketBytes = 9000;

// Bound to 0.0.0.0:5353 alongside any other responder on the machine.
struct SharedListener {
    SOCKET socket;
    WSAEVENT readable;
    LPFN_WSARECVMSG recvMsg;
};

struct LinkSocket {
    SOCKET socket;
    WSAEVENT readable;
};

// Results of a read: a datagram's length, or one of these.
constexpr int kNothingWaiting = -1;  // nothing more to read now (or the socket failed)
constexpr int kDatagramSkipped = 0;  // one datagram was consumed but cannot be used

// False when port 5353 cannot be had; the listener is then left empty.
bool OpenSharedListener(SharedListener* listener);
void CloseSharedListener(SharedListener* listener);

// Adds or removes the listener's membership of 224.0.0.251 on the interface
// with this address.
bool SetGroupMembership(const SharedListener& listener, uint32_t interfaceAddress, bool member);

// A socket bound to the interface's address and an ephemeral port whose
// multicast goes out of that interface. Returns 0 or a Winsock error.
DWORD OpenLinkSocket(uint32_t interfaceAddress, LinkSocket* link);
void CloseLinkSocket(LinkSocket* link);

// Reads one datagram, its source address (network byte order) and, on the
// listener, the index of the interface it arrived on.
int ReceiveOnListener(const SharedListener& listener, uint8_t* buffer, size_t capacity,
                      ULONG* interfaceIndex, uint32_t* source);
int ReceiveOnLink(const LinkSocket& link, uint8_t* buffer, size_t capacity, uint32_t* source);

// Sends a query to 224.0.0.251:5353; a failure is not reported: the query
// goes out again at its next turn.
void SendToGroup(const LinkSocket& link, const uint8_t* packet, size_t length);
