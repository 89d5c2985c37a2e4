// The query objects' contract, the browse query's filter of repeated hosts,
// and what the record callbacks take from answers.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "mdns/browse.h"
#include "mdns/fake_dns_client.h"

namespace {

VOID WINAPI CountAnswer(PVOID count, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    ++*static_cast<int*>(count);
    if (result->QueryStatus == 0) {
        FreeAnswerRecords(result->pQueryRecords);
    }
}

DNS_QUERY_RESULT Result(PDNS_RECORD records, DNS_STATUS status = 0)
{
    DNS_QUERY_RESULT result = {};
    result.QueryStatus = status;
    result.pQueryRecords = records;
    return result;
}

TEST(MdnsQuery, StatusCodesAndTicks)
{
    FakeDnsClient fake;
    int answers = 0;
    mDNSQuery query;
    EXPECT_EQ(query.Stop(), 6u);
    EXPECT_EQ(query.Start(nullptr, DNS_TYPE_TEXT, CountAnswer, &answers, 3), 87u);
    EXPECT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, nullptr, &answers, 3), 87u);
    fake.startStatus = 1460;
    EXPECT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 3), 1460u);
    EXPECT_EQ(query.IsActive(), 0);
    EXPECT_TRUE(fake.Queries().empty());

    fake.startStatus = 0;
    ASSERT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 3), 0u);
    EXPECT_EQ(query.Start(L"b.local", DNS_TYPE_TEXT, CountAnswer, &answers, 3), 170u);
    ASSERT_EQ(fake.Running(), 1);
    FakeQuery started = fake.Queries()[0];
    EXPECT_EQ(started.name, L"a.local");
    EXPECT_EQ(started.interfaceIndex, 3u);
    EXPECT_EQ(started.request->pQueryContext, &query);
    EXPECT_EQ(query.startTick, query.lastAnswerTick.load());
    EXPECT_LT(query.TimeSinceStart(), 1000u);

    Sleep(1000);
    // A failed answer reaches the callback but is no answer for the clock.
    ASSERT_TRUE(fake.Deliver(L"a.local", DNS_TYPE_TEXT, {}, DNS_ERROR_RCODE_NAME_ERROR));
    EXPECT_GE(query.TimeSinceLastAnswer(), 950u);
    ASSERT_TRUE(fake.Deliver(L"a.local", DNS_TYPE_TEXT, {Txt({L"k=v"})}));
    EXPECT_EQ(answers, 2);
    EXPECT_LT(query.TimeSinceLastAnswer(), 500u);
    EXPECT_GE(query.TimeSinceStart(), 950u);

    EXPECT_EQ(query.Stop(), 0u);
    EXPECT_EQ(fake.Running(), 0);
    EXPECT_EQ(query.Stop(), 6u);
    EXPECT_EQ(fake.ListsNotFreed(), 0);
}

TEST(MdnsQuery, BrowseFilterLetsEachHostThroughOnce)
{
    FakeDnsClient fake;
    const std::wstring longName = std::wstring(300, L'h') + L".local";
    const std::wstring longCut = longName.substr(0, kDnsNameChars - 1);
    struct Step {
        std::vector<FakeRecord> records;
        int32_t dropped;
        std::wstring newestSeen;
    };
    const Step steps[] = {
        {{Ptr(InstanceName(L"x"))}, 1, L""},  // no A record
        {Announcement(L"x", L"device", 1), 0, L"device.local"},
        {Announcement(L"x", L"device", 1), 1, L"device.local"},
        {{A(L"Device.local", 2)}, 0, L"Device.local"},
        // Only the first new name is remembered; the second passes later.
        {{A(L"one.local", 1), A(L"two.local", 2)}, 0, L"one.local"},
        {{A(L"one.local", 1), A(L"two.local", 2)}, 0, L"two.local"},
        {{A(longName, 3)}, 0, longCut},
        {{A(longName, 3)}, 1, longCut},  // recognised although cut
    };
    mDNSPTRQuery query;
    for (const Step& step : steps) {
        DNS_QUERY_RESULT result = Result(fake.MakeList(step.records));
        EXPECT_EQ(query.FilterResults(nullptr, nullptr, &result), step.dropped);
        EXPECT_EQ(query.seenNames ? std::wstring(query.seenNames->name) : L"", step.newestSeen);
        FreeAnswerRecords(result.pQueryRecords);
    }

    // Through the completion: a dropped repeat is freed there and neither
    // reaches the callback nor counts as an answer.
    int answers = 0;
    ASSERT_EQ(query.Start(kBrowseName, DNS_TYPE_PTR, CountAnswer, &answers, 3), 0u);
    query.lastAnswerTick = query.startTick - 5000;
    ASSERT_TRUE(fake.Deliver(kBrowseName, DNS_TYPE_PTR, {A(L"device.local", 1)}));
    EXPECT_EQ(answers, 0);
    EXPECT_GE(query.TimeSinceLastAnswer(), 5000u);
    query.Stop();
    EXPECT_EQ(fake.ListsNotFreed(), 0);
}

TEST(MdnsQuery, BrowseAnswerCountsWhenItsFirstRecordIsOurs)
{
    FakeDnsClient fake;
    const FakeRecord ptr = Ptr(InstanceName(L"Speaker"));
    struct Case {
        std::vector<FakeRecord> records;
        const wchar_t* host;  // null: nothing queued
        uint32_t address;
    };
    const Case cases[] = {
        {{ptr, A(L"speaker1.local", 1)}, L"speaker1", 1},
        {{A(L"speaker1.sub.local", 1), ptr}, L"speaker1.sub", 1},
        {{Srv(80), ptr, A(L"a.local", 1)}, nullptr, 0},
        {{A(L"device.localnet.local", 1), ptr, A(L"a.local", 1)}, nullptr, 0},
        {{ptr, Txt({}), A(L"x.localnet.local", 2), A(L"a.local", 1)}, L"a", 1},  // later ones skipped
        {{ptr, A(L"a.local", 1), A(L"b.local", 2)}, L"b", 2},                    // a later A overwrites
        {{}, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host ? c.host : L"not queued");
        BrowseContext context = {};
        context.lock = CreateMutexW(nullptr, FALSE, nullptr);
        wcscpy(context.domain, L".local");
        DNS_QUERY_RESULT result = Result(fake.MakeList(c.records));
        OnBrowseAnswer(&context, nullptr, &result);
        EXPECT_EQ(fake.ListsNotFreed(), 0);
        ASSERT_EQ(context.pending != nullptr, c.host != nullptr);
        if (c.host != nullptr) {
            EXPECT_STREQ(context.pending->service.hostName, c.host);
            EXPECT_EQ(context.pending->service.address, c.address);
            EXPECT_EQ(context.pending->service.instanceName, InstanceName(L"Speaker"));
            FreeServiceInstance(context.pending);
        }
        CloseHandle(context.lock);
    }
}

TEST(MdnsQuery, SrvPortAndTxtStringsInAnswerOrder)
{
    FakeDnsClient fake;
    ServiceInstance* instance = static_cast<ServiceInstance*>(calloc(1, sizeof(ServiceInstance)));
    const std::wstring longText(300, L'm');
    DNS_QUERY_RESULT failed = Result(fake.MakeList({Txt({L"a=1"})}), DNS_ERROR_RCODE_SERVER_FAILURE);
    OnTxtAnswer(instance, nullptr, &failed);
    EXPECT_EQ(instance->txtAnswered, 0);
    EXPECT_EQ(fake.ListsNotFreed(), 1);  // a failed result is not the callback's to free
    FreeAnswerRecords(failed.pQueryRecords);

    DNS_QUERY_RESULT first = Result(fake.MakeList({Txt({L"vendor=Orvel", longText})}));
    OnTxtAnswer(instance, nullptr, &first);
    DNS_QUERY_RESULT second = Result(fake.MakeList({Srv(1), Txt({L"fw=1"}), Txt({L"no"})}));
    OnTxtAnswer(instance, nullptr, &second);
    DNS_QUERY_RESULT srv = Result(fake.MakeList({Txt({}), Srv(8080), Srv(9)}));
    OnSrvAnswer(instance, nullptr, &srv);

    std::vector<std::wstring> texts;
    for (const TxtEntry* entry = instance->service.txtEntries; entry; entry = entry->next) {
        texts.push_back(entry->text);
    }
    const std::vector<std::wstring> expected = {L"vendor=Orvel", longText.substr(0, kTxtTextChars - 1), L"fw=1"};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(instance->txtAnswered, 1);
    EXPECT_EQ(instance->srvAnswered, 1);
    EXPECT_EQ(instance->service.port, 8080);
    FreeServiceInstance(instance);
    EXPECT_EQ(fake.ListsNotFreed(), 0);
}

}  // namespace
