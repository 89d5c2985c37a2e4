// Fuzz target: sender classification and the dotted-quad formatter. The
// text must stay within its capacity and, when it fits, read back as the
// same address; the classification must follow its three rules.
// fuzz-sources: net/address_class.cpp
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "net/address_class.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 17) {
        return 0;
    }
    uint32_t sender, address, mask;
    memcpy(&sender, data, 4);
    memcpy(&address, data + 4, 4);
    memcpy(&mask, data + 8, 4);
    size_t capacity = data[12] % 24;

    wchar_t text[24];
    wmemset(text, L'#', 24);
    FormatDottedQuad(sender, text, capacity);
    for (size_t i = capacity; i < 24; ++i) {
        if (text[i] != L'#') abort();  // nothing written past the capacity
    }
    if (capacity > 0 && wmemchr(text, L'\0', capacity) == nullptr) abort();
    if (capacity >= 16) {
        unsigned a, b, c, d;
        if (swscanf(text, L"%u.%u.%u.%u", &a, &b, &c, &d) != 4) abort();
        uint8_t octets[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                             static_cast<uint8_t>(c), static_cast<uint8_t>(d)};
        if (a > 255 || b > 255 || c > 255 || d > 255 || memcmp(octets, &sender, 4) != 0) abort();
    }

    uint32_t network = address & mask;
    DeviceState state = ClassifySender(sender, address, mask, network);
    bool bothLinkLocal = IsLinkLocalAddress(sender) && IsLinkLocalAddress(address);
    DeviceState expected = bothLinkLocal ? DeviceStateLinkLocal
                           : (sender & mask) == network ? DeviceStateNormal
                                                        : DeviceStateOtherSubnet;
    if (state != expected) abort();
    const uint8_t* s = reinterpret_cast<const uint8_t*>(&sender);
    unsigned host = s[2] * 256u + s[3];
    if (IsLinkLocalAddress(sender) != (s[0] == 169 && s[1] == 254 && host >= 1 && host <= 65534)) abort();
    return 0;
}
