// Turns the payload of one broadcast discovery reply into the text fields of
// a DeviceRecord. Pure code over a buffer and its length, so it can be tested
// and fuzzed anywhere; no Windows headers.
//
// The payload is 8-bit text in the process's multibyte code page (the C
// runtime's current locale), divided into lines by CR LF:
//   line 1 name, line 2 MAC address text, line 3 description, line 4 web port;
//   later lines are ignored.
#pragma once

#include <stddef.h>

#include "core/device_record.h"

// Sets portText to "80", then fills name, macText, description and portText
// from the lines present; touches no other field. Never fails: any bytes at
// all give some (possibly empty) texts, each cut to its field's capacity.
void ParseDiscoveryReply(const char* bytes, size_t length, DeviceRecord* record);

// True when the parsed description begins with "Orvel " (case as written):
// only the maker's devices are listed, so the receive worker drops every
// other answer before it costs an ARP read or an allocation. The window
// applies the same test to whatever reaches it.
bool IsMakersReply(const DeviceRecord* record);

// True when the parsed reply reached its description line: the shape of a
// discovery reply, whoever made the device. Anything shorter is some other
// datagram that came to the port (counted as malformed, not as another
// maker's).
bool IsWellFormedReply(const DeviceRecord* record);
