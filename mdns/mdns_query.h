// One multicast DNS query in flight over the platform's DNS client
// (g_platform.dnsStartMulticastQuery and friends), the browse query that
// reports each host only once, the records that a browse fills from the
// answers, and the three completion functions that fill them.
//
// Completions run on a thread of the DNS client, concurrently with the
// thread that owns the query objects.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "mdns/host_name.h"

enum : int {
    kTxtTextChars = 256,  // one TXT string
};

// An owner name that an mDNSPTRQuery has let through.
struct SeenName {
    wchar_t name[kDnsNameChars];
    SeenName* next;
};

// One TXT string, a key such as "model=" followed by its value.
struct TxtEntry {
    wchar_t text[kTxtTextChars];
    TxtEntry* next;
};

// What is known of one service instance; handed to the found-callback.
struct ResolvedService {
    wchar_t hostName[kDnsNameChars];      // A record owner, cut at its last "."
    wchar_t instanceName[kDnsNameChars];  // PTR target
    uint32_t address;                     // IPv4, network byte order
    uint16_t port;                        // from SRV; used by nothing downstream
    TxtEntry* txtEntries;                 // in answer order
};

// One instance found by the browse, waiting for its SRV and TXT answers.
// Allocated zero-filled (calloc); freed with FreeServiceInstance.
struct ServiceInstance {
    // Written by the DNS client's thread, read by the browse as flags only.
    volatile LONG srvAnswered;
    volatile LONG txtAnswered;
    ResolvedService service;
    ServiceInstance* next;
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
    // or callback, or the DNS client's status.
    virtual DWORD Start(const wchar_t* name, WORD type, PMDNS_QUERY_CALLBACK callback,
                        void* context, uint32_t interfaceIndex);
    // The DNS client's status, or ERROR_INVALID_HANDLE when nothing runs.
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
};

// The browse query: delivers an answer only when it names a host (the owner
// of an A record) that this object has never let through. The names outlive
// stops and restarts; only the destructor frees them.
class mDNSPTRQuery : public mDNSQuery {
public:
    mDNSPTRQuery();
    ~mDNSPTRQuery() override;
    int32_t FilterResults(void* context, PMDNS_QUERY_HANDLE handle,
                          PDNS_QUERY_RESULT result) override;

    SeenName* seenNames;  // newest first
    // When set (auto-refresh), every A record of every answer, repeat or
    // not, keeps the listed row of a host already reported fresh.
    ReportedHosts* reportedHosts;
};

// The completion function of every request: filters, then calls the user
// callback with the user context. The request's context is the query object.
VOID WINAPI QueryCompletion(PVOID query, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);

// Record callbacks. Each frees the record list on every path that follows a
// successful status and frees nothing when the status is not 0.
// Context: the BrowseContext; queues one ServiceInstance per counted answer.
VOID WINAPI OnBrowseAnswer(PVOID context, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);
// Context: the ServiceInstance.
VOID WINAPI OnSrvAnswer(PVOID instance, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);
VOID WINAPI OnTxtAnswer(PVOID instance, PMDNS_QUERY_HANDLE handle, PDNS_QUERY_RESULT result);

// Frees the instance and its TXT entries; null is allowed.
void FreeServiceInstance(ServiceInstance* instance);

// Hands a record list back to the DNS client that made it; null is allowed.
void FreeAnswerRecords(PDNS_RECORD records);
