// The three record callbacks of the browse: they read what the browse needs
// from the answers (instances, their SRV targets and those hosts' addresses,
// TXT strings). All run on the DNS client's thread. Every answer is
// untrusted: text is copied bounded, records are paired only by name, and
// what one answer can add is capped.
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>
#include <utility>

#include "core/text_copy.h"
#include "mdns/browse.h"
#include "mdns/mdns_query.h"

namespace {

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

// DNS names compare without regard to ASCII letter case; both are cut to
// what a name field holds, as stored names are.
bool SameDnsName(const wchar_t* a, const wchar_t* b)
{
    if (a == nullptr || b == nullptr) {
        return false;
    }
    for (int i = 0; i < kDnsNameChars - 1; ++i) {
        wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? wchar_t(a[i] + 32) : a[i];
        wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? wchar_t(b[i] + 32) : b[i];
        if (x != y) {
            return false;
        }
        if (x == L'\0') {
            return true;
        }
    }
    return true;
}

const DNS_RECORD* FindRecord(const DNS_RECORD* records, WORD type, const wchar_t* owner)
{
    for (const DNS_RECORD* record = records; record != nullptr; record = record->pNext) {
        if (record->wType == type && SameDnsName(record->pName, owner)) {
            return record;
        }
    }
    return nullptr;
}

void PairAddress(ServiceInstance* instance, const wchar_t* owner, uint32_t address)
{
    CopyText(instance->seenOwner, kDnsNameChars, owner);
    CopyHostName(instance->service.hostName, kDnsNameChars, owner);
    instance->service.address = address;
}

// Takes the SRV record of the instance and the address of its target from
// these records (or the browse answer's hint). True when both are known.
bool TakeSrvAndAddress(ServiceInstance* instance, const DNS_RECORD* records)
{
    const DNS_RECORD* srv = FindRecord(records, DNS_TYPE_SRV, instance->service.instanceName);
    if (srv == nullptr || srv->Data.SRV.pNameTarget == nullptr) {
        return false;
    }
    const wchar_t* target = srv->Data.SRV.pNameTarget;
    const DNS_RECORD* a = FindRecord(records, DNS_TYPE_A, target);
    if (a != nullptr) {
        PairAddress(instance, a->pName, a->Data.A.IpAddress);
    } else if (instance->hintOwner[0] != L'\0' && SameDnsName(instance->hintOwner, target)) {
        PairAddress(instance, instance->hintOwner, instance->hintAddress);
    } else {
        return false;
    }
    instance->service.port = srv->Data.SRV.wPort;
    return true;
}

bool TakeTxt(ServiceInstance* instance, const DNS_RECORD* records)
{
    const DNS_RECORD* txt = FindRecord(records, DNS_TYPE_TEXT, instance->service.instanceName);
    if (txt == nullptr) {
        return false;
    }
    SetTxtStrings(&instance->service, txt);
    return true;
}

void Wake(const ServiceInstance* instance)
{
    if (instance->wake != nullptr) {
        instance->wake->Set();
    }
}

// The instances of one browse answer: one per PTR target of ours, each with
// what the answer itself says of it. Returns how many were made.
int MakeInstances(BrowseContext* context, const DNS_RECORD* records,
                  InstancePtr made[kMaxInstancesPerAnswer])
{
    const DNS_RECORD* onlyA = nullptr;
    int aCount = 0;
    for (const DNS_RECORD* record = records; record != nullptr; record = record->pNext) {
        if (record->wType == DNS_TYPE_A && CountsForBrowse(record, context->domain)) {
            onlyA = record;
            ++aCount;
        }
    }
    int count = 0;
    for (const DNS_RECORD* record = records; record != nullptr && count < kMaxInstancesPerAnswer;
         record = record->pNext) {
        if (record->wType != DNS_TYPE_PTR || !CountsForBrowse(record, context->domain) ||
            record->Data.PTR.pNameHost == nullptr) {
            continue;
        }
        bool repeat = false;
        for (int i = 0; i < count && !repeat; ++i) {
            repeat = SameDnsName(made[i]->service.instanceName, record->Data.PTR.pNameHost);
        }
        if (repeat) {
            continue;
        }
        InstancePtr instance = MakeServiceInstance();
        if (instance == nullptr) {
            break;
        }
        CopyText(instance->service.instanceName, kDnsNameChars, record->Data.PTR.pNameHost);
        instance->wake = &context->queue.wake;
        if (aCount == 1) {
            CopyText(instance->hintOwner, kDnsNameChars, onlyA->pName);
            instance->hintAddress = onlyA->Data.A.IpAddress;
        }
        // The texts are kept only for an instance whose host is known too: one
        // that must wait in the queue for its SRV lookup holds no texts there.
        if (TakeSrvAndAddress(instance.get(), records)) {
            instance->srvAnswered = 1;
            if (TakeTxt(instance.get(), records)) {
                instance->txtAnswered = 1;
            }
        }
        made[count++] = std::move(instance);
    }
    return count;
}

}  // namespace

void SetTxtStrings(ResolvedService* service, const DNS_RECORD* txt)
{
    free(service->txtText);
    service->txtText = nullptr;
    service->txtCount = 0;
    DWORD strings = txt->Data.TXT.dwStringCount;
    size_t units = 0;
    DWORD kept = 0;
    for (; kept < strings; ++kept) {
        const wchar_t* text = txt->Data.TXT.pStringArray[kept];
        size_t length = text != nullptr ? wcsnlen(text, kTxtTextChars - 1) : 0;
        if (units + length + 1 > kMaxTxtUnits) {
            break;  // what follows could not have come in one packet
        }
        units += length + 1;
    }
    if (kept == 0) {
        return;
    }
    wchar_t* block = static_cast<wchar_t*>(malloc(units * sizeof(wchar_t)));
    if (block == nullptr) {
        return;  // out of memory: no strings, the service is ignored
    }
    wchar_t* cursor = block;
    for (DWORD i = 0; i < kept; ++i) {
        const wchar_t* text = txt->Data.TXT.pStringArray[i];
        size_t length = text != nullptr ? wcsnlen(text, kTxtTextChars - 1) : 0;
        memcpy(cursor, text, length * sizeof(wchar_t));
        cursor[length] = L'\0';
        cursor += length + 1;
    }
    service->txtText = block;
    service->txtCount = kept;
}

void ForgetInstanceHost(void* contextPointer, const ServiceInstance* instance)
{
    BrowseContext* context = static_cast<BrowseContext*>(contextPointer);
    if (context->browseQuery != nullptr && instance != nullptr) {
        context->browseQuery->ForgetSeenName(instance->seenOwner[0] != L'\0' ? instance->seenOwner
                                                                               : instance->hintOwner);
    }
}

VOID WINAPI OnBrowseAnswer(PVOID contextPointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    BrowseContext* context = static_cast<BrowseContext*>(contextPointer);
    const DNS_RECORD* records = result->pQueryRecords;
    // The answer counts only when its first record is ours.
    if (records == nullptr || !CountsForBrowse(records, context->domain)) {
        return;
    }
    InstancePtr made[kMaxInstancesPerAnswer];
    QueueInstances(&context->queue, made, MakeInstances(context, records, made));
}

VOID WINAPI OnSrvAnswer(PVOID instancePointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    ServiceInstance* instance = static_cast<ServiceInstance*>(instancePointer);
    // A repeat after the instance was paired changes nothing.
    if (instance->srvAnswered == 0 && TakeSrvAndAddress(instance, result->pQueryRecords)) {
        instance->srvAnswered = 1;
        Wake(instance);
    }
}

VOID WINAPI OnTxtAnswer(PVOID instancePointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    ServiceInstance* instance = static_cast<ServiceInstance*>(instancePointer);
    if (TakeTxt(instance, result->pQueryRecords)) {
        instance->txtAnswered = 1;
        Wake(instance);
    }
}
