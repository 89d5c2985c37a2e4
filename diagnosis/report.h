// Why a list is empty: the facts the program saw (its counters, its
// interfaces, the firewall as read, the subnet filter), the causes they
// show, most likely first, each with what to do, and the report in words
// for the window and the console. Only what the program saw; a cause is
// named only from evidence. Nothing here is sent or written anywhere.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "core/diagnostics.h"
#include "rows/export_text.h"

namespace diagnosis {

enum class Cause : int {
    kNoInterface,       // "no-interface": no IPv4 interface besides loopback
    kFirewallBlocked,   // "firewall-blocked": nothing arrived, firewall on, our rule missing
    kSendFailed,        // "send-failed": requests could not be sent on an interface
    kSubnetFilter,      // "subnet-filter": interfaces left unsearched by the filter
    kOtherMakerOnly,    // "other-maker-only": answers heard, none from the maker
    kMulticastBlocked,  // "multicast-blocked": broadcast answers but no multicast DNS packet at all
    kLinkLocalOnly,     // "link-local-only": only link-local addresses
    kVirtualAdapter,    // "virtual-adapter": an interface that looks like a VPN or virtual adapter
    kNoAnswer,          // "no-answer": requests sent, nothing heard, nothing else explains it
    kNothingFound,      // "nothing-found": what was tried and heard, plainly
};

// The cause's stable key (as in the comments above), for scripts.
const wchar_t* CauseKey(Cause cause);

enum class Tri : int32_t { kUnknown = 0, kNo = 1, kYes = 2 };

struct FirewallFacts {
    Tri enabled;           // on in at least one profile in force
    long profilesInForce;  // NET_FW_PROFILE2_* bits, 0 when unknown
    long profilesOn;       // of those, the ones where it is on
    Tri ourRule;           // our rule for this program present
    Tri ourRuleEnabled;    // and enabled
    Tri otherProduct;      // another firewall product registered with Windows
    wchar_t otherProductNames[256];
};

struct InterfaceFacts {
    uint32_t address;  // network byte order
    uint32_t mask;
    bool searched;     // the subnet filter admits it
    bool linkLocal;
    bool looksVirtual;  // VPN, tunnel or virtual adapter by type or description
    wchar_t description[128];
};

struct Facts {
    InterfaceFacts interfaces[diag::kMaxInterfaces];
    int interfaceCount;
    diag::InterfaceCounts counts[diag::kMaxInterfaces];
    int countCount;
    FirewallFacts firewall;
    uint32_t subnetFilter;  // kAllInterfaces or a network
    int rowsListed;
    bool broadcastAsked;  // the ways in use
    bool mdnsAsked;
};

constexpr int kMaxFindings = 12;

struct Finding {
    Cause cause;
    uint32_t interfaceAddress;  // the interface it concerns, or 0 for all
    uint32_t count;             // e.g. interfaces left unsearched, or 0
};

struct Report {
    Finding findings[kMaxFindings];
    int findingCount;  // most likely first; never 0 (kNothingFound at least when no row is listed)
};

// Reads what it needs now: the counters, the interface table and the
// adapters, the firewall (read only) for programPath, the subnet filter and
// the ways in use. Holds the interface table's lock only to copy it.
void Gather(const wchar_t* programPath, int rowsListed, Facts* facts);

// Pure: the causes the facts show, most likely first.
void Diagnose(const Facts& facts, Report* report);

// The whole report as plain text (CRLF lines): what was tried and heard per
// interface, the firewall, the causes with what to do, the ARP column's
// marks explained. False when memory ran out.
bool FormatText(const Facts& facts, const Report& report, TextBuffer* out);
// One JSON object: "counters" (per interface), "firewall", "causes" (each
// with "key" and "text"). False when memory ran out.
bool FormatJson(const Facts& facts, const Report& report, TextBuffer* out);
// One or two sentences for an empty list: what was tried and the likeliest
// cause (bounded, zero-terminated).
void FormatSummary(const Facts& facts, const Report& report, wchar_t* text, size_t capacity);

}  // namespace diagnosis
