// The fake DNS client and the stand-in main window of the mdns tests.
#include "mdns/fake_dns_client.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "core/app_messages.h"
#include "core/globals.h"

namespace {
FakeDnsClient* g_fake = nullptr;
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

FakeDnsClient::FakeDnsClient() : saved_(g_platform)
{
    InitializeCriticalSection(&lock_);
    g_fake = this;
    g_platform.dnsStartMulticastQuery = Start;
    g_platform.dnsStopMulticastQuery = Stop;
    g_platform.dnsFree = Free;
    // The fake is the system client; a test that wants the own client sets it.
    g_platform.ownDnsStartMulticastQuery = nullptr;
    g_platform.ownDnsStopMulticastQuery = nullptr;
    g_platform.ownDnsFree = nullptr;
    ResetDnsClientChoice();
}

FakeDnsClient::~FakeDnsClient()
{
    g_platform = saved_;
    g_fake = nullptr;
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
    EnterCriticalSection(&lock_);
    for (const FakeQuery& query : queries_) {
        if (query.running && query.name == name && query.type == type) {
            DNS_QUERY_RESULT result = {};
            result.QueryStatus = status;
            result.pQueryRecords = MakeList(records);
            query.request->pQueryCallback(query.request->pQueryContext, query.handle, &result);
            LeaveCriticalSection(&lock_);
            return true;
        }
    }
    LeaveCriticalSection(&lock_);
    return false;
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

DNS_STATUS WINAPI FakeDnsClient::Start(PMDNS_QUERY_REQUEST request, PMDNS_QUERY_HANDLE handle)
{
    InterlockedIncrement(&g_fake->startAttempts);
    if (request->InterfaceIndex == 0xFFFFFFFFu || g_fake->startStatus != 0) {
        return request->InterfaceIndex == 0xFFFFFFFFu ? ERROR_INVALID_PARAMETER : g_fake->startStatus;
    }
    EnterCriticalSection(&g_fake->lock_);
    g_fake->queries_.push_back({request->Query, request->QueryType, request->InterfaceIndex, true, request, handle});
    LeaveCriticalSection(&g_fake->lock_);
    return 0;
}

DNS_STATUS WINAPI FakeDnsClient::Stop(PMDNS_QUERY_HANDLE handle)
{
    EnterCriticalSection(&g_fake->lock_);
    DNS_STATUS status = ERROR_INVALID_PARAMETER;
    for (FakeQuery& query : g_fake->queries_) {
        if (query.handle == handle && query.running) {
            query.running = false;
            status = 0;
        }
    }
    LeaveCriticalSection(&g_fake->lock_);
    return status;
}

VOID WINAPI FakeDnsClient::Free(PVOID data, DNS_FREE_TYPE type)
{
    EnterCriticalSection(&g_fake->lock_);
    auto& lists = g_fake->lists_;
    auto found = std::find_if(lists.begin(), lists.end(),
                              [&](const std::vector<void*>& blocks) { return blocks.front() == data; });
    if (found == lists.end() || type != DnsFreeRecordList) {
        ++g_fake->badFrees;
    } else {
        std::for_each(found->begin(), found->end(), free);
        lists.erase(found);
    }
    LeaveCriticalSection(&g_fake->lock_);
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
