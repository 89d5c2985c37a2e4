// Looking things up in the facts, shared by the causes and the texts.
#pragma once

#include "diagnosis/report.h"

namespace diagnosis {

// The interface facts of an address, or null when the interface is gone
// from the table since it was counted.
const InterfaceFacts* InterfaceOf(const Facts& facts, uint32_t address);
// The counts of an address, or null when nothing was counted there.
const diag::InterfaceCounts* CountsOf(const Facts& facts, uint32_t address);
// Counts of an interface the filter leaves out say nothing about the search.
bool Searched(const Facts& facts, const diag::InterfaceCounts& counts);

struct Totals {
    uint64_t requests;   // broadcast requests that went out
    uint64_t questions;  // multicast DNS questions
    uint64_t heard;      // anything that came back
    uint64_t notMaker;
    uint64_t maker;  // answers of the maker's devices, listed or held back
};
// Over the searched interfaces.
Totals SumSearched(const Facts& facts);

}  // namespace diagnosis
