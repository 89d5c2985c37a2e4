// Fuzz target: composition of a device's web page address from texts a
// device reported. Whatever the texts, the result is either refused (and
// empty) or exactly "http://" + a dotted quad + ":" + a port + "/".
// fuzz-sources: core/web_address.cpp
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "core/web_address.h"

namespace {

bool IsPortText(const wchar_t* text, size_t length)
{
    if (length == 0 || length > 5 || text[0] == L'0') return false;
    unsigned value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    // First byte: the output capacity; the rest split at the first 0xFF
    // into the address text and the port text, one byte per character.
    size_t capacity = data[0] % 48;
    wchar_t ip[80] = {}, port[80] = {};
    size_t ipLength = 0, portLength = 0;
    bool inPort = false;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0xFF && !inPort) {
            inPort = true;
        } else if (inPort && portLength < 79) {
            port[portLength++] = data[i];
        } else if (!inPort && ipLength < 79) {
            ip[ipLength++] = data[i];
        }
    }

    wchar_t out[48];
    wmemset(out, L'#', 48);
    bool ok = ComposeDevicePageAddress(ip, port, out, capacity);
    for (size_t i = capacity; i < 48; ++i) {
        if (out[i] != L'#') abort();
    }
    if (!ok) {
        if (capacity > 0 && out[0] != L'\0') abort();
        return 0;
    }
    if (!IsDottedQuadText(ip)) abort();
    size_t length = wcsnlen(out, capacity);
    if (length == capacity || wcsncmp(out, L"http://", 7) != 0 || out[length - 1] != L'/') abort();
    if (wcsncmp(out + 7, ip, wcslen(ip)) != 0 || out[7 + wcslen(ip)] != L':') abort();
    const wchar_t* portOut = out + 8 + wcslen(ip);
    if (!IsPortText(portOut, static_cast<size_t>(out + length - 1 - portOut))) abort();
    return 0;
}
