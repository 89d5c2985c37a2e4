// Our multicast DNS client's answers: decides whether a received packet
// answers a query, and turns its records into the DNS_RECORD list that the
// system client's callers expect (UTF-16 names, one heap block per record).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include <stdint.h>

#include "dns/wire.h"

// True when an answer-section record of class IN has the query's name
// (canonical text, compared without regard to ASCII case) and its type
// (any type for a query of type ANY).
bool PacketAnswersQuery(const DnsMessage& message, const char* canonicalName, uint16_t type);

// The packet's answer records and then its additional records, in packet
// order, as far as they are A, AAAA, PTR, SRV or TXT of class IN and well
// formed; others are left out. Null when there is none or memory runs out.
PDNS_RECORD BuildRecordList(const DnsMessage& message);

// Frees a list that BuildRecordList made.
void FreeRecordList(PDNS_RECORD list);
