// Confirmation questions for listed hosts (host_confirm.h).
#include "browse/host_confirm.h"

#include <wchar.h>

#include "core/text_copy.h"
#include "browse/reported_hosts.h"

namespace {

constexpr wchar_t kHostDomain[] = L".local";

// Context: the ReportedHosts table. Every A record of the answer refreshes
// the host of that name and address, if it is listed: nothing else can be
// written, so an answer cannot speak for another device.
VOID WINAPI OnConfirmAnswer(PVOID table, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    DWORD now = GetTickCount();
    for (PDNS_RECORD record = result->pQueryRecords; record != nullptr; record = record->pNext) {
        if (record->wType == DNS_TYPE_A && record->pName != nullptr) {
            RefreshReportedHost(static_cast<ReportedHosts*>(table), record->pName, record->Data.A.IpAddress, now);
        }
    }
}

}  // namespace

void InitHostConfirmations(HostConfirmations* confirmations, uint32_t interfaceIndex)
{
    confirmations->interfaceIndex = interfaceIndex;
    for (uint32_t& started : confirmations->started) {
        started = 0;
    }
    confirmations->lookedAt = 0;
    confirmations->msUntilNext = INFINITE;
}

void ConfirmDueHosts(HostConfirmations* confirmations, ReportedHosts* hosts, uint32_t now)
{
    int free[kConfirmSlots];
    int freeCount = 0;
    uint32_t slotFrees = INFINITE;
    for (int i = 0; i < kConfirmSlots; ++i) {
        mDNSQuery& query = confirmations->queries[i];
        // Its one packet has been answered by now, or lost: the next
        // question for that host is a fresh one, sent at once.
        uint32_t age = now - confirmations->started[i];
        if (query.IsActive() != 0 && age >= kConfirmIntervalMs) {
            query.Stop();
        }
        if (query.IsActive() == 0) {
            free[freeCount++] = i;
        } else if (kConfirmIntervalMs - age < slotFrees) {
            slotFrees = kConfirmIntervalMs - age;
        }
    }
    wchar_t names[kConfirmSlots][kDnsNameChars];
    uint32_t hostSlots[kConfirmSlots];
    uint32_t nextDue = INFINITE;
    int due = TakeHostsToConfirm(hosts, now, names, freeCount, &nextDue, hostSlots);
    for (int i = 0; i < due; ++i) {
        wchar_t question[kDnsNameChars + sizeof(kHostDomain) / sizeof(wchar_t)];
        CopyText(question, kDnsNameChars, names[i]);
        size_t length = wcslen(question);
        CopyText(question + length, sizeof(question) / sizeof(wchar_t) - length, kHostDomain);
        int slot = free[i];
        if (confirmations->queries[slot].Start(question, DNS_TYPE_A, OnConfirmAnswer, hosts,
                                               confirmations->interfaceIndex) == 0) {
            confirmations->started[slot] = now;
        } else {
            // The host stays due; it is tried again after a slot's time,
            // not at once, which would spin while the client refuses.
            HostQuestionNotAsked(hosts, hostSlots[i], names[i]);
        }
        slotFrees = slotFrees < kConfirmIntervalMs ? slotFrees : kConfirmIntervalMs;
    }
    confirmations->lookedAt = now;
    confirmations->msUntilNext = nextDue < slotFrees ? nextDue : slotFrees;
}

uint32_t MsUntilConfirmationsDue(const HostConfirmations* confirmations, uint32_t now)
{
    uint32_t waited = now - confirmations->lookedAt;
    if (confirmations->msUntilNext == INFINITE) {
        return INFINITE;
    }
    return waited < confirmations->msUntilNext ? confirmations->msUntilNext - waited : 0;
}

void StopConfirmations(HostConfirmations* confirmations)
{
    for (mDNSQuery& query : confirmations->queries) {
        if (query.IsActive() != 0) {
            query.Stop();
        }
    }
    confirmations->msUntilNext = INFINITE;
}
