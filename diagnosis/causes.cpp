// The causes the facts show, most likely first. Pure: facts in, findings
// out, so every case is a row of a table in the tests. A cause that only
// explains an empty list is named only while the list is empty; facts that
// hold either way (an interface left out, multicast blocked, a failed send,
// a virtual adapter) are named also when devices were listed.
#include "diagnosis/report.h"

#include "core/globals.h"
#include "diagnosis/facts_view.h"

namespace diagnosis {
namespace {

const wchar_t* const kCauseKeys[] = {
    L"no-interface",     L"firewall-blocked", L"send-failed",     L"subnet-filter",
    L"other-maker-only", L"multicast-blocked", L"link-local-only", L"virtual-adapter",
    L"no-answer",        L"nothing-found",
};
static_assert(sizeof(kCauseKeys) / sizeof(kCauseKeys[0]) == static_cast<int>(Cause::kNothingFound) + 1,
              "one key per cause");

void Add(Report* report, Cause cause, uint32_t address, uint32_t count)
{
    if (report->findingCount >= kMaxFindings) {
        return;
    }
    report->findings[report->findingCount++] = Finding{cause, address, count};
}

bool FirewallExplainsSilence(const FirewallFacts& firewall)
{
    return firewall.enabled == Tri::kYes &&
           (firewall.ourRule == Tri::kNo || firewall.ourRuleEnabled == Tri::kNo);
}

void AddPerInterface(const Facts& facts, Report* report)
{
    for (int i = 0; i < facts.countCount && i < diag::kMaxInterfaces; ++i) {
        const diag::InterfaceCounts& c = facts.counts[i];
        if (Searched(facts, c) && c.counts[diag::kRequestsFailed] > 0) {
            Add(report, Cause::kSendFailed, c.address, c.counts[diag::kRequestsFailed]);
        }
    }
}

uint32_t UnsearchedCount(const Facts& facts)
{
    uint32_t unsearched = 0;
    for (int i = 0; i < facts.interfaceCount && i < diag::kMaxInterfaces; ++i) {
        unsearched += facts.interfaces[i].searched ? 0 : 1;
    }
    return facts.subnetFilter == kAllInterfaces ? 0 : unsearched;
}

// Our client hears every multicast DNS packet on its interface, so none at
// all while broadcast answers arrive means multicast does not get through.
void AddMulticastBlocked(const Facts& facts, Report* report)
{
    if (!facts.mdnsAsked) {
        return;
    }
    for (int i = 0; i < facts.countCount && i < diag::kMaxInterfaces; ++i) {
        const diag::InterfaceCounts& c = facts.counts[i];
        if (Searched(facts, c) && c.mdnsClient == diag::kMdnsClientOwn &&
            c.counts[diag::kAnswersReceived] > 0 && c.counts[diag::kMdnsPacketsHeard] == 0) {
            Add(report, Cause::kMulticastBlocked, c.address, 0);
        }
    }
}

bool AllLinkLocal(const Facts& facts)
{
    for (int i = 0; i < facts.interfaceCount && i < diag::kMaxInterfaces; ++i) {
        if (!facts.interfaces[i].linkLocal) {
            return false;
        }
    }
    return facts.interfaceCount > 0;
}

void AddVirtualAdapters(const Facts& facts, Report* report)
{
    for (int i = 0; i < facts.interfaceCount && i < diag::kMaxInterfaces; ++i) {
        if (facts.interfaces[i].searched && facts.interfaces[i].looksVirtual) {
            Add(report, Cause::kVirtualAdapter, facts.interfaces[i].address, 0);
        }
    }
}

}  // namespace

const wchar_t* CauseKey(Cause cause)
{
    int index = static_cast<int>(cause);
    if (index < 0 || index > static_cast<int>(Cause::kNothingFound)) {
        return L"";
    }
    return kCauseKeys[index];
}

void Diagnose(const Facts& facts, Report* report)
{
    *report = Report{};
    bool empty = facts.rowsListed == 0;
    if (facts.interfaceCount <= 0) {
        Add(report, Cause::kNoInterface, 0, 0);
        return;
    }
    Totals totals = SumSearched(facts);
    bool silence = totals.requests + totals.questions > 0 && totals.heard == 0;
    bool firewall = empty && silence && FirewallExplainsSilence(facts.firewall);
    if (firewall) {
        Add(report, Cause::kFirewallBlocked, 0, 0);
    }
    AddPerInterface(facts, report);
    uint32_t unsearched = UnsearchedCount(facts);
    if (unsearched > 0) {
        Add(report, Cause::kSubnetFilter, 0, unsearched);
    }
    if (empty && totals.notMaker > 0 && totals.maker == 0) {
        Add(report, Cause::kOtherMakerOnly, 0, static_cast<uint32_t>(totals.notMaker));
    }
    AddMulticastBlocked(facts, report);
    if (empty && AllLinkLocal(facts)) {
        Add(report, Cause::kLinkLocalOnly, 0, 0);
    }
    AddVirtualAdapters(facts, report);
    if (empty && silence && !firewall) {
        Add(report, Cause::kNoAnswer, 0, 0);
    }
    if (empty && report->findingCount == 0) {
        Add(report, Cause::kNothingFound, 0, 0);
    }
}

}  // namespace diagnosis
