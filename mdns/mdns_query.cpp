// The query objects: start, stop and timing of one multicast DNS query, the
// completion trampoline, and the browse query's filter of repeated hosts.
#include "mdns/mdns_query.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "core/platform.h"
#include "core/text_copy.h"
#include "mdns/reported_hosts.h"

namespace {

constexpr DWORD kNoClient = ERROR_NOT_SUPPORTED;

// True when name, cut to fit a SeenName as it would be stored, equals the
// stored text: a long name still counts as seen after it was cut.
bool SeenNameEquals(const wchar_t* stored, const wchar_t* name)
{
    for (int i = 0; i < kDnsNameChars - 1; ++i) {
        if (stored[i] != name[i]) {
            return false;
        }
        if (name[i] == L'\0') {
            return true;
        }
    }
    return stored[kDnsNameChars - 1] == L'\0';
}

bool AlreadySeen(const SeenName* seen, const wchar_t* name)
{
    for (; seen != nullptr; seen = seen->next) {
        if (SeenNameEquals(seen->name, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void FreeAnswerRecords(PDNS_RECORD records)
{
    if (records != nullptr && g_platform.dnsFree != nullptr) {
        g_platform.dnsFree(records, DnsFreeRecordList);
    }
}

mDNSQuery::mDNSQuery()
    : active(0), queryName(nullptr), callback(nullptr), context(nullptr), lastAnswerTick(0),
      startTick(0)
{
    memset(&request, 0, sizeof(request));
    memset(&handle, 0, sizeof(handle));
}

mDNSQuery::~mDNSQuery()
{
    if (active != 0) {
        Stop();
    }
    free(queryName);
    queryName = nullptr;
    callback = nullptr;
    context = nullptr;
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
    request.pQueryCallback = QueryCompletion;
    request.pQueryContext = this;
    request.fAnswerReceived = FALSE;
    request.ulResendCount = 0;

    startTick = GetTickCount();
    lastAnswerTick = startTick;
    DWORD status = g_platform.dnsStartMulticastQuery != nullptr
                       ? static_cast<DWORD>(g_platform.dnsStartMulticastQuery(&request, &handle))
                       : kNoClient;
    if (status == 0) {
        active = 1;
        return 0;
    }
    free(queryName);
    queryName = nullptr;
    callback = nullptr;
    context = nullptr;
    return status;
}

DWORD mDNSQuery::Stop()
{
    if (active == 0) {
        return ERROR_INVALID_HANDLE;
    }
    active = 0;
    // Returns only when no completion of this query runs, and none follows:
    // from here on nothing the completions write is touched by them.
    DWORD status = g_platform.dnsStopMulticastQuery != nullptr
                       ? static_cast<DWORD>(g_platform.dnsStopMulticastQuery(&handle))
                       : kNoClient;
    memset(&handle, 0, sizeof(handle));
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

VOID WINAPI QueryCompletion(PVOID object, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result)
{
    mDNSQuery* query = static_cast<mDNSQuery*>(object);
    if (query == nullptr || result == nullptr) {
        return;
    }
    if (result->QueryStatus == 0 && query->FilterResults(query->context, handle, result) == 1) {
        FreeAnswerRecords(result->pQueryRecords);
        return;
    }
    if (query->callback != nullptr) {
        query->callback(query->context, handle, result);
    }
    if (result->QueryStatus == 0) {
        query->lastAnswerTick = GetTickCount();
    }
}

mDNSPTRQuery::mDNSPTRQuery() : seenNames(nullptr), reportedHosts(nullptr) {}

mDNSPTRQuery::~mDNSPTRQuery()
{
    // Stopped first: a completion still running would walk the names.
    if (active != 0) {
        Stop();
    }
    while (seenNames != nullptr) {
        SeenName* next = seenNames->next;
        free(seenNames);
        seenNames = next;
    }
}

int32_t mDNSPTRQuery::FilterResults(void*, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    if (reportedHosts != nullptr) {
        DWORD now = GetTickCount();
        for (PDNS_RECORD record = result->pQueryRecords; record != nullptr; record = record->pNext) {
            if (record->wType == DNS_TYPE_A && record->pName != nullptr) {
                RefreshReportedHost(reportedHosts, record->pName, record->Data.A.IpAddress, now);
            }
        }
    }
    for (PDNS_RECORD record = result->pQueryRecords; record != nullptr; record = record->pNext) {
        if (record->wType != DNS_TYPE_A || record->pName == nullptr) {
            continue;
        }
        if (AlreadySeen(seenNames, record->pName)) {
            continue;
        }
        SeenName* seen = static_cast<SeenName*>(calloc(1, sizeof(SeenName)));
        if (seen == nullptr) {
            continue;  // treated as already seen
        }
        CopyText(seen->name, kDnsNameChars, record->pName);
        seen->next = seenNames;
        seenNames = seen;
        return 0;
    }
    return 1;
}
