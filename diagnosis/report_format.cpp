// The whole report as plain text and as one JSON object, and the summary
// of an empty list: what was tried and heard, the firewall, the causes.
#include "diagnosis/report.h"

#include "core/resource.h"
#include "diagnosis/facts_view.h"
#include "diagnosis/report_text.h"
#include "net/address_class.h"

#include <icftypes.h>
#include <stdio.h>

namespace diagnosis {
namespace {

void AppendLine(TextBuffer* out, const wchar_t* line)
{
    AppendText(out, line);
    AppendText(out, L"\r\n");
}

void AppendLoadedLine(TextBuffer* out, UINT id)
{
    wchar_t line[kLineChars];
    LoadText(id, line, kLineChars);
    AppendLine(out, line);
}

UINT TriTextId(Tri value)
{
    return value == Tri::kYes ? IDS_DIAG_YES : value == Tri::kNo ? IDS_DIAG_NO : IDS_DIAG_UNKNOWN;
}

// The profiles named in bits, "none" without any, "unknown" when unread.
void ProfilesText(long profiles, bool known, wchar_t* text, size_t capacity)
{
    static const struct {
        long bit;
        UINT id;
    } kProfiles[] = {{NET_FW_PROFILE2_DOMAIN, IDS_DIAG_PROFILE_DOMAIN},
                     {NET_FW_PROFILE2_PRIVATE, IDS_DIAG_PROFILE_PRIVATE},
                     {NET_FW_PROFILE2_PUBLIC, IDS_DIAG_PROFILE_PUBLIC}};
    text[0] = L'\0';
    if (!known || profiles == 0) {
        LoadText(known ? IDS_DIAG_NONE : IDS_DIAG_UNKNOWN, text, capacity);
        return;
    }
    size_t used = 0;
    for (const auto& profile : kProfiles) {
        if ((profiles & profile.bit) == 0 || used + 2 >= capacity) {
            continue;
        }
        if (used > 0) {
            text[used++] = L',';
            text[used++] = L' ';
            text[used] = L'\0';
        }
        LoadText(profile.id, text + used, capacity - used);
        used = wcslen(text);
    }
}

void AppendCounts(const Facts& facts, const diag::InterfaceCounts& c, TextBuffer* out)
{
    wchar_t line[kLineChars];
    const uint32_t* n = c.counts;
    if (facts.broadcastAsked) {
        FormatLoaded(line, kLineChars, IDS_DIAG_BROADCAST, n[diag::kRequestsSent],
                     n[diag::kRequestsFailed], n[diag::kAnswersReceived], n[diag::kAnswersListed],
                     n[diag::kAnswersHeldBack], n[diag::kAnswersNotMaker], n[diag::kAnswersMalformed],
                     n[diag::kAnswersDroppedByArpGate], n[diag::kAnswersOutsideFilter]);
        AppendLine(out, line);
        if (c.lastSendError != 0) {
            FormatLoaded(line, kLineChars, IDS_DIAG_SEND_ERROR, static_cast<unsigned long>(c.lastSendError));
            AppendLine(out, line);
        }
    }
    if (facts.mdnsAsked) {
        wchar_t client[64];
        LoadText(c.mdnsClient == diag::kMdnsClientSystem ? IDS_DIAG_CLIENT_SYSTEM
                 : c.mdnsClient == diag::kMdnsClientOwn  ? IDS_DIAG_CLIENT_OWN
                                                         : IDS_DIAG_UNKNOWN,
                 client, 64);
        FormatLoaded(line, kLineChars, IDS_DIAG_MDNS, client, n[diag::kMdnsQuestionsSent],
                     n[diag::kMdnsPacketsHeard], n[diag::kMdnsServiceAnswers],
                     n[diag::kMdnsMakerInstances], n[diag::kMdnsLookupsTimedOut]);
        AppendLine(out, line);
    }
}

void AppendInterfaces(const Facts& facts, TextBuffer* out)
{
    wchar_t line[kLineChars];
    wchar_t address[16];
    wchar_t notSearched[96];
    for (int i = 0; i < facts.interfaceCount && i < diag::kMaxInterfaces; ++i) {
        const InterfaceFacts& known = facts.interfaces[i];
        FormatDottedQuad(known.address, address, 16);
        notSearched[0] = L'\0';
        if (!known.searched) {
            LoadText(IDS_DIAG_NOT_SEARCHED, notSearched, 96);
        }
        FormatLoaded(line, kLineChars, IDS_DIAG_INTERFACE, address, known.description, notSearched);
        AppendLine(out, line);
        const diag::InterfaceCounts* counts = CountsOf(facts, known.address);
        if (counts != nullptr) {
            AppendCounts(facts, *counts, out);
        } else {
            AppendLoadedLine(out, IDS_DIAG_NOT_COUNTED);
        }
    }
    // Counted on an interface gone from the table since.
    for (int i = 0; i < facts.countCount && i < diag::kMaxInterfaces; ++i) {
        if (InterfaceOf(facts, facts.counts[i].address) == nullptr) {
            FormatDottedQuad(facts.counts[i].address, address, 16);
            FormatLoaded(line, kLineChars, IDS_DIAG_INTERFACE, address, L"", L"");
            AppendLine(out, line);
            AppendCounts(facts, facts.counts[i], out);
        }
    }
    if (facts.countCount >= diag::kMaxInterfaces) {
        AppendLoadedLine(out, IDS_DIAG_MORE_INTERFACES);
    }
}

void AppendFirewall(const FirewallFacts& firewall, TextBuffer* out)
{
    wchar_t line[kLineChars];
    wchar_t on[16], rule[16], ruleEnabled[16], inForce[64], profilesOn[64];
    AppendLoadedLine(out, IDS_DIAG_FIREWALL);
    LoadText(TriTextId(firewall.enabled), on, 16);
    bool known = firewall.enabled != Tri::kUnknown;
    ProfilesText(firewall.profilesInForce, known, inForce, 64);
    ProfilesText(firewall.profilesOn, known, profilesOn, 64);
    FormatLoaded(line, kLineChars, IDS_DIAG_FIREWALL_ON, on, inForce, profilesOn);
    AppendLine(out, line);
    LoadText(TriTextId(firewall.ourRule), rule, 16);
    LoadText(TriTextId(firewall.ourRuleEnabled), ruleEnabled, 16);
    FormatLoaded(line, kLineChars, IDS_DIAG_FIREWALL_RULE, rule, ruleEnabled);
    AppendLine(out, line);
    wchar_t other[300];
    if (firewall.otherProduct == Tri::kYes && firewall.otherProductNames[0] != L'\0') {
        _snwprintf(other, 300, L"%.255ls", firewall.otherProductNames);
        other[299] = L'\0';
    } else {
        LoadText(firewall.otherProduct == Tri::kUnknown ? IDS_DIAG_UNKNOWN
                 : firewall.otherProduct == Tri::kNo    ? IDS_DIAG_NONE
                                                        : IDS_DIAG_YES,
                 other, 300);
    }
    FormatLoaded(line, kLineChars, IDS_DIAG_FIREWALL_OTHER, other);
    AppendLine(out, line);
}

UINT WaysTextId(const Facts& facts)
{
    if (facts.broadcastAsked && facts.mdnsAsked) {
        return IDS_DIAG_WAY_BOTH;
    }
    return facts.mdnsAsked ? IDS_DIAG_WAY_MDNS : IDS_DIAG_WAY_BROADCAST;
}

int FindingCount(const Report& report)
{
    return report.findingCount < 0 ? 0 : report.findingCount > kMaxFindings ? kMaxFindings : report.findingCount;
}

// JSON pieces: a key and its value, the separator written before.
void JsonKey(TextBuffer* out, const wchar_t* key, bool first)
{
    if (!first) {
        AppendChar(out, L',');
    }
    AppendJsonString(out, key);
    AppendChar(out, L':');
}

void JsonNumber(TextBuffer* out, const wchar_t* key, unsigned long value, bool first = false)
{
    wchar_t number[24];
    _snwprintf(number, 24, L"%lu", value);
    number[23] = L'\0';
    JsonKey(out, key, first);
    AppendText(out, number);
}

void JsonString(TextBuffer* out, const wchar_t* key, const wchar_t* value, bool first = false)
{
    JsonKey(out, key, first);
    AppendJsonString(out, value);
}

const wchar_t* TriWord(Tri value)
{
    return value == Tri::kYes ? L"yes" : value == Tri::kNo ? L"no" : L"unknown";
}

const wchar_t* ClientWord(int32_t client)
{
    return client == diag::kMdnsClientSystem ? L"system" : client == diag::kMdnsClientOwn ? L"own" : L"unknown";
}

// The counters' JSON names, in the order of diag::Counter.
const wchar_t* const kCounterKeys[diag::kCounterCount] = {
    L"requestsSent",       L"requestsFailed",      L"answersReceived",     L"answersListed",
    L"answersHeldBack",    L"answersNotMaker",     L"answersMalformed",    L"answersDroppedByArpGate",
    L"answersOutsideFilter", L"mdnsQuestionsSent", L"mdnsPacketsHeard",    L"mdnsServiceAnswers",
    L"mdnsMakerInstances", L"mdnsLookupsTimedOut",
};

// One interface's object: its address, description, whether it was
// searched, and every counter (zeros where nothing was counted).
void JsonInterface(const Facts& facts, uint32_t address, const diag::InterfaceCounts* counts,
                   bool first, TextBuffer* out)
{
    static const diag::InterfaceCounts kNothingCounted = {};
    if (counts == nullptr) {
        counts = &kNothingCounted;
    }
    wchar_t addressText[16];
    const InterfaceFacts* known = InterfaceOf(facts, address);
    AppendText(out, first ? L"{" : L",{");
    FormatDottedQuad(address, addressText, 16);
    JsonString(out, L"interface", addressText, true);
    JsonString(out, L"description", known != nullptr ? known->description : L"");
    JsonKey(out, L"searched", false);
    AppendText(out, known == nullptr || known->searched ? L"true" : L"false");
    for (int k = 0; k < diag::kCounterCount; ++k) {
        JsonNumber(out, kCounterKeys[k], counts->counts[k]);
    }
    JsonNumber(out, L"lastSendError", counts->lastSendError);
    JsonString(out, L"mdnsClient", ClientWord(counts->mdnsClient));
    AppendChar(out, L'}');
}

// Every interface of the table, then any counted one gone from it since.
void JsonCounters(const Facts& facts, TextBuffer* out)
{
    AppendText(out, L"\"counters\":[");
    bool first = true;
    for (int i = 0; i < facts.interfaceCount && i < diag::kMaxInterfaces; ++i) {
        uint32_t address = facts.interfaces[i].address;
        JsonInterface(facts, address, CountsOf(facts, address), first, out);
        first = false;
    }
    for (int i = 0; i < facts.countCount && i < diag::kMaxInterfaces; ++i) {
        if (InterfaceOf(facts, facts.counts[i].address) == nullptr) {
            JsonInterface(facts, facts.counts[i].address, &facts.counts[i], first, out);
            first = false;
        }
    }
    AppendChar(out, L']');
}

void JsonFirewall(const FirewallFacts& firewall, TextBuffer* out)
{
    AppendText(out, L",\"firewall\":{");
    JsonString(out, L"enabled", TriWord(firewall.enabled), true);
    JsonNumber(out, L"profilesInForce", static_cast<unsigned long>(firewall.profilesInForce));
    JsonNumber(out, L"profilesOn", static_cast<unsigned long>(firewall.profilesOn));
    JsonString(out, L"ourRule", TriWord(firewall.ourRule));
    JsonString(out, L"ourRuleEnabled", TriWord(firewall.ourRuleEnabled));
    JsonString(out, L"otherProduct", TriWord(firewall.otherProduct));
    wchar_t names[256];
    _snwprintf(names, 256, L"%.255ls", firewall.otherProductNames);
    names[255] = L'\0';
    JsonString(out, L"otherProductNames", names);
    AppendChar(out, L'}');
}

}  // namespace

bool FormatText(const Facts& facts, const Report& report, TextBuffer* out)
{
    wchar_t line[kLineChars];
    wchar_t ways[64];
    AppendLoadedLine(out, IDS_DIAG_TITLE);
    FormatLoaded(line, kLineChars, IDS_DIAG_ROWS, facts.rowsListed);
    AppendLine(out, line);
    LoadText(WaysTextId(facts), ways, 64);
    FormatLoaded(line, kLineChars, IDS_DIAG_WAYS, ways);
    AppendLine(out, line);
    AppendText(out, L"\r\n");
    AppendInterfaces(facts, out);
    AppendText(out, L"\r\n");
    AppendFirewall(facts.firewall, out);
    AppendText(out, L"\r\n");
    AppendLoadedLine(out, IDS_DIAG_CAUSES);
    int findings = FindingCount(report);
    for (int i = 0; i < findings; ++i) {
        AppendText(out, L"  - ");
        CauseText(facts, report.findings[i], line, kLineChars);
        AppendLine(out, line);
    }
    if (findings == 0) {
        AppendLoadedLine(out, IDS_DIAG_NO_CAUSE);
    }
    AppendText(out, L"\r\n");
    AppendLoadedLine(out, IDS_DIAG_ARP_MARKS);
    return !out->failed;
}

bool FormatJson(const Facts& facts, const Report& report, TextBuffer* out)
{
    wchar_t text[kLineChars];
    AppendChar(out, L'{');
    JsonCounters(facts, out);
    JsonFirewall(facts.firewall, out);
    AppendText(out, L",\"causes\":[");
    int findings = FindingCount(report);
    for (int i = 0; i < findings; ++i) {
        AppendText(out, i == 0 ? L"{" : L",{");
        JsonString(out, L"key", CauseKey(report.findings[i].cause), true);
        CauseText(facts, report.findings[i], text, kLineChars);
        JsonString(out, L"text", text);
        AppendChar(out, L'}');
    }
    AppendText(out, L"]}");
    return !out->failed;
}

void FormatSummary(const Facts& facts, const Report& report, wchar_t* text, size_t capacity)
{
    if (text == nullptr || capacity == 0) {
        return;
    }
    int searched = 0;
    for (int i = 0; i < facts.interfaceCount && i < diag::kMaxInterfaces; ++i) {
        searched += facts.interfaces[i].searched ? 1 : 0;
    }
    Totals totals = SumSearched(facts);
    wchar_t cause[kLineChars] = L"";
    if (FindingCount(report) > 0) {
        CauseText(facts, report.findings[0], cause, kLineChars);
    }
    FormatLoaded(text, capacity, IDS_DIAG_SUMMARY, searched, static_cast<unsigned>(totals.requests),
                 static_cast<unsigned>(totals.questions), static_cast<unsigned>(totals.heard), cause);
}

}  // namespace diagnosis
