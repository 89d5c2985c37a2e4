// The three record callbacks of the browse: they read what the browse needs
// from the answers (instance, host name and address; SRV port; TXT strings).
// All run on the DNS client's thread. Untrusted content is copied bounded.
#include <stdlib.h>
#include <wchar.h>

#include "core/text_copy.h"
#include "mdns/browse.h"
#include "mdns/mdns_query.h"

namespace {

constexpr DWORD kPendingLockWaitMs = 500;

// The owner name ends in domain: the first occurrence of domain runs exactly
// to the end, so device.localnet.local does not end in ".local".
bool EndsInDomain(const wchar_t* ownerName, const wchar_t* domain)
{
    if (ownerName == nullptr) {
        return false;
    }
    const wchar_t* found = wcsstr(ownerName, domain);
    return found != nullptr && wcscmp(found, domain) == 0;
}

bool CountsForBrowse(const DNS_RECORD* record, const wchar_t* domain)
{
    return (record->wType == DNS_TYPE_PTR || record->wType == DNS_TYPE_A) &&
           EndsInDomain(record->pName, domain);
}

const DNS_RECORD* FirstOfType(const DNS_QUERY_RESULT* result, WORD type)
{
    for (const DNS_RECORD* record = result->pQueryRecords; record != nullptr;
         record = record->pNext) {
        if (record->wType == type) {
            return record;
        }
    }
    return nullptr;
}

}  // namespace

void FreeServiceInstance(ServiceInstance* instance)
{
    if (instance == nullptr) {
        return;
    }
    TxtEntry* entry = instance->service.txtEntries;
    while (entry != nullptr) {
        TxtEntry* next = entry->next;
        free(entry);
        entry = next;
    }
    free(instance);
}

VOID WINAPI OnBrowseAnswer(PVOID contextPointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    BrowseContext* context = static_cast<BrowseContext*>(contextPointer);
    ServiceInstance* instance = static_cast<ServiceInstance*>(calloc(1, sizeof(ServiceInstance)));
    if (instance == nullptr || result->pQueryRecords == nullptr) {
        free(instance);
        FreeAnswerRecords(result->pQueryRecords);
        return;
    }

    // The answer counts only when its first record is ours; after that,
    // records of other kinds or names are skipped.
    bool matched = false;
    for (const DNS_RECORD* record = result->pQueryRecords; record != nullptr;
         record = record->pNext) {
        if (!CountsForBrowse(record, context->domain)) {
            if (!matched) {
                free(instance);
                FreeAnswerRecords(result->pQueryRecords);
                return;
            }
            continue;
        }
        matched = true;
        ResolvedService* service = &instance->service;
        if (record->wType == DNS_TYPE_PTR) {
            CopyText(service->instanceName, kDnsNameChars, record->Data.PTR.pNameHost);
        } else {
            CopyHostName(service->hostName, kDnsNameChars, record->pName);
            service->address = record->Data.A.IpAddress;
        }
    }

    DWORD locked = WaitForSingleObject(context->lock, kPendingLockWaitMs);
    if (locked == WAIT_OBJECT_0 || locked == WAIT_ABANDONED) {
        instance->next = context->pending;
        context->pending = instance;
        ReleaseMutex(context->lock);
    } else {
        free(instance);
    }
    FreeAnswerRecords(result->pQueryRecords);
}

VOID WINAPI OnSrvAnswer(PVOID instancePointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    ServiceInstance* instance = static_cast<ServiceInstance*>(instancePointer);
    const DNS_RECORD* srv = FirstOfType(result, DNS_TYPE_SRV);
    if (srv != nullptr) {
        instance->service.port = srv->Data.SRV.wPort;
        InterlockedExchange(&instance->srvAnswered, 1);
    }
    FreeAnswerRecords(result->pQueryRecords);
}

VOID WINAPI OnTxtAnswer(PVOID instancePointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    ServiceInstance* instance = static_cast<ServiceInstance*>(instancePointer);
    const DNS_RECORD* txt = FirstOfType(result, DNS_TYPE_TEXT);
    if (txt != nullptr) {
        TxtEntry** tail = &instance->service.txtEntries;
        while (*tail != nullptr) {
            tail = &(*tail)->next;
        }
        for (DWORD i = 0; i < txt->Data.TXT.dwStringCount; ++i) {
            TxtEntry* entry = static_cast<TxtEntry*>(calloc(1, sizeof(TxtEntry)));
            if (entry == nullptr) {
                break;  // out of memory: the strings so far stay
            }
            CopyText(entry->text, kTxtTextChars, txt->Data.TXT.pStringArray[i]);
            *tail = entry;
            tail = &entry->next;
        }
        InterlockedExchange(&instance->txtAnswered, 1);
    }
    FreeAnswerRecords(result->pQueryRecords);
}
