// Winsock details of our multicast DNS client's sockets. Every socket is
// non-blocking through WSAEventSelect: the client's thread waits on the
// events and then reads until nothing is left.
#include "querier/sockets.h"

#include <string.h>

namespace {

constexpr uint32_t kMdnsGroup = 0xE00000FB;  // 224.0.0.251, host order
constexpr DWORD kMulticastTtl = 255;        // what responders expect of a multicast DNS packet

sockaddr_in MakeAddress(uint32_t address, u_short port)
{
    sockaddr_in result;
    memset(&result, 0, sizeof(result));
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address;
    result.sin_port = htons(port);
    return result;
}

bool SetOption(SOCKET socket, int level, int name, DWORD value)
{
    return setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

bool Bind(SOCKET socket, uint32_t address, u_short port)
{
    sockaddr_in local = MakeAddress(address, port);
    return bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
}

// A readable event for the socket, which also makes it non-blocking. It
// resets itself when a wait takes it: the reader then needs no reset call
// (under Wine a round trip to the server on each wake). A datagram that
// arrives during the reads signals it again, at worst for a read that finds
// nothing.
bool WatchReadable(SOCKET socket, WSAEVENT* readable)
{
    *readable = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // null is WSA_INVALID_EVENT
    return *readable != WSA_INVALID_EVENT && WSAEventSelect(socket, *readable, FD_READ) == 0;
}

LPFN_WSARECVMSG LookUpRecvMsg(SOCKET socket)
{
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD bytes = 0;
    if (WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id), &function,
                 sizeof(function), &bytes, nullptr, nullptr) != 0) {
        return nullptr;
    }
    return function;
}

void CloseSocketAndEvent(SOCKET* socket, WSAEVENT* readable)
{
    if (*socket != INVALID_SOCKET) {
        closesocket(*socket);
        *socket = INVALID_SOCKET;
    }
    if (*readable != WSA_INVALID_EVENT) {
        WSACloseEvent(*readable);
        *readable = WSA_INVALID_EVENT;
    }
}

// What a failed read means for the reader.
int ReadFailure()
{
    int error = WSAGetLastError();
    // A datagram larger than the buffer is consumed and dropped; an ICMP
    // report of an earlier send says nothing about the next datagram.
    return error == WSAEMSGSIZE || error == WSAECONNRESET ? kDatagramSkipped : kNothingWaiting;
}

}  // namespace

bool OpenSharedListener(SharedListener* listener)
{
    listener->socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    listener->readable = WSA_INVALID_EVENT;
    listener->recvMsg = nullptr;
    bool ok = listener->socket != INVALID_SOCKET &&
              SetOption(listener->socket, SOL_SOCKET, SO_REUSEADDR, TRUE) &&
              Bind(listener->socket, INADDR_ANY, kMdnsPort) &&
              SetOption(listener->socket, IPPROTO_IP, IP_PKTINFO, TRUE) &&
              (listener->recvMsg = LookUpRecvMsg(listener->socket)) != nullptr &&
              WatchReadable(listener->socket, &listener->readable);
    if (!ok) {
        CloseSharedListener(listener);
    }
    return ok;
}

void CloseSharedListener(SharedListener* listener)
{
    CloseSocketAndEvent(&listener->socket, &listener->readable);
    listener->recvMsg = nullptr;
}

bool SetGroupMembership(const SharedListener& listener, uint32_t interfaceAddress, bool member)
{
    ip_mreq request;
    memset(&request, 0, sizeof(request));
    request.imr_multiaddr.s_addr = htonl(kMdnsGroup);
    request.imr_interface.s_addr = interfaceAddress;
    return setsockopt(listener.socket, IPPROTO_IP, member ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                      reinterpret_cast<const char*>(&request), sizeof(request)) == 0;
}

DWORD OpenLinkSocket(uint32_t interfaceAddress, LinkSocket* link)
{
    link->socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    link->readable = WSA_INVALID_EVENT;
    in_addr outgoing;
    outgoing.s_addr = interfaceAddress;
    bool ok = link->socket != INVALID_SOCKET && Bind(link->socket, interfaceAddress, 0) &&
              setsockopt(link->socket, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&outgoing),
                         sizeof(outgoing)) == 0 &&
              SetOption(link->socket, IPPROTO_IP, IP_MULTICAST_TTL, kMulticastTtl) &&
              WatchReadable(link->socket, &link->readable);
    if (ok) {
        return 0;
    }
    DWORD error = WSAGetLastError();
    CloseLinkSocket(link);
    return error != 0 ? error : DWORD(WSAEINVAL);
}

void CloseLinkSocket(LinkSocket* link) { CloseSocketAndEvent(&link->socket, &link->readable); }

int ReceiveOnListener(const SharedListener& listener, uint8_t* buffer, size_t capacity,
                      ULONG* interfaceIndex, uint32_t* source)
{
    sockaddr_in from;
    memset(&from, 0, sizeof(from));
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
    WSABUF data;
    data.buf = reinterpret_cast<char*>(buffer);
    data.len = ULONG(capacity);
    WSAMSG message;
    memset(&message, 0, sizeof(message));
    message.name = reinterpret_cast<LPSOCKADDR>(&from);
    message.namelen = sizeof(from);
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control.buf = control;
    message.Control.len = sizeof(control);
    DWORD received = 0;
    if (listener.recvMsg(listener.socket, &message, &received, nullptr, nullptr) != 0) {
        return ReadFailure();
    }
    if ((message.dwFlags & MSG_TRUNC) != 0) {
        return kDatagramSkipped;
    }
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info;
            memcpy(&info, WSA_CMSG_DATA(header), sizeof(info));
            *interfaceIndex = info.ipi_ifindex;
            *source = from.sin_family == AF_INET ? from.sin_addr.s_addr : 0;
            return int(received);
        }
    }
    return kDatagramSkipped;  // without its interface it cannot be placed
}

int ReceiveOnLink(const LinkSocket& link, uint8_t* buffer, size_t capacity, uint32_t* source)
{
    sockaddr_in from;
    memset(&from, 0, sizeof(from));
    int fromLength = sizeof(from);
    int received = recvfrom(link.socket, reinterpret_cast<char*>(buffer), int(capacity), 0,
                            reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received == SOCKET_ERROR) {
        return ReadFailure();
    }
    *source = from.sin_family == AF_INET ? from.sin_addr.s_addr : 0;
    return received;
}

void SendToGroup(const LinkSocket& link, const uint8_t* packet, size_t length)
{
    sockaddr_in group = MakeAddress(htonl(kMdnsGroup), kMdnsPort);
    sendto(link.socket, reinterpret_cast<const char*>(packet), int(length), 0,
           reinterpret_cast<const sockaddr*>(&group), sizeof(group));
}
