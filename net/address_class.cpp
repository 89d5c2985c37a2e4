// Sender classification for broadcast discovery replies.
#include "net/address_class.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

bool IsLinkLocalAddress(uint32_t address)
{
    // Read the octets in wire order, independent of the host's byte order.
    unsigned char octets[4];
    memcpy(octets, &address, sizeof(octets));
    unsigned host = octets[2] * 256u + octets[3];
    return octets[0] == 169 && octets[1] == 254 && host >= 1 && host <= 65534;
}

void FormatDottedQuad(uint32_t address, wchar_t* text, size_t capacity)
{
    if (capacity == 0) {
        return;
    }
    unsigned char octets[4];
    memcpy(octets, &address, sizeof(octets));
    if (swprintf(text, capacity, L"%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]) < 0) {
        text[0] = L'\0';
    }
    text[capacity - 1] = L'\0';
}

DeviceState ClassifySender(uint32_t sender, uint32_t interfaceAddress, uint32_t mask,
                           uint32_t network)
{
    if (IsLinkLocalAddress(sender) && IsLinkLocalAddress(interfaceAddress)) {
        return DeviceStateLinkLocal;
    }
    if ((sender & mask) == network) {
        return DeviceStateNormal;
    }
    return DeviceStateOtherSubnet;
}
