// The record callbacks of the browse: they read what the browse needs from
// the answers (instances, their SRV targets and those hosts' addresses, TXT
// strings). Names compare as DNS compares them, ignoring ASCII case. All run on the DNS client's thread. Every answer is
// untrusted: text is copied bounded, records are paired only by name, and
// what one answer can add is capped.
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>
#include <utility>

#include "core/text_copy.h"
#include "browse/browse.h"
#include "browse/mdns_events.h"
#include "browse/query.h"
#include "net/address_class.h"

namespace {

// DNS names compare without regard to ASCII letter case; both are cut to
// what a name field holds, as stored names are.
bool SameName(const wchar_t* a, const wchar_t* b)
{
    return SameDnsName(a, b, kDnsNameChars - 1);
}

wchar_t FoldCase(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

// Where domain first occurs in name, ignoring ASCII case; null when it does not.
const wchar_t* FindDomain(const wchar_t* name, const wchar_t* domain)
{
    for (; *name != L'\0'; ++name) {
        size_t i = 0;
        while (domain[i] != L'\0' && FoldCase(name[i]) == FoldCase(domain[i])) {
            ++i;
        }
        if (domain[i] == L'\0') {
            return name;
        }
    }
    return nullptr;
}

// The owner name ends in domain: the first occurrence of domain runs exactly
// to the end, so device.localnet.local does not end in ".local".
bool EndsInDomain(const wchar_t* ownerName, const wchar_t* domain)
{
    if (ownerName == nullptr) {
        return false;
    }
    const wchar_t* found = FindDomain(ownerName, domain);
    return found != nullptr && SameName(found, domain);
}

bool CountsForBrowse(const DNS_RECORD* record, const wchar_t* domain)
{
    return (record->wType == DNS_TYPE_PTR || record->wType == DNS_TYPE_A) &&
           EndsInDomain(record->pName, domain);
}

const DNS_RECORD* FindRecord(const DNS_RECORD* records, WORD type, const wchar_t* owner)
{
    for (const DNS_RECORD* record = records; record != nullptr; record = record->pNext) {
        if (record->wType == type && SameName(record->pName, owner)) {
            return record;
        }
    }
    return nullptr;
}

// The A record of owner; of several (a device with more than one address),
// the first that the interface could reach directly, else the first.
const DNS_RECORD* FindAddress(const DNS_RECORD* records, const wchar_t* owner, const InterfaceSubnet& heardOn)
{
    const DNS_RECORD* first = nullptr;
    for (const DNS_RECORD* record = records; record != nullptr; record = record->pNext) {
        if (record->wType != DNS_TYPE_A || !SameName(record->pName, owner)) {
            continue;
        }
        if (ClassifySender(record->Data.A.IpAddress, heardOn.address, heardOn.mask,
                           heardOn.address & heardOn.mask) != DeviceStateOtherSubnet) {
            return record;
        }
        first = first != nullptr ? first : record;
    }
    return first;
}

// Pairs the instance with its target's address, once: true for the answer
// that did it.
bool PairAddress(ServiceInstance* instance, const wchar_t* owner, uint32_t address)
{
    if (instance->addressClaim.exchange(1) != 0) {
        return false;
    }
    CopyHostName(instance->service.hostName, kDnsNameChars, owner);
    instance->service.address = address;
    instance->srvAnswered = 1;
    return true;
}

// The address of the instance's SRV target from these records, or from the
// browse answer's hint.
bool TakeAddress(ServiceInstance* instance, const DNS_RECORD* records)
{
    const wchar_t* target = instance->srvTarget;
    const DNS_RECORD* a = FindAddress(records, target, instance->service.heardOn);
    if (a != nullptr) {
        return PairAddress(instance, a->pName, a->Data.A.IpAddress);
    }
    if (instance->hintOwner[0] != L'\0' && SameName(instance->hintOwner, target)) {
        return PairAddress(instance, instance->hintOwner, instance->hintAddress);
    }
    return false;
}

// Takes the SRV record of the instance (once) and then, when these records
// or the hint carry it, the address of its target. True when anything new
// was learnt.
bool TakeSrvAndAddress(ServiceInstance* instance, const DNS_RECORD* records)
{
    bool learnt = false;
    if (instance->targetKnown == 0) {
        const DNS_RECORD* srv = FindRecord(records, DNS_TYPE_SRV, instance->service.instanceName);
        if (srv == nullptr || srv->Data.SRV.pNameTarget == nullptr || instance->targetClaim.exchange(1) != 0) {
            return false;
        }
        CopyText(instance->srvTarget, kDnsNameChars, srv->Data.SRV.pNameTarget);
        instance->service.port = srv->Data.SRV.wPort;
        instance->targetKnown = 1;
        learnt = true;
    }
    return TakeAddress(instance, records) || learnt;
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

// A PTR record that names an instance of the browsed service: its owner is
// that service's name, and it answers (records the responder added beside
// its answer do not count).
bool NamesInstance(const DNS_RECORD* record, const BrowseContext* context)
{
    return record->wType == DNS_TYPE_PTR && record->Data.PTR.pNameHost != nullptr &&
           record->Flags.S.Section != DNSREC_ADDITIONAL && record->Flags.S.Section != DNSREC_AUTHORITY &&
           SameName(record->pName, context->browseName);
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
        if (!NamesInstance(record, context)) {
            continue;
        }
        bool repeat = false;
        for (int i = 0; i < count && !repeat; ++i) {
            repeat = SameName(made[i]->service.instanceName, record->Data.PTR.pNameHost);
        }
        if (repeat) {
            continue;
        }
        InstancePtr instance = MakeServiceInstance();
        if (instance == nullptr) {
            break;
        }
        CopyText(instance->service.instanceName, kDnsNameChars, record->Data.PTR.pNameHost);
        instance->service.heardOn = context->heardOn;
        instance->wake = &context->queue.wake;
        if (aCount == 1) {
            CopyText(instance->hintOwner, kDnsNameChars, onlyA->pName);
            instance->hintAddress = onlyA->Data.A.IpAddress;
        }
        // The texts are kept only for an instance whose host is known too: one
        // that must wait in the queue for its lookups holds no texts there.
        TakeSrvAndAddress(instance.get(), records);
        if (instance->srvAnswered != 0 && TakeTxt(instance.get(), records)) {
            instance->txtAnswered = 1;
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
    if (instance != nullptr) {
        ForgetInstanceName(context, instance->service.instanceName);
    }
}

void ForgetInstanceName(BrowseContext* context, const wchar_t* instanceName)
{
    if (context->browseQuery != nullptr) {
        context->browseQuery->ForgetSeenName(instanceName);
        // Asked without it, the instance answers the next question again.
        ForgetKnownAnswers(context->interfaceIndex, context->browseName, instanceName);
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
    int count = MakeInstances(context, records, made);
    for (int i = 0; i < count; ++i) {
        NoteServiceAnswer(context->heardOn.address, made[i]->service.instanceName, made[i]->hintAddress);
    }
    QueueInstances(&context->queue, made, count);
}

VOID WINAPI OnSrvAnswer(PVOID instancePointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    ServiceInstance* instance = static_cast<ServiceInstance*>(instancePointer);
    // A repeat after the instance was paired changes nothing.
    if (instance->srvAnswered == 0 && TakeSrvAndAddress(instance, result->pQueryRecords)) {
        Wake(instance);
    }
}

VOID WINAPI OnAddressAnswer(PVOID instancePointer, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus != 0) {
        return;
    }
    ServiceInstance* instance = static_cast<ServiceInstance*>(instancePointer);
    // Started only once the target is known, which is never written again.
    if (instance->targetKnown != 0 && instance->srvAnswered == 0 && TakeAddress(instance, result->pQueryRecords)) {
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
