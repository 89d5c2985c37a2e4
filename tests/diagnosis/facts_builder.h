// Facts as a test writes them: interfaces by address, counters by name.
#pragma once

#include "diagnosis/report.h"

#include <winsock2.h>

#include <initializer_list>
#include <utility>

inline uint32_t Ip(const char* text)
{
    return inet_addr(text);
}

// An interface, searched, not link-local, not virtual, with empty counts.
inline void AddInterface(diagnosis::Facts* facts, const char* address, bool searched = true)
{
    diagnosis::InterfaceFacts& known = facts->interfaces[facts->interfaceCount++];
    known.address = Ip(address);
    known.mask = Ip("255.255.255.0");
    known.searched = searched;
    diag::InterfaceCounts& counts = facts->counts[facts->countCount++];
    counts.address = known.address;
}

inline void SetCounts(diagnosis::Facts* facts, int index,
                      std::initializer_list<std::pair<diag::Counter, uint32_t>> values)
{
    for (const auto& value : values) {
        facts->counts[index].counts[value.first] = value.second;
    }
}

// One interface, both ways asked, firewall unknown, the filter open.
inline diagnosis::Facts BaseFacts()
{
    diagnosis::Facts facts = {};
    facts.subnetFilter = 0xFFFFFFFFu;
    facts.broadcastAsked = true;
    facts.mdnsAsked = true;
    return facts;
}
