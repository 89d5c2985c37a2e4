// One multicast DNS query in flight over a multicast DNS client (the
// system's or our own, see client_choice.h), the browse query that
// reports each host only once, the records that a browse fills from the
// answers, and the three completion functions that fill them.
//
// Completions run on a thread of the DNS client, concurrently with the
// thread that owns the query objects. The client never holds the address of
// a query object: its context is a callback slot's token
// (callback_slots.h), so a callback that comes during or after a stop, or
// after the object is gone, reaches nothing but the freeing of its records.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>

#include "browse/callback_slots.h"
#include "browse/client_choice.h"
#include "browse/host_name.h"
#include "browse/name_index.h"
#include "browse/service_instance.h"

enum : int {
    // Hosts one browse query remembers; beyond that the oldest give way.
    kMaxSeenNames = 4096,
};

struct BrowseContext;
struct ReportedHosts;

// Wraps one query of the DNS client. A plain value: never copied or moved.
class mDNSQuery {
public:
    mDNSQuery();
    mDNSQuery(const mDNSQuery&) = delete;
    mDNSQuery& operator=(const mDNSQuery&) = delete;

    // Returns 1 to drop the answer, anything else to deliver it.
    virtual int32_t FilterResults(void* context, PMDNS_QUERY_HANDLE handle,
                                  PDNS_QUERY_RESULT result);
    virtual ~mDNSQuery();
    virtual int32_t IsActive();
    // 0, ERROR_BUSY while running, ERROR_INVALID_PARAMETER for a null name
    // or callback, ERROR_NO_SYSTEM_RESOURCES when kCallbackSlots queries
    // run already, or the DNS client's status.
    virtual DWORD Start(const wchar_t* name, WORD type, PMDNS_QUERY_CALLBACK callback,
                        void* context, uint32_t interfaceIndex);
    // The DNS client's status, or ERROR_INVALID_HANDLE when nothing runs.
    // Once it returns, no callback of this query runs or will run; one that
    // is running on the calling thread (a callback stopping its own query)
    // carries on, and touches the query no more after its user callback.
    virtual DWORD Stop();
    virtual uint32_t TimeSinceLastAnswer();
    virtual uint32_t TimeSinceStart();

    MDNS_QUERY_REQUEST request;
    MDNS_QUERY_HANDLE handle;
    int32_t active;
    wchar_t* queryName;  // malloc'd copy the request points at; null while inactive
    PMDNS_QUERY_CALLBACK callback;
    void* context;
    // Written by completions on the DNS client's thread.
    std::atomic<uint32_t> lastAnswerTick;
    uint32_t startTick;
    DnsClientKind client;  // the client that took the last Start
    CallbackToken slot;    // the request's context while active

private:
    // Frees the name and drops the user's callback: the end of a Stop or of
    // a failed Start. Returns status.
    DWORD Release(DWORD status);
};

// The browse query: delivers an answer only when it names a host (the owner
// of an A record) or an instance (the target of a PTR record of the query's
// own name) that this object has not let through; every new name of a
// delivered answer is remembered, compared as DNS names are. The names
// outlive stops and restarts; only the destructor frees them.
class mDNSPTRQuery : public mDNSQuery {
public:
    mDNSPTRQuery();
    ~mDNSPTRQuery() override;
    int32_t FilterResults(void* context, PMDNS_QUERY_HANDLE handle,
                          PDNS_QUERY_RESULT result) override;

    // Forgets every host and instance let through: a restarted pass reports
    // every device again.
    void ForgetAllSeenNames();

    // Counts an instance as let through, as if its answer had come (the
    // browse asks it directly); false when it was already.
    bool MarkInstanceSeen(const wchar_t* instanceName);

    // Forgets an instance that was let through but then lost before it was
    // reported (a lookup that failed, a queue that overflowed), so that its
    // next answer counts again.
    void ForgetSeenName(const wchar_t* instanceName);

    SRWLOCK seenLock;     // guards seenNames: the browse thread forgets
    NameIndex seenNames;  // hosts and instances let through, the oldest giving way when full
    // When set (auto-refresh), every A record of every answer, repeat or
    // not, keeps the listed row of a host already reported fresh.
    ReportedHosts* reportedHosts;
};

// The completion functions of the requests, one per client (see
// ClientCompletions): each filters, then calls the user callback with the
// user context, and frees the answer's records afterwards with its client,
// whatever the status and whether or not the query still runs.
VOID WINAPI SystemClientCompletion(PVOID slot, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);
VOID WINAPI OwnClientCompletion(PVOID slot, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);

// Record callbacks. They borrow the record list (the completion frees it)
// and ignore an answer whose status is not 0.
// Context: the BrowseContext; queues one ServiceInstance per counted answer.
VOID WINAPI OnBrowseAnswer(PVOID context, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);
// Context: the ServiceInstance.
VOID WINAPI OnSrvAnswer(PVOID instance, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);
VOID WINAPI OnTxtAnswer(PVOID instance, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);

// Replaces the instance's TXT strings with those of this TXT record, cut to
// kTxtTextChars each and kMaxTxtUnits in all.
void SetTxtStrings(ResolvedService* service, const DNS_RECORD* txt);


