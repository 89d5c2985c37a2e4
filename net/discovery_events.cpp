// Counts and event lines of broadcast discovery.
#include "net/discovery_events.h"

#include "net/address_class.h"

namespace {

constexpr size_t kQuadChars = 16;

const wchar_t* FateWords(diag::Counter fate)
{
    switch (fate) {
    case diag::kAnswersListed: return L"listed";
    case diag::kAnswersHeldBack: return L"held back (unchanged repeat)";
    case diag::kAnswersNotMaker: return L"not the maker's";
    case diag::kAnswersMalformed: return L"malformed";
    case diag::kAnswersDroppedByArpGate: return L"dropped by the ARP gate";
    case diag::kAnswersOutsideFilter: return L"outside the subnet filter";
    default: return L"?";
    }
}

}  // namespace

void NoteAnswerFate(uint32_t interfaceAddress, uint32_t sender, diag::Counter fate)
{
    diag::Count(interfaceAddress, fate);
    if (!diag::EventsWanted()) {
        return;
    }
    wchar_t from[kQuadChars];
    wchar_t on[kQuadChars];
    FormatDottedQuad(sender, from, kQuadChars);
    FormatDottedQuad(interfaceAddress, on, kQuadChars);
    diag::Event(L"answer from %ls on %ls: %ls", from, on, FateWords(fate));
}

void NoteRequestSent(uint32_t interfaceAddress, uint32_t destination, bool sent, DWORD error)
{
    diag::Count(interfaceAddress, sent ? diag::kRequestsSent : diag::kRequestsFailed);
    if (!sent) {
        diag::NoteSendError(interfaceAddress, error);
    }
    if (!diag::EventsWanted()) {
        return;
    }
    wchar_t on[kQuadChars];
    wchar_t to[kQuadChars];
    FormatDottedQuad(interfaceAddress, on, kQuadChars);
    FormatDottedQuad(destination, to, kQuadChars);
    if (sent) {
        diag::Event(L"request sent on %ls to %ls", on, to);
    } else {
        diag::Event(L"request on %ls to %ls failed: error %lu", on, to, static_cast<unsigned long>(error));
    }
}
