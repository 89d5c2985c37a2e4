// The fake DNS client and the stand-in main window of the mdns tests.
#include "mdns/fake_dns_client.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <thread>

#include "core/app_messages.h"
#include "core/globals.h"

namespace {
FakeDnsClient* g_fakes[2] = {};  // by role
}

const wchar_t kBrowseName[] = L"_lumarisnet._tcp.local";

FakeRecord Ptr(const std::wstring& target) { return {DNS_TYPE_PTR, kBrowseName, target, 0, {}}; }
FakeRecord A(const std::wstring& owner, uint32_t address) { return {DNS_TYPE_A, owner, L"", address, {}}; }
std::wstring InstanceName(const std::wstring& name) { return name + L"." + kBrowseName; }

FakeRecord Srv(const std::wstring& name, const std::wstring& host, WORD port)
{
    return {DNS_TYPE_SRV, InstanceName(name), host + L".local", port, {}};
}

FakeRecord Txt(const std::wstring& name, const std::vector<std::wstring>& strings)
{
    return {DNS_TYPE_TEXT, InstanceName(name), L"", 0, strings};
}

std::vector<FakeRecord> Announcement(const std::wstring& name, const std::wstring& host, uint32_t address)
{
    return {Ptr(InstanceName(name)), A(host + L".local", address)};
}

std::vector<FakeRecord> FullAnswer(const std::wstring& name, const std::wstring& host, uint32_t address,
                                   const std::vector<std::wstring>& txt)
{
    return {Ptr(InstanceName(name)), Srv(name, host, 80), Txt(name, txt), A(host + L".local", address)};
}

void FreeList(PDNS_RECORD records)
{
    if (records != nullptr) {
        g_platform.dnsFree(records, DnsFreeRecordList);
    }
}

void SetTxt(ResolvedService* service, const std::vector<std::wstring>& strings)
{
    std::vector<uint8_t> block(sizeof(DNS_RECORD) + strings.size() * sizeof(PWSTR));
    PDNS_RECORD record = reinterpret_cast<PDNS_RECORD>(block.data());
    record->wType = DNS_TYPE_TEXT;
    record->Data.TXT.dwStringCount = DWORD(strings.size());
    for (size_t i = 0; i < strings.size(); ++i) {
        record->Data.TXT.pStringArray[i] = const_cast<PWSTR>(strings[i].c_str());
    }
    SetTxtStrings(service, record);
}

std::vector<std::wstring> TxtStrings(const ResolvedService* service)
{
    std::vector<std::wstring> texts;
    uint32_t index = 0;
    for (const wchar_t* text = NextTxtString(service, nullptr, &index); text != nullptr;
         text = NextTxtString(service, text, &index)) {
        texts.push_back(text);
    }
    return texts;
}

uint32_t Ipv4(int a, int b, int c, int d)
{
    using Octet = unsigned char;
    const Octet octets[4] = {Octet(a), Octet(b), Octet(c), Octet(d)};
    uint32_t address;
    memcpy(&address, octets, sizeof(address));
    return address;
}

FakeDnsClient::FakeDnsClient(DnsClientKind role) : role_(role), saved_(g_platform)
{
    InitializeCriticalSection(&lock_);
    if (role == kOwnDnsClient) {
        g_fakes[kOwnDnsClient] = this;
        g_platform.ownDnsStartMulticastQuery = Start<kOwnDnsClient>;
        g_platform.ownDnsStopMulticastQuery = Stop<kOwnDnsClient>;
        g_platform.ownDnsFree = Free<kOwnDnsClient>;
    } else {
        g_fakes[kSystemDnsClient] = this;
        g_platform.dnsStartMulticastQuery = Start<kSystemDnsClient>;
        g_platform.dnsStopMulticastQuery = Stop<kSystemDnsClient>;
        g_platform.dnsFree = Free<kSystemDnsClient>;
        g_platform.ownDnsStartMulticastQuery = nullptr;
        g_platform.ownDnsStopMulticastQuery = nullptr;
        g_platform.ownDnsFree = nullptr;
    }
    ResetDnsClientChoice();
}

FakeDnsClient::~FakeDnsClient()
{
    g_platform = saved_;
    g_fakes[role_] = nullptr;
    ResetDnsClientChoice();
    for (const std::vector<void*>& blocks : lists_) {
        std::for_each(blocks.begin(), blocks.end(), free);
    }
    DeleteCriticalSection(&lock_);
}

PDNS_RECORD FakeDnsClient::MakeList(const std::vector<FakeRecord>& records)
{
    EnterCriticalSection(&lock_);
    auto keep = [this](const std::wstring& text) {
        strings_.push_back(text);
        return const_cast<PWSTR>(strings_.back().c_str());
    };
    std::vector<void*> blocks;
    for (const FakeRecord& fake : records) {
        size_t extra = fake.strings.empty() ? 0 : (fake.strings.size() - 1) * sizeof(PWSTR);
        PDNS_RECORD record = static_cast<PDNS_RECORD>(calloc(1, sizeof(DNS_RECORD) + extra));
        record->pName = keep(fake.owner);
        record->wType = fake.type;
        record->Flags.S.Section = fake.section;
        if (fake.type == DNS_TYPE_PTR) {
            record->Data.PTR.pNameHost = keep(fake.text);
        } else if (fake.type == DNS_TYPE_A) {
            record->Data.A.IpAddress = fake.value;
        } else if (fake.type == DNS_TYPE_SRV) {
            record->Data.SRV.wPort = WORD(fake.value);
            record->Data.SRV.pNameTarget = keep(fake.text);
        } else if (fake.type == DNS_TYPE_TEXT) {
            record->Data.TXT.dwStringCount = DWORD(fake.strings.size());
            for (size_t i = 0; i < fake.strings.size(); ++i) {
                record->Data.TXT.pStringArray[i] = keep(fake.strings[i]);
            }
        }
        if (!blocks.empty()) {
            static_cast<PDNS_RECORD>(blocks.back())->pNext = record;
        }
        blocks.push_back(record);
    }
    if (!blocks.empty()) {
        lists_.push_back(blocks);
    }
    LeaveCriticalSection(&lock_);
    return blocks.empty() ? nullptr : static_cast<PDNS_RECORD>(blocks.front());
}

bool FakeDnsClient::Deliver(const std::wstring& name, WORD type, const std::vector<FakeRecord>& records,
                            DNS_STATUS status)
{
    return DeliverTo(true, name, type, records, status);
}

bool FakeDnsClient::DeliverLate(const std::wstring& name, WORD type, const std::vector<FakeRecord>& records,
                                DNS_STATUS status)
{
    return stopCallbacks == StopCallbacks::kLate && DeliverTo(false, name, type, records, status);
}

bool FakeDnsClient::DeliverTo(bool running, const std::wstring& name, WORD type,
                              const std::vector<FakeRecord>& records, DNS_STATUS status)
{
    EnterCriticalSection(&lock_);
    auto found = std::find_if(queries_.rbegin(), queries_.rend(), [&](const FakeQuery& query) {
        return query.running == running && query.name == name && query.type == type;
    });
    if (found == queries_.rend()) {
        LeaveCriticalSection(&lock_);
        return false;
    }
    const FakeQuery query = *found;  // the table may grow while the lock is not held
    PDNS_RECORD list = MakeList(records);
    bool locked = lockWhileDelivering;
    if (!locked) {
        LeaveCriticalSection(&lock_);
    }
    Call(query, list, status);
    if (locked) {
        LeaveCriticalSection(&lock_);
    }
    return true;
}

void FakeDnsClient::Call(const FakeQuery& query, PDNS_RECORD records, DNS_STATUS status)
{
    DNS_QUERY_RESULT result = {};
    result.QueryStatus = status;
    result.pQueryRecords = records;
    query.callback(query.context, query.handle, &result);
}

std::vector<FakeQuery> FakeDnsClient::Queries()
{
    EnterCriticalSection(&lock_);
    std::vector<FakeQuery> copy = queries_;
    LeaveCriticalSection(&lock_);
    return copy;
}

int FakeDnsClient::Starts(const std::wstring& name, WORD type)
{
    std::vector<FakeQuery> all = Queries();
    return int(std::count_if(all.begin(), all.end(),
                             [&](const FakeQuery& q) { return q.name == name && q.type == type; }));
}

int FakeDnsClient::Running()
{
    std::vector<FakeQuery> all = Queries();
    return int(std::count_if(all.begin(), all.end(), [](const FakeQuery& q) { return q.running; }));
}

bool FakeDnsClient::WaitForStarts(const std::wstring& name, WORD type, int count, DWORD timeoutMs)
{
    for (DWORD begin = GetTickCount(); Starts(name, type) < count; Sleep(10)) {
        if (GetTickCount() - begin > timeoutMs) {
            return false;
        }
    }
    return true;
}

int FakeDnsClient::ListsNotFreed()
{
    EnterCriticalSection(&lock_);
    int count = int(lists_.size());
    LeaveCriticalSection(&lock_);
    return count;
}

template <DnsClientKind Role>
DNS_STATUS WINAPI FakeDnsClient::Start(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle)
{
    return g_fakes[Role]->StartQuery(request, handle);
}

template <DnsClientKind Role>
DNS_STATUS WINAPI FakeDnsClient::Stop(PMDNS_QUERY_HANDLE handle)
{
    return g_fakes[Role]->StopQuery(handle);
}

template <DnsClientKind Role>
VOID WINAPI FakeDnsClient::Free(PVOID data, DNS_FREE_TYPE type)
{
    g_fakes[Role]->FreeRecords(data, type);
}

DNS_STATUS FakeDnsClient::StartQuery(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle)
{
    InterlockedIncrement(&startAttempts);
    if (request->InterfaceIndex == 0xFFFFFFFFu || startStatus != 0) {
        return request->InterfaceIndex == 0xFFFFFFFFu ? ERROR_INVALID_PARAMETER : startStatus;
    }
    EnterCriticalSection(&lock_);
    queries_.push_back({request->Query, request->QueryType, request->InterfaceIndex, true, request->pQueryCallback,
                        request->pQueryContext, handle});
    LeaveCriticalSection(&lock_);
    return 0;
}

DNS_STATUS FakeDnsClient::StopQuery(PMDNS_QUERY_HANDLE handle)
{
    EnterCriticalSection(&lock_);
    auto found = std::find_if(queries_.begin(), queries_.end(),
                              [&](const FakeQuery& query) { return query.handle == handle && query.running; });
    if (found == queries_.end()) {
        LeaveCriticalSection(&lock_);
        return ERROR_INVALID_PARAMETER;
    }
    found->running = false;
    const FakeQuery stopped = *found;
    LeaveCriticalSection(&lock_);
    if (stopCallbacks == StopCallbacks::kOnStoppingThread) {
        Call(stopped, MakeList({A(stopped.name, 1)}), stopAnswerStatus);
    } else if (stopCallbacks == StopCallbacks::kOnOtherThread) {
        std::thread other([&] { Call(stopped, MakeList({A(stopped.name, 1)}), stopAnswerStatus); });
        other.join();
    }
    return 0;
}

void FakeDnsClient::FreeRecords(PVOID data, DNS_FREE_TYPE type)
{
    EnterCriticalSection(&lock_);
    auto found = std::find_if(lists_.begin(), lists_.end(),
                              [&](const std::vector<void*>& blocks) { return blocks.front() == data; });
    if (found == lists_.end() || type != DnsFreeRecordList) {
        ++badFrees;
    } else {
        std::for_each(found->begin(), found->end(), free);
        lists_.erase(found);
    }
    LeaveCriticalSection(&lock_);
}

PostedRecords::PostedRecords() : saved_(g_mainWindow)
{
    window_ = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    g_mainWindow = window_;
}

PostedRecords::~PostedRecords()
{
    Collect();
    g_mainWindow = saved_;
    DestroyWindow(window_);
}

std::vector<DeviceRecord> PostedRecords::Collect()
{
    std::vector<DeviceRecord> records;
    MSG message;
    while (PeekMessageW(&message, window_, WM_APP_DEVICE, WM_APP_DEVICE, PM_REMOVE)) {
        records.push_back(*reinterpret_cast<DeviceRecord*>(message.lParam));
        FreeDeviceRecord(reinterpret_cast<DeviceRecord*>(message.lParam));
    }
    return records;
}
