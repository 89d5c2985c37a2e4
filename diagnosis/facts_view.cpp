// Lookups in the facts; every loop keeps to the arrays' fixed bounds
// whatever the counts say.
#include "diagnosis/facts_view.h"

namespace diagnosis {

const InterfaceFacts* InterfaceOf(const Facts& facts, uint32_t address)
{
    for (int i = 0; i < facts.interfaceCount && i < diag::kMaxInterfaces; ++i) {
        if (facts.interfaces[i].address == address) {
            return &facts.interfaces[i];
        }
    }
    return nullptr;
}

const diag::InterfaceCounts* CountsOf(const Facts& facts, uint32_t address)
{
    for (int i = 0; i < facts.countCount && i < diag::kMaxInterfaces; ++i) {
        if (facts.counts[i].address == address) {
            return &facts.counts[i];
        }
    }
    return nullptr;
}

bool Searched(const Facts& facts, const diag::InterfaceCounts& counts)
{
    const InterfaceFacts* known = InterfaceOf(facts, counts.address);
    return known == nullptr || known->searched;
}

Totals SumSearched(const Facts& facts)
{
    Totals totals = {};
    for (int i = 0; i < facts.countCount && i < diag::kMaxInterfaces; ++i) {
        const diag::InterfaceCounts& c = facts.counts[i];
        if (!Searched(facts, c)) {
            continue;
        }
        totals.requests += c.counts[diag::kRequestsSent];
        totals.questions += c.counts[diag::kMdnsQuestionsSent];
        totals.heard += uint64_t{c.counts[diag::kAnswersReceived]} +
                        c.counts[diag::kMdnsPacketsHeard] + c.counts[diag::kMdnsServiceAnswers];
        totals.notMaker += c.counts[diag::kAnswersNotMaker];
        totals.maker += uint64_t{c.counts[diag::kAnswersListed]} + c.counts[diag::kAnswersHeldBack] +
                        c.counts[diag::kMdnsMakerInstances];
    }
    return totals;
}

}  // namespace diagnosis
