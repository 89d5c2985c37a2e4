// The per-interface choice between the system's multicast DNS client and
// our own. Several workers start queries at once: one lock guards the table.
#include "browse/client_choice.h"

#include "core/platform.h"

namespace {

// Interfaces a machine has at once are few; when more come and go, the
// oldest entry is reused (at worst an interface asks the system again).
constexpr int kTrackedInterfaces = 64;

struct InterfaceChoice {
    uint32_t interfaceIndex;
    int refusals;
    bool ownClient;
    bool used;
};

SRWLOCK g_choiceLock = SRWLOCK_INIT;
InterfaceChoice g_choices[kTrackedInterfaces];
int g_nextReused = 0;

bool SystemClientPresent()
{
    return g_platform.dnsStartMulticastQuery != nullptr && g_platform.dnsStopMulticastQuery != nullptr &&
           g_platform.dnsFree != nullptr;
}

bool OwnClientPresent()
{
    return g_platform.ownDnsStartMulticastQuery != nullptr && g_platform.ownDnsStopMulticastQuery != nullptr &&
           g_platform.ownDnsFree != nullptr;
}

// Under the lock.
InterfaceChoice* ChoiceFor(uint32_t interfaceIndex)
{
    for (InterfaceChoice& choice : g_choices) {
        if (choice.used && choice.interfaceIndex == interfaceIndex) {
            return &choice;
        }
    }
    InterfaceChoice* slot = nullptr;
    for (InterfaceChoice& choice : g_choices) {
        if (!choice.used) {
            slot = &choice;
            break;
        }
    }
    if (slot == nullptr) {
        slot = &g_choices[g_nextReused];
        g_nextReused = (g_nextReused + 1) % kTrackedInterfaces;
    }
    *slot = {interfaceIndex, 0, false, true};
    return slot;
}

bool UsesOwnClient(uint32_t interfaceIndex)
{
    AcquireSRWLockExclusive(&g_choiceLock);
    bool own = ChoiceFor(interfaceIndex)->ownClient;
    ReleaseSRWLockExclusive(&g_choiceLock);
    return own;
}

// Statuses that say the client will not serve queries at all: switched off,
// not there, not allowed, or its service unreachable. Any other failure (a
// name it finds malformed, which may come from a device's answer; memory or
// handles running short) says nothing about the client and neither counts
// nor resets the count.
bool IsRefusal(DNS_STATUS status)
{
    switch (status) {
    case ERROR_ACCESS_DENIED:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_SERVICE_DISABLED:
    case ERROR_SERVICE_NOT_ACTIVE:
    case ERROR_SERVICE_DOES_NOT_EXIST:
    case RPC_S_SERVER_UNAVAILABLE:
    case RPC_S_UNKNOWN_IF:
        return true;
    default:
        return false;
    }
}

// Counts a refusal or resets the count; true when the interface has now moved.
bool NoteSystemStatus(uint32_t interfaceIndex, DNS_STATUS status)
{
    AcquireSRWLockExclusive(&g_choiceLock);
    InterfaceChoice* choice = ChoiceFor(interfaceIndex);
    if (status == 0) {
        choice->refusals = 0;
    } else if (IsRefusal(status)) {
        ++choice->refusals;
    }
    if (choice->refusals >= kSystemRefusalsBeforeOwnClient) {
        choice->ownClient = true;
    }
    bool moved = choice->ownClient;
    ReleaseSRWLockExclusive(&g_choiceLock);
    return moved;
}

}  // namespace

DNS_STATUS StartOnChosenClient(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle,
                               const ClientCompletions& completions, DnsClientKind* client)
{
    *client = kNoDnsClient;
    bool ownPresent = OwnClientPresent();
    if (SystemClientPresent() && !(ownPresent && UsesOwnClient(request->InterfaceIndex))) {
        *client = kSystemDnsClient;
        request->pQueryCallback = completions.system;
        DNS_STATUS status = g_platform.dnsStartMulticastQuery(request, handle);
        if (status == 0 || !ownPresent || !NoteSystemStatus(request->InterfaceIndex, status)) {
            return status;
        }
    }
    if (!ownPresent) {
        return ERROR_NOT_SUPPORTED;
    }
    *client = kOwnDnsClient;
    request->pQueryCallback = completions.own;
    return g_platform.ownDnsStartMulticastQuery(request, handle);
}

DNS_STATUS StopOnClient(DnsClientKind client, PMDNS_QUERY_HANDLE handle)
{
    if (client == kSystemDnsClient && g_platform.dnsStopMulticastQuery != nullptr) {
        return g_platform.dnsStopMulticastQuery(handle);
    }
    if (client == kOwnDnsClient && g_platform.ownDnsStopMulticastQuery != nullptr) {
        return g_platform.ownDnsStopMulticastQuery(handle);
    }
    return ERROR_NOT_SUPPORTED;
}

void FreeRecordsOfClient(DnsClientKind client, PDNS_RECORD records)
{
    if (records == nullptr) {
        return;
    }
    if (client == kSystemDnsClient && g_platform.dnsFree != nullptr) {
        g_platform.dnsFree(records, DnsFreeRecordList);
    } else if (client == kOwnDnsClient && g_platform.ownDnsFree != nullptr) {
        g_platform.ownDnsFree(records, DnsFreeRecordList);
    }
}

void ResetDnsClientChoice()
{
    AcquireSRWLockExclusive(&g_choiceLock);
    for (InterfaceChoice& choice : g_choices) {
        choice = {};
    }
    g_nextReused = 0;
    ReleaseSRWLockExclusive(&g_choiceLock);
}

void ForgetKnownAnswers(uint32_t interfaceIndex, const wchar_t* question, const wchar_t* answer)
{
    if (answer == nullptr || answer[0] != L'\0') {
        if (g_platform.ownForgetKnownAnswers != nullptr) {
            g_platform.ownForgetKnownAnswers(interfaceIndex, question, answer);
        }
    }
}

void ReserveOwnClientQueries(int queries)
{
    if (g_platform.ownReserveQueries != nullptr) {
        g_platform.ownReserveQueries(queries);
    }
}
