// A fake multicast DNS client in g_platform: it records the queries started
// and stopped, lets a test deliver crafted answers through a running query's
// completion (from any thread), and counts the record lists not yet freed
// and the frees of lists it never made. Also a stand-in main window that
// catches posted device records.
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
#include "mdns/mdns_query.h"

struct FakeRecord {
    WORD type;
    std::wstring owner;
    std::wstring text;  // PTR target
    uint32_t value;     // A address (network order) or SRV port
    std::vector<std::wstring> strings;  // TXT
};

struct FakeQuery {
    std::wstring name;
    WORD type;
    ULONG interfaceIndex;
    bool running;
    PMDNS_QUERY_REQUEST request;
    PMDNS_QUERY_HANDLE handle;
};

class FakeDnsClient {
public:
    FakeDnsClient();  // installs; the destructor restores g_platform
    ~FakeDnsClient();

    DNS_STATUS startStatus = 0;  // interface 0xFFFFFFFF always fails
    LONG startAttempts = 0;
    int badFrees = 0;

    // Completes the running query of that name and type; false when none runs.
    // The lock is held throughout, so a Stop waits for the completion.
    bool Deliver(const std::wstring& name, WORD type, const std::vector<FakeRecord>& records,
                 DNS_STATUS status = 0);
    PDNS_RECORD MakeList(const std::vector<FakeRecord>& records);
    std::vector<FakeQuery> Queries();
    int Starts(const std::wstring& name, WORD type);
    int Running();
    bool WaitForStarts(const std::wstring& name, WORD type, int count, DWORD timeoutMs);
    int ListsNotFreed();

private:
    static DNS_STATUS WINAPI Start(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle);
    static DNS_STATUS WINAPI Stop(PMDNS_QUERY_HANDLE handle);
    static VOID WINAPI Free(PVOID data, DNS_FREE_TYPE type);

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
