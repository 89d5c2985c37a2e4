// The broadcast discovery request: a fixed text datagram sent to UDP port
// 30303 at an interface's directed broadcast address. Devices answer with a
// datagram of text lines (see discovery_reply.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint16_t kDiscoveryPort = 30303;

// Exactly these 29 bytes go on the wire: no terminating zero, no line end.
constexpr char kDiscoveryRequest[] = "Discovery: Who is out there ?";
constexpr int kDiscoveryRequestLength = 29;
static_assert(sizeof(kDiscoveryRequest) - 1 == kDiscoveryRequestLength,
              "the request is 29 bytes without its terminator");

// Largest reply read; a longer datagram fails the read and is dropped whole.
constexpr int kDiscoveryReplyMaxBytes = 1536;
