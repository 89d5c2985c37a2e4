// Counts and event lines of the multicast DNS browse.
#include "browse/mdns_events.h"

#include "core/diagnostics.h"
#include "net/address_class.h"

namespace {

constexpr size_t kQuadChars = 16;

}  // namespace

void NoteBrowseQuestion(uint32_t interfaceAddress, const wchar_t* question, DnsClientKind client)
{
    if (client == kSystemDnsClient) {
        diag::Count(interfaceAddress, diag::kMdnsQuestionsSent);
    }
    diag::NoteMdnsClient(interfaceAddress, client == kSystemDnsClient ? diag::kMdnsClientSystem
                                           : client == kOwnDnsClient  ? diag::kMdnsClientOwn
                                                                      : diag::kMdnsClientUnknown);
    if (diag::EventsWanted()) {
        wchar_t on[kQuadChars];
        FormatDottedQuad(interfaceAddress, on, kQuadChars);
        diag::Event(L"mDNS question %ls on %ls (%ls client)", question, on,
                    client == kSystemDnsClient ? L"system" : L"own");
    }
}

void NoteServiceAnswer(uint32_t interfaceAddress, const wchar_t* instance, uint32_t hostAddress)
{
    diag::Count(interfaceAddress, diag::kMdnsServiceAnswers);
    if (diag::EventsWanted()) {
        wchar_t on[kQuadChars];
        wchar_t from[kQuadChars];
        FormatDottedQuad(interfaceAddress, on, kQuadChars);
        FormatDottedQuad(hostAddress, from, kQuadChars);
        diag::Event(L"mDNS answer %ls from %ls on %ls", instance, hostAddress != 0 ? from : L"(address not given)", on);
    }
}

void NoteMakerInstance(uint32_t interfaceAddress, const wchar_t* instance, uint32_t hostAddress)
{
    diag::Count(interfaceAddress, diag::kMdnsMakerInstances);
    if (diag::EventsWanted()) {
        wchar_t on[kQuadChars];
        wchar_t at[kQuadChars];
        FormatDottedQuad(interfaceAddress, on, kQuadChars);
        FormatDottedQuad(hostAddress, at, kQuadChars);
        diag::Event(L"mDNS device %ls at %ls on %ls: listed", instance, at, on);
    }
}

void NoteLookupTimedOut(uint32_t interfaceAddress, const wchar_t* instance)
{
    diag::Count(interfaceAddress, diag::kMdnsLookupsTimedOut);
    if (diag::EventsWanted()) {
        wchar_t on[kQuadChars];
        FormatDottedQuad(interfaceAddress, on, kQuadChars);
        diag::Event(L"mDNS lookup of %ls on %ls timed out", instance, on);
    }
}
