// A fake multicast DNS client in g_platform (the system's or our own): it
// records the queries started and stopped, lets a test deliver crafted
// answers through a query's completion (from any thread, also after its
// stop), calls back around a stop in each way the system client might, and
// counts the record lists not yet freed and the frees of lists it never
// made. Also a stand-in main window that catches posted device records.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <windns.h>
#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

#include "core/device_record.h"
#include "core/platform.h"
#include "browse/query.h"

struct FakeRecord {
    WORD type;
    std::wstring owner;
    std::wstring text;  // PTR target
    uint32_t value;     // A address (network order) or SRV port
    std::vector<std::wstring> strings;  // TXT
    unsigned section = 0;  // DNSREC_ANSWER, DNSREC_ADDITIONAL...; 0 as the fake's default
};

// What the request held at the start: a real client copies it too.
struct FakeQuery {
    std::wstring name;
    WORD type;
    ULONG interfaceIndex;
    bool running;
    PMDNS_QUERY_CALLBACK callback;
    PVOID context;
    PMDNS_QUERY_HANDLE handle;
};

// What the fake does about callbacks when a query stops. The system client
// promises nothing there, so each is a behaviour to survive.
enum class StopCallbacks {
    kNone,
    kOnStoppingThread,  // one answer from inside the stop, on the stopping thread
    kOnOtherThread,     // one answer from another thread, which the stop waits for
    kLate,              // none inside the stop; DeliverLate sends them afterwards
};

class FakeDnsClient {
public:
    // Installs itself as that client; the destructor restores g_platform. As
    // the system client it also removes our own (a test that wants it sets
    // it, or installs a second fake in that role).
    explicit FakeDnsClient(DnsClientKind role = kSystemDnsClient);
    ~FakeDnsClient();

    DNS_STATUS startStatus = 0;  // interface 0xFFFFFFFF always fails
    LONG startAttempts = 0;
    int badFrees = 0;
    StopCallbacks stopCallbacks = StopCallbacks::kNone;
    DNS_STATUS stopAnswerStatus = 0;  // ERROR_CANCELLED: a final callback
    // While set, the lock is held throughout a delivery, so a Stop waits for
    // the completion; cleared, a Stop can run while a callback does, as the
    // system client allows.
    bool lockWhileDelivering = true;

    // Completes the running query of that name and type; false when none runs.
    bool Deliver(const std::wstring& name, WORD type, const std::vector<FakeRecord>& records,
                 DNS_STATUS status = 0);
    // The same for the query of that name and type stopped last: a callback
    // that comes after the stop returned. False when none has stopped or
    // the fake does not call back late (stopCallbacks).
    bool DeliverLate(const std::wstring& name, WORD type, const std::vector<FakeRecord>& records,
                     DNS_STATUS status = 0);
    PDNS_RECORD MakeList(const std::vector<FakeRecord>& records);
    std::vector<FakeQuery> Queries();
    int Starts(const std::wstring& name, WORD type);
    int Running();
    bool WaitForStarts(const std::wstring& name, WORD type, int count, DWORD timeoutMs);
    int ListsNotFreed();

private:
    // The entry points of the fake in each role.
    template <DnsClientKind Role>
    static DNS_STATUS WINAPI Start(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle);
    template <DnsClientKind Role>
    static DNS_STATUS WINAPI Stop(PMDNS_QUERY_HANDLE handle);
    template <DnsClientKind Role>
    static VOID WINAPI Free(PVOID data, DNS_FREE_TYPE type);
    DNS_STATUS StartQuery(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle);
    DNS_STATUS StopQuery(PMDNS_QUERY_HANDLE handle);
    void FreeRecords(PVOID data, DNS_FREE_TYPE type);
    bool DeliverTo(bool running, const std::wstring& name, WORD type, const std::vector<FakeRecord>& records,
                   DNS_STATUS status);
    static void Call(const FakeQuery& query, PDNS_RECORD records, DNS_STATUS status);

    DnsClientKind role_;

    CRITICAL_SECTION lock_;
    std::vector<FakeQuery> queries_;
    std::vector<std::vector<void*>> lists_;  // the blocks of each list, head first
    std::deque<std::wstring> strings_;       // live as long as the fake
    PlatformServices saved_;
};

// Catches what product code posts to g_mainWindow (a message-only window).
class PostedRecords {
public:
    PostedRecords();
    ~PostedRecords();
    std::vector<DeviceRecord> Collect();  // in posting order; frees the originals

private:
    HWND window_;
    HWND saved_;
};

extern const wchar_t kBrowseName[];
FakeRecord Ptr(const std::wstring& target);  // owned by kBrowseName
FakeRecord A(const std::wstring& owner, uint32_t address);
// SRV and TXT of name's instance; the SRV names host.local as its target.
FakeRecord Srv(const std::wstring& name, const std::wstring& host, WORD port);
FakeRecord Txt(const std::wstring& name, const std::vector<std::wstring>& strings);
std::wstring InstanceName(const std::wstring& name);
// PTR to name's instance, then A host.local.
std::vector<FakeRecord> Announcement(const std::wstring& name, const std::wstring& host, uint32_t address);
// PTR, SRV, TXT and A: an instance described in full, as ordinary
// responders answer a browse.
std::vector<FakeRecord> FullAnswer(const std::wstring& name, const std::wstring& host, uint32_t address,
                                   const std::vector<std::wstring>& txt);
// Frees a list the fake made, as the query objects free answers.
void FreeList(PDNS_RECORD records);
// Gives a service these TXT strings, as a TXT answer would.
void SetTxt(ResolvedService* service, const std::vector<std::wstring>& strings);
std::vector<std::wstring> TxtStrings(const ResolvedService* service);
uint32_t Ipv4(int a, int b, int c, int d);
