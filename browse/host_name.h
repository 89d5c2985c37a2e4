// Host names as the multicast DNS path keeps them: an A record's owner name
// without its domain, in a fixed-capacity field. Portable: no Windows headers.
#pragma once

#include <stddef.h>
#include <wchar.h>

enum : int {
    kDnsNameChars = 256,  // host, instance and seen names
};

// Copies an A record's owner name into a host name field: cut to fit, then
// at its last "." (speaker1.local gives speaker1).
void CopyHostName(wchar_t* dest, size_t capacity, const wchar_t* ownerName);
