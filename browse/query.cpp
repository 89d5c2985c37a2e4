// The query objects: start, stop and timing of one multicast DNS query, the
// completion trampolines, and the browse query's filter of repeated hosts.
#include "browse/query.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "core/text_copy.h"
#include "browse/reported_hosts.h"

namespace {

const ClientCompletions kCompletions = {SystemClientCompletion, OwnClientCompletion};

// What a seen name stands for: an instance (a PTR target of the browsed
// name) or a host (an A record's owner).
enum : uint32_t { kSeenInstance = 0, kSeenHost = 1 };

// Runs with the query's slot entered, so a Stop on another thread waits for
// it. Nothing of the query is read after the user callback: it may stop,
// restart or even free its own query.
void Deliver(mDNSQuery* query, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result)
{
    if (result->QueryStatus == 0 && query->FilterResults(query->context, handle, result) == 1) {
        return;
    }
    PMDNS_QUERY_CALLBACK callback = query->callback;
    void* context = query->context;
    if (result->QueryStatus == 0) {
        query->lastAnswerTick = GetTickCount();
    }
    if (callback != nullptr) {
        callback(context, handle, result);
    }
}

// `maker` is known from the function the client called, never from the
// query: the query may be gone, or restarted on the other client.
void Complete(DnsClientKind maker, PVOID slot, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result)
{
    if (result == nullptr) {
        return;
    }
    // The answer's records are ours to free, whatever its status; the
    // callback only borrows them.
    AnswerRecords records(result->pQueryRecords, AnswerRecordsDeleter{maker});
    CallbackToken token = reinterpret_cast<CallbackToken>(slot);
    mDNSQuery* query = static_cast<mDNSQuery*>(EnterCallbackSlot(token));
    if (query == nullptr) {
        return;  // stopped: nothing but the records to free
    }
    Deliver(query, handle, result);
    LeaveCallbackSlot(token);
}

}  // namespace

mDNSQuery::mDNSQuery()
    : active(0), queryName(nullptr), callback(nullptr), context(nullptr), lastAnswerTick(0),
      startTick(0), client(kNoDnsClient), slot(0)
{
    memset(&request, 0, sizeof(request));
    memset(&handle, 0, sizeof(handle));
}

mDNSQuery::~mDNSQuery()
{
    if (active != 0) {
        Stop();
    }
    Release(0);
}

int32_t mDNSQuery::FilterResults(void*, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT)
{
    return 0;
}

int32_t mDNSQuery::IsActive()
{
    return active;
}

DWORD mDNSQuery::Start(const wchar_t* name, WORD type, PMDNS_QUERY_CALLBACK userCallback,
                       void* userContext, uint32_t interfaceIndex)
{
    if (active != 0) {
        return ERROR_BUSY;
    }
    if (name == nullptr || userCallback == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    size_t length = wcslen(name);
    wchar_t* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    memcpy(copy, name, (length + 1) * sizeof(wchar_t));
    CallbackToken token;
    if (!AttachCallbackSlot(this, &token)) {
        free(copy);
        return ERROR_NO_SYSTEM_RESOURCES;
    }
    free(queryName);
    queryName = copy;
    memset(&handle, 0, sizeof(handle));
    callback = userCallback;
    context = userContext;

    memset(&request, 0, sizeof(request));
    request.Version = DNS_QUERY_REQUEST_VERSION1;
    request.ulRefCount = 0;
    request.Query = queryName;
    request.QueryType = type;
    request.QueryOptions = 0;
    request.InterfaceIndex = interfaceIndex;
    request.pQueryCallback = nullptr;  // the chosen client's completion
    request.pQueryContext = reinterpret_cast<PVOID>(token);
    request.fAnswerReceived = FALSE;
    request.ulResendCount = 0;

    startTick = GetTickCount();
    lastAnswerTick = startTick;
    DWORD status = static_cast<DWORD>(StartOnChosenClient(&request, &handle, kCompletions, &client));
    if (status == 0) {
        slot = token;
        active = 1;
        return 0;
    }
    DetachCallbackSlot(token);
    return Release(status);
}

DWORD mDNSQuery::Stop()
{
    if (active == 0) {
        return ERROR_INVALID_HANDLE;
    }
    active = 0;
    // Untied first: whatever the client calls back from here on, inside its
    // stop, on another thread or long after, finds a stale slot. A callback
    // already running on another thread ends before the client is told.
    DetachCallbackSlot(slot);
    slot = 0;
    DWORD status = static_cast<DWORD>(StopOnClient(client, &handle));
    memset(&handle, 0, sizeof(handle));
    return Release(status);
}

DWORD mDNSQuery::Release(DWORD status)
{
    free(queryName);
    queryName = nullptr;
    callback = nullptr;
    context = nullptr;
    return status;
}

uint32_t mDNSQuery::TimeSinceLastAnswer()
{
    return GetTickCount() - lastAnswerTick;
}

uint32_t mDNSQuery::TimeSinceStart()
{
    return GetTickCount() - startTick;
}

VOID WINAPI SystemClientCompletion(PVOID slot, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result)
{
    Complete(kSystemDnsClient, slot, handle, result);
}

VOID WINAPI OwnClientCompletion(PVOID slot, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result)
{
    Complete(kOwnDnsClient, slot, handle, result);
}

mDNSPTRQuery::mDNSPTRQuery() : reportedHosts(nullptr)
{
    InitializeSRWLock(&seenLock);
    // Out of memory: an empty index, so that every host counts as seen.
    InitNameIndex(&seenNames, kMaxSeenNames, kDnsNameChars - 1);
}

mDNSPTRQuery::~mDNSPTRQuery()
{
    // Stopped first: a completion still running would walk the names.
    if (active != 0) {
        Stop();
    }
    ReleaseNameIndex(&seenNames);
}

int32_t mDNSPTRQuery::FilterResults(void*, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    DWORD now = GetTickCount();
    if (reportedHosts != nullptr) {
        for (PDNS_RECORD record = result->pQueryRecords; record != nullptr; record = record->pNext) {
            if (record->wType == DNS_TYPE_A && record->pName != nullptr) {
                RefreshReportedHost(reportedHosts, record->pName, record->Data.A.IpAddress, now);
            }
        }
    }
    // Every new name is remembered, so that a repeat of an answer naming
    // several hosts or instances is dropped as a whole. An answer split over
    // packets may carry no A record: its instances are names of their own.
    bool anyNew = false;
    AcquireSRWLockExclusive(&seenLock);
    for (PDNS_RECORD record = result->pQueryRecords; record != nullptr; record = record->pNext) {
        const wchar_t* name = nullptr;
        uint32_t kind = kSeenHost;
        if (record->wType == DNS_TYPE_A) {
            name = record->pName;
        } else if (record->wType == DNS_TYPE_PTR && record->Flags.S.Section != DNSREC_ADDITIONAL &&
                   record->Flags.S.Section != DNSREC_AUTHORITY &&
                   SameDnsName(record->pName, queryName, kDnsNameChars - 1)) {
            name = record->Data.PTR.pNameHost;
            kind = kSeenInstance;
        }
        int32_t seen = name != nullptr ? FindName(&seenNames, name, kind) : -1;
        if (seen != -1 && kind == kSeenHost && reportedHosts != nullptr &&
            ReportedHostNeedsRenewal(reportedHosts, name, record->Data.A.IpAddress, now)) {
            RemoveName(&seenNames, seen);  // counts as new: its full report is due
            seen = -1;
        }
        if (name == nullptr || seen != -1) {
            continue;
        }
        int32_t evicted;
        if (AddName(&seenNames, name, kind, &evicted) != -1) {
            anyNew = true;  // out of memory: treated as already seen
        }
    }
    ReleaseSRWLockExclusive(&seenLock);
    return anyNew ? 0 : 1;
}

void mDNSPTRQuery::ForgetAllSeenNames()
{
    AcquireSRWLockExclusive(&seenLock);
    for (uint32_t left = seenNames.count; left > 0 && seenNames.newest >= 0; --left) {
        RemoveName(&seenNames, seenNames.newest);
    }
    ReleaseSRWLockExclusive(&seenLock);
}

bool mDNSPTRQuery::MarkInstanceSeen(const wchar_t* instanceName)
{
    AcquireSRWLockExclusive(&seenLock);
    bool added = false;
    if (FindName(&seenNames, instanceName, kSeenInstance) == -1) {
        int32_t evicted;
        added = AddName(&seenNames, instanceName, kSeenInstance, &evicted) != -1;
    }
    ReleaseSRWLockExclusive(&seenLock);
    return added;
}

void mDNSPTRQuery::ForgetSeenName(const wchar_t* instanceName)
{
    if (instanceName == nullptr || instanceName[0] == L'\0') {
        return;
    }
    AcquireSRWLockExclusive(&seenLock);
    RemoveName(&seenNames, FindName(&seenNames, instanceName, kSeenInstance));
    ReleaseSRWLockExclusive(&seenLock);
}
